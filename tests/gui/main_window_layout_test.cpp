// The window's layout at any width: no control covers another, and the default layout gives
// the trees the room the list does not use.
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QSplitter>

#include "MainWindowTestSupport.h"
#include "browser/gui/WindowGeometry.h"

using namespace varlow;
using namespace varlow::test;

namespace {

// The window's controls, each with its name for the messages.
QList<QWidget*> Controls(const TForm1& form) {
  QList<QWidget*> controls;
  controls << form.ListView1 << form.ScrollBar1 << form.TreeView1 << form.lbPacket << form.Memo1 << form.Label1
           << form.lbSlices << form.Label2 << form.tvSliceDetails;
  return controls;
}

QRect InWindow(const TForm1& form, const QWidget* widget) {
  return QRect(widget->mapTo(&form, QPoint(0, 0)), widget->size());
}

}  // namespace

class MainWindowLayoutTest : public QObject {
  Q_OBJECT

  QTemporaryDir FSettingsDir;

 private slots:
  void initTestCase() { UsePrivateSettings(FSettingsDir); }

  void panesNeverOverlap_data() {
    QTest::addColumn<int>("width");
    for (int width : {1400, 900, 700, 500, 300}) QTest::newRow(qPrintable(QString::number(width))) << width;
  }

  void panesNeverOverlap() {
    QFETCH(int, width);
    auto form = ShowForm();
    QVERIFY(form);
    form->OpenFile(FileOf(SampleStream()));
    form->ListView1->SelectRow(2);  // a picture: its slices listed, one explained
    QTest::keyClick(form->ListView1, Qt::Key_Down);
    QTest::keyClick(form->ListView1, Qt::Key_Up);
    form->lbSlices->setCurrentRow(0);
    form->resize(width, form->height());
    QTest::qWait(20);
    // The window really takes widths from 500 up; below its smallest sensible width it stops
    // shrinking.
    if (width >= 500)
      QCOMPARE(form->width(), width);
    else
      QVERIFY(form->width() > width && form->width() <= 500);
    const QRect client(form->centralWidget()->mapTo(form.get(), QPoint(0, 0)), form->centralWidget()->size());
    const QList<QWidget*> controls = Controls(*form);
    for (QWidget* control : controls) {
      const QRect rect = InWindow(*form, control);
      QVERIFY2(control->isVisible() && !rect.isEmpty(), qPrintable(control->objectName()));
      QVERIFY2(client.contains(rect), qPrintable(control->objectName() + QStringLiteral(" leaves the window")));
    }
    for (int i = 0; i < controls.size(); ++i)
      for (int j = i + 1; j < controls.size(); ++j)
        QVERIFY2(!InWindow(*form, controls[i]).intersects(InWindow(*form, controls[j])),
                 qPrintable(controls[i]->objectName() + QStringLiteral(" covers ") + controls[j]->objectName()));
    // The dump keeps its scroll bar in view; its text scrolls sideways when the pane is narrow.
    QScrollBar* dumpBar = form->Memo1->verticalScrollBar();
    QVERIFY(dumpBar->isVisible());
    QVERIFY(form->Memo1->rect().contains(QRect(dumpBar->mapTo(form->Memo1, QPoint(0, 0)), dumpBar->size())));
  }

  void defaultLayoutGivesTheTreesTheRoom() {
    // A first start on a 1366 x 768 screen: its first size there, no stored layout.
    auto form = std::make_unique<TForm1>();
    form->resize(FitWindowGeometry(QRect(0, 0, 1366, 768), QRect()).size());
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    // Every column of the list in view, and no more room than that.
    QVERIFY(form->ListView1->viewport()->width() >= form->ListView1->horizontalHeader()->length());
    QVERIFY(form->Panel2->width() < 560);
    form->OpenFile(FileOf(SampleStream()));
    // The header trees of a sequence header and of a picture fit without being cut.
    for (int row : {0, 2}) {
      form->ListView1->SelectRow(row);
      QTest::mouseClick(form->ListView1->viewport(), Qt::LeftButton, {},
                        form->ListView1->visualRect(form->ListView1->model()->index(row, 1)).center());
      QVERIFY(form->TreeView1->topLevelItemCount() > 0);
      QApplication::processEvents();
      QVERIFY2(!form->TreeView1->horizontalScrollBar()->isVisible(), qPrintable(QString::number(row)));
    }
    // The slice list shows an item in full.
    const QListWidgetItem* item = form->lbSlices->item(0);
    QVERIFY(item);
    QVERIFY(form->lbSlices->visualItemRect(item).width() >=
            form->lbSlices->fontMetrics().horizontalAdvance(item->text()));
    QVERIFY(!form->lbSlices->horizontalScrollBar()->isVisible());
  }
};

QTEST_MAIN(MainWindowLayoutTest)
#include "main_window_layout_test.moc"
