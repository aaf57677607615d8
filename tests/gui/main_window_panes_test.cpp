// The View menu's docked panes: hidden at first start, shown from the menu, and a shown
// overview scans the open file while a hidden one leaves it alone.
#include <QAction>
#include <QDockWidget>
#include <QMenuBar>

#include "MainWindowTestSupport.h"
#include "overview/gui/OverviewGraph.h"
#include "overview/gui/OverviewDock.h"
#include "overview/gui/OverviewPane.h"
#include "picture/gui/PicturePane.h"

using namespace varlow;
using namespace varlow::test;

class MainWindowPanesTest : public QObject {
  Q_OBJECT
  QTemporaryDir FSettingsDir;

 private slots:
  void initTestCase() { UsePrivateSettings(FSettingsDir); }

  void panesStartHiddenAndTheViewMenuShowsThem() {
    auto form = ShowForm();
    QVERIFY(form);
    QVERIFY(form->OverviewDock() && form->PicturePane());
    QVERIFY(form->OverviewDock()->isHidden());
    QVERIFY(form->PicturePane()->isHidden());

    auto* overviewAction = form->findChild<QAction*>(QStringLiteral("ViewOverview1"));
    auto* pictureAction = form->findChild<QAction*>(QStringLiteral("ViewPicture1"));
    QVERIFY(overviewAction && pictureAction);
    QVERIFY(!overviewAction->isChecked());

    // A hidden overview does not scan the file opened.
    form->OpenFile(FileOf(SampleStream()));
    TOverviewPane* pane = OverviewPaneOf(form->OverviewDock());
    QVERIFY(pane);
    QTest::qWait(400);
    QCOMPARE(pane->Graph()->PictureCount(), std::size_t{0});

    // Shown from the menu, it catches up with the open file.
    overviewAction->trigger();
    QVERIFY(form->OverviewDock()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(pane->Graph()->PictureCount() > 0 && !pane->Busy(), 10000);

    pictureAction->trigger();
    QVERIFY(form->PicturePane()->isVisible());
    pictureAction->trigger();
    QVERIFY(form->PicturePane()->isHidden());
  }
};

QTEST_MAIN(MainWindowPanesTest)
#include "main_window_panes_test.moc"
