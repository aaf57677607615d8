// The menus in the usual order with mnemonics everywhere and shortcuts that never clash; the
// picture pane's layers and field choice kept between runs; a slice chosen in the Slices list
// outlined on the picture; the export dialogs proposing a name made from the stream's.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QToolButton>

#include "MainWindowTestSupport.h"
#include "overview/gui/OverviewDock.h"
#include "overview/gui/OverviewPane.h"
#include "picture/gui/PicturePane.h"
#include "picture/gui/PictureView.h"

using namespace varlow;
using namespace varlow::test;

namespace {

// Every action of a menu and its submenus, separators left out.
void CollectActions(const QMenu* menu, QList<QAction*>& out) {
  for (QAction* action : menu->actions()) {
    if (action->isSeparator()) continue;
    out << action;
    if (action->menu() != nullptr) CollectActions(action->menu(), out);
  }
}

}  // namespace

class MainWindowMenusTest : public QObject {
  Q_OBJECT

  QTemporaryDir FSettingsDir;
  QTemporaryDir FFiles;

 private slots:
  void initTestCase() { UsePrivateSettings(FSettingsDir); }

  void menusInOrderWithMnemonicsAndDistinctShortcuts() {
    auto form = ShowForm();
    QVERIFY(form);
    // A container fills File > Video Stream, so its items are looked at too.
    form->OpenFile(FileOf(OwnStream("p420_plain.ts")));
    QVERIFY(form->VideoStream1->isEnabled());
    QStringList titles;
    for (const QAction* menu : form->menuBar()->actions()) titles << menu->text();
    QCOMPARE(titles, QStringList({"&File", "&View", "&Tools", "&Help"}));

    QList<QAction*> actions;
    for (const QAction* menu : form->menuBar()->actions()) CollectActions(menu->menu(), actions);
    QMap<QString, QString> byShortcut;
    for (const QAction* action : actions) {
      QVERIFY2(action->text().contains(QLatin1Char('&')), qPrintable(action->text()));
      if (action->shortcut().isEmpty()) continue;
      const QString key = action->shortcut().toString();
      QVERIFY2(!byShortcut.contains(key), qPrintable(key + " " + byShortcut.value(key) + " " + action->objectName()));
      byShortcut.insert(key, action->objectName());
    }
    QCOMPARE(byShortcut.value(QStringLiteral("Ctrl+T")), QStringLiteral("Transrater1"));
    QCOMPARE(byShortcut.value(QStringLiteral("Ctrl+E")), QStringLiteral("HexEdit1"));
    QCOMPARE(byShortcut.value(QStringLiteral("Ctrl+G")), QStringLiteral("GoTo1"));
    QCOMPARE(byShortcut.value(QStringLiteral("Ctrl+Shift+O")), QStringLiteral("ViewOverview1"));
    // The views' Copy (Ctrl+C) and the dump's Select All (Ctrl+A) are no menu's shortcuts.
    QVERIFY(!byShortcut.contains(QKeySequence(QKeySequence::Copy).toString()));
    QVERIFY(!byShortcut.contains(QKeySequence(QKeySequence::SelectAll).toString()));
  }

  void pictureLayersAndFieldKeptBetweenRuns() {
    {
      auto form = ShowForm();
      QVERIFY(form);
      TPicturePane* pane = form->PicturePane();
      // At first: no layers, the frame.
      QVERIFY(!pane->Layers().Any());
      QCOMPARE(pane->FieldView(), TFieldView::Frame);
      pane->findChild<QCheckBox*>(QStringLiteral("cbPictureQuant"))->setChecked(true);
      pane->findChild<QCheckBox*>(QStringLiteral("cbPictureSlices"))->setChecked(true);
      pane->findChild<QComboBox*>(QStringLiteral("cbPictureField"))->setCurrentIndex(2);
      QVERIFY(form->close());
    }
    {
      auto form = ShowForm();
      QVERIFY(form);
      const TOverlayLayers layers = form->PicturePane()->Layers();
      QVERIFY(!layers.Types && layers.Quant && !layers.Vectors && layers.Slices);
      QCOMPARE(form->PicturePane()->FieldView(), TFieldView::Bottom);
      form->PicturePane()->SetLayers({});
      form->PicturePane()->SetFieldView(TFieldView::Top);
      QVERIFY(form->close());
    }
    auto form = ShowForm();
    QVERIFY(form);
    QVERIFY(!form->PicturePane()->Layers().Any());
    QCOMPARE(form->PicturePane()->FieldView(), TFieldView::Top);
    // A kept value that makes no sense is skipped.
    form->close();
    {
      QSettings layout(QStringLiteral("Tarnwick"), QStringLiteral("Varlow Layout"));
      layout.setValue(QStringLiteral("PictureLayers"), QStringLiteral("types,bogus"));
      layout.setValue(QStringLiteral("PictureField"), 7);
    }
    auto again = ShowForm();
    QVERIFY(again);
    QVERIFY(!again->PicturePane()->Layers().Any());
    QCOMPARE(again->PicturePane()->FieldView(), TFieldView::Frame);
  }

  void sliceChosenInTheListIsOutlined() {
    auto form = ShowForm();
    QVERIFY(form);
    TPicturePane* pane = form->PicturePane();
    pane->show();
    form->OpenFile(FileOf(SampleStream()));
    QTest::mouseClick(form->ListView1->viewport(), Qt::LeftButton, {},
                      form->ListView1->visualRect(form->ListView1->model()->index(2, 1)).center());
    const std::int64_t offset = RowOffset(*form, 2);
    QVERIFY(QTest::qWaitFor([&] { return pane->ShownOffset() == offset && pane->MapReady(); }, 20000));
    QVERIFY(form->lbSlices->count() > 3);
    QCOMPARE(pane->View()->Highlight().SliceIndex, -1);
    // A click on the fourth slice: the slice, not one macroblock, is outlined.
    QTest::mouseClick(form->lbSlices->viewport(), Qt::LeftButton, {},
                      form->lbSlices->visualItemRect(form->lbSlices->item(3)).center());
    QTRY_COMPARE(pane->View()->Highlight().SliceIndex, 3);
    QCOMPARE(pane->View()->Highlight().Address, -1);
    // The keyboard moves it on.
    form->lbSlices->setFocus();
    QTest::keyClick(form->lbSlices, Qt::Key_Down);
    QTRY_COMPARE(pane->View()->Highlight().SliceIndex, 4);
    // Another pack clears it.
    form->ListView1->SelectRow(0);
    QTest::mouseClick(form->ListView1->viewport(), Qt::LeftButton, {},
                      form->ListView1->visualRect(form->ListView1->model()->index(0, 1)).center());
    QTRY_COMPARE(pane->View()->Highlight().SliceIndex, -1);
  }

  void exportDialogsProposeANameFromTheStream() {
    const QString stream = FFiles.filePath(QStringLiteral("clip.m2v"));
    QFile::remove(stream);
    QVERIFY(QFile::copy(FileOf(SampleStream()), stream));
    auto form = ShowForm();
    QVERIFY(form);
    form->OverviewDock()->show();
    form->OpenFile(stream);
    TOverviewPane* pane = OverviewPaneOf(form->OverviewDock());
    QTRY_COMPARE(pane->FileName(), stream);
    QToolButton* exportButton = nullptr;
    for (QToolButton* button : pane->findChildren<QToolButton*>())
      if (button->menu() != nullptr) exportButton = button;
    QVERIFY(exportButton);
    const QStringList expected = {FFiles.filePath(QStringLiteral("clip-overview.png")),
                                  FFiles.filePath(QStringLiteral("clip-overview.svg")),
                                  FFiles.filePath(QStringLiteral("clip-statistics.json"))};
    const QList<QAction*> items = exportButton->menu()->actions();
    QCOMPARE(items.size(), expected.size());
    for (int i = 0; i < items.size(); ++i) {
      // The dialog as it opens: its proposed file, then Cancel.
      QString proposed;
      QTimer::singleShot(0, [&] {
        QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()) != nullptr);
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        proposed = dialog->selectedFiles().value(0);
        dialog->reject();
      });
      items[i]->trigger();
      QCOMPARE(proposed, expected[i]);
    }
  }
};

QTEST_MAIN(MainWindowMenusTest)
#include "main_window_menus_test.moc"
