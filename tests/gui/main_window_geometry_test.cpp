// Where the window opens and how its room is shared: centred and sized to the screen without
// kept settings, kept places fitted to the screens present, the strip under the upper panes on
// a splitter of its own, and the docked panes below without taking the panes' widths.
#include <QDockWidget>
#include <QGuiApplication>
#include <QScreen>
#include <QSplitter>

#include "MainWindowTestSupport.h"
#include "browser/gui/WindowGeometry.h"
#include "picture/gui/PicturePane.h"

using namespace varlow;
using namespace varlow::test;

namespace {

QSettings Settings() { return QSettings(QStringLiteral("Tarnwick"), QStringLiteral("Varlow")); }

QRect Available() { return QGuiApplication::primaryScreen()->availableGeometry(); }

}  // namespace

class MainWindowGeometryTest : public QObject {
  Q_OBJECT

  QTemporaryDir FSettingsDir;

 private slots:
  void initTestCase() { UsePrivateSettings(FSettingsDir); }
  void init() {
    for (const char* name : {"Varlow", "Varlow Layout", "Varlow Docks"})
      QFile::remove(QSettings(QStringLiteral("Tarnwick"), QString::fromLatin1(name)).fileName());
  }

  void firstPlaceIsCentredAndFitsTheScreen_data() {
    QTest::addColumn<QRect>("available");
    QTest::newRow("1280x720") << QRect(0, 0, 1280, 720);
    QTest::newRow("3840x2160") << QRect(0, 0, 3840, 2160);
    QTest::newRow("1280x720 under a panel, right of another screen") << QRect(1920, 32, 1280, 688);
  }

  void firstPlaceIsCentredAndFitsTheScreen() {
    QFETCH(QRect, available);
    const QRect place = FitWindowGeometry(available, QRect());
    QVERIFY(available.contains(place));
    QCOMPARE(place.center(), available.center());
    QCOMPARE(place.width(), qRound(available.width() * kFirstWindowShare));
    QCOMPARE(place.height(), qRound(available.height() * kFirstWindowShare));
  }

  void keptPlacesAreFittedToTheScreen() {
    const QRect screen(0, 0, 1280, 720);
    // Inside: kept as it is.
    QCOMPARE(FitWindowGeometry(screen, QRect(40, 30, 1000, 600)), QRect(40, 30, 1000, 600));
    // Sticking out at the right and bottom: moved in, size kept.
    QCOMPARE(FitWindowGeometry(screen, QRect(900, 500, 1000, 600)), QRect(280, 120, 1000, 600));
    // Larger than the screen (kept from a bigger one): no larger than this one.
    QCOMPARE(FitWindowGeometry(screen, QRect(-50, -20, 3000, 2000)), screen);
    // A place on a screen that is gone belongs to the primary one; a place on the second
    // screen stays there.
    const QList<QRect> screens = {screen, QRect(1280, 0, 1920, 1080)};
    QCOMPARE(ScreenAreaFor(screens, QRect(5000, 4000, 800, 600)), screen);
    QCOMPARE(ScreenAreaFor(screens, QRect(1500, 100, 800, 600)), screens[1]);
    QCOMPARE(ScreenAreaFor(screens, QRect(1000, 100, 800, 600)), screens[1]);  // mostly on the second
    QCOMPARE(ScreenAreaFor({}, QRect(0, 0, 10, 10)), QRect());
  }

  void windowOpensCentredOnItsScreen() {
    auto form = ShowForm();
    QVERIFY(form);
    const QRect expected = FitWindowGeometry(Available(), QRect());
    QVERIFY2(Available().contains(form->frameGeometry()), "the window lies on the screen");
    // The window's frame is known only once it is shown: within its width of the place chosen.
    const QSize frame = form->frameGeometry().size() - form->size();
    const QPoint off = form->frameGeometry().center() - expected.center();
    QVERIFY(std::abs(off.x()) <= frame.width() && std::abs(off.y()) <= frame.height());
    QVERIFY(std::abs(form->frameGeometry().width() - expected.width()) <= frame.width());
    QVERIFY(std::abs(form->frameGeometry().height() - expected.height()) <= frame.height());
  }

  void keptPlaceOffEveryScreenComesBack() {
    {
      QSettings settings = Settings();
      settings.setValue("FormLeft", 5000);
      settings.setValue("FormTop", 4000);
      settings.setValue("FormWidth", 5000);
      settings.setValue("FormHeight", 300);
    }
    auto form = ShowForm();
    QVERIFY(form);
    QVERIFY2(
        Available().contains(form->frameGeometry()),
        qPrintable(QStringLiteral("%1,%2 %3x%4").arg(form->x()).arg(form->y()).arg(form->width()).arg(form->height())));
    QCOMPARE(form->frameGeometry().width(), Available().width());  // no wider than the screen
    QCOMPARE(form->height(), 300);
  }

  void stripSplitterIsKept() {
    int strip = 0;
    {
      auto form = ShowForm();
      QVERIFY(form);
      QCOMPARE(form->Splitter3->orientation(), Qt::Vertical);
      QCOMPARE(form->Splitter3->widget(1), form->Panel1);
      const int total = form->Splitter3->sizes().value(0) + form->Splitter3->sizes().value(1);
      form->Splitter3->setSizes({total - 260, 260});
      QTRY_COMPARE(form->Panel1->height(), 260);
      strip = form->Panel1->height();
      form->close();
    }
    auto form = ShowForm();
    QVERIFY(form);
    QTRY_COMPARE(form->Panel1->height(), strip);
  }

  void dockedPanesLeaveThePanesTheirWidths_data() {
    QTest::addColumn<QSize>("screen");
    QTest::newRow("1280x720") << QSize(1280, 720);
    QTest::newRow("1920x1080") << QSize(1920, 1080);
  }

  void dockedPanesLeaveThePanesTheirWidths() {
    QFETCH(QSize, screen);
    auto form = ShowForm();
    QVERIFY(form);
    // The window as it first opens on such a screen.
    form->resize(FitWindowGeometry(QRect(QPoint(0, 0), screen), QRect()).size());
    form->OpenFile(FileOf(SampleStream()));
    form->ListView1->SelectRow(2);
    const int listWidth = form->ListView1->width();
    const int treeWidth = form->TreeView1->width();
    form->OverviewDock()->show();
    form->PicturePane()->show();
    QTest::qWait(50);
    QApplication::processEvents();
    // Both below the panes, side by side.
    QCOMPARE(form->dockWidgetArea(form->OverviewDock()), Qt::BottomDockWidgetArea);
    QCOMPARE(form->dockWidgetArea(form->PicturePane()), Qt::BottomDockWidgetArea);
    // The window still fits the screen, and no pane lost width or went below its minimum.
    QVERIFY(form->width() <= screen.width() && form->height() <= screen.height());
    QCOMPARE(form->ListView1->width(), listWidth);
    QCOMPARE(form->TreeView1->width(), treeWidth);
    for (QWidget* pane :
         QList<QWidget*>{form->ListView1, form->TreeView1, form->Memo1, form->lbSlices, form->tvSliceDetails})
      QVERIFY2(pane->width() >= pane->minimumWidth() && pane->minimumWidth() > 0, qPrintable(pane->objectName()));
    QVERIFY(form->TreeView1->minimumWidth() >= 240);
    // The panes keep usable heights: a few rows of the list and of the dump.
    QVERIFY(form->ListView1->VisibleRowCount() >= 4);
    QVERIFY(form->Memo1->height() >= 80);
    // The docks on show took less than half the window's height.
    for (QDockWidget* dock : {form->OverviewDock(), static_cast<QDockWidget*>(form->PicturePane())})
      if (form->rect().contains(dock->geometry()))  // a tab behind another lies out of sight
        QVERIFY2(dock->height() <= form->height() / 2, qPrintable(QString::number(dock->height())));

    // Side by side unless that were wider than the screen: then tabbed, and the window fits.
    const int both = form->OverviewDock()->minimumSizeHint().width() + form->PicturePane()->minimumSizeHint().width();
    const bool tabbed = form->tabifiedDockWidgets(form->OverviewDock()).contains(form->PicturePane());
    QCOMPARE(tabbed, both > Available().width());
    QVERIFY(form->minimumSizeHint().width() <= Available().width());

    // Even squeezed to the narrowest the window goes, the panes keep their minimum widths.
    form->resize(200, form->height());
    QTest::qWait(20);
    for (QWidget* pane : QList<QWidget*>{form->ListView1, form->TreeView1, form->Memo1})
      QVERIFY2(pane->width() >= pane->minimumWidth(), qPrintable(pane->objectName()));
  }
};

QTEST_MAIN(MainWindowGeometryTest)
#include "main_window_geometry_test.moc"
