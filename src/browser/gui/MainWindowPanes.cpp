// The main window's docked panes (the picture view, the stream overview and the stream's
// problems) and the View menu that shows and hides them.
#include <QDockWidget>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>
#include <algorithm>

#include "browser/gui/MainWindow.h"
#include "check/gui/ProblemsDock.h"
#include "overview/gui/OverviewDock.h"
#include "picture/gui/PicturePane.h"

namespace varlow {

namespace {

// Share of the window's height the docked panes take when first shown without a kept layout.
constexpr double kFirstDockShare = 0.35;

}  // namespace

void TForm1::FitDocksToScreen(QDockWidget* shown) {
  QDockWidget* docks[] = {FOverviewDock, FPicturePane};
  for (QDockWidget* dock : docks)
    if (dock == nullptr || dock->isHidden() || dock->isFloating() || dockWidgetArea(dock) != Qt::BottomDockWidgetArea)
      return;
  if (!tabifiedDockWidgets(FOverviewDock).isEmpty()) return;  // already tabbed
  // Side by side they would make the window wider than its screen: tabbed, they share the place.
  const QScreen* on = screen();
  const int room = on != nullptr ? on->availableGeometry().width() - (frameGeometry().width() - width()) : 0;
  if (room <= 0 || FOverviewDock->minimumSizeHint().width() + FPicturePane->minimumSizeHint().width() <= room) return;
  tabifyDockWidget(FOverviewDock, FPicturePane);
  shown->raise();
}

void TForm1::SizeDocks() {
  const int height = static_cast<int>(this->height() * kFirstDockShare);
  QList<QDockWidget*> docks;
  QList<int> heights;
  for (QDockWidget* dock : {FOverviewDock, static_cast<QDockWidget*>(FPicturePane),
                            findChild<QDockWidget*>(QStringLiteral("ProblemsDock"))}) {
    if (dock == nullptr) continue;
    if (dock->isVisible() && !dock->isFloating() && dockWidgetArea(dock) == Qt::BottomDockWidgetArea &&
        dock->height() > height) {
      docks << dock;
      heights << std::max(height, dock->minimumSizeHint().height());  // a height it can take
    }
  }
  if (!docks.isEmpty()) resizeDocks(docks, heights, Qt::Vertical);
}

void TForm1::CreatePanes() {
  QMenu* view = View1;

  // The overview docks under the list and the panes; while shown it scans each file opened in
  // the background. Both panes start hidden, so the window's own layout keeps its design size;
  // their places and visibility are kept with the docks' state.
  FOverviewDock = AttachOverviewPane(*this);
  FOverviewDock->hide();
  QAction* overviewAction = FOverviewDock->toggleViewAction();
  overviewAction->setObjectName(QStringLiteral("ViewOverview1"));
  overviewAction->setText(QStringLiteral("&Overview"));
  overviewAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
  view->addAction(overviewAction);

  // The picture pane docks below too, beside the overview: the window's own panes keep their
  // widths, and both docked panes share the height below them.
  FPicturePane = AttachPicturePane(*this);
  splitDockWidget(FOverviewDock, FPicturePane, Qt::Horizontal);
  FPicturePane->hide();
  // A pane shown is tabbed with the other where the screen is too narrow for both, and sized on
  // its first show.
  for (QDockWidget* dock : {FOverviewDock, static_cast<QDockWidget*>(FPicturePane)}) {
    connect(dock, &QDockWidget::visibilityChanged, this, [this, dock](bool visible) {
      if (!visible) return;
      FitDocksToScreen(dock);
      if (dock->property("sized").toBool() || HasSavedDockState()) return;
      dock->setProperty("sized", true);
      QTimer::singleShot(0, this, &TForm1::SizeDocks);
    });
  }
  QAction* picture = FPicturePane->toggleViewAction();
  picture->setObjectName(QStringLiteral("ViewPicture1"));
  picture->setText(QStringLiteral("&Picture"));
  picture->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
  view->addAction(picture);

  // The stream's problems, beside the picture pane; while shown it checks each file opened.
  QDockWidget* problems = AttachProblemsPane(*this, nullptr);
  splitDockWidget(FPicturePane, problems, Qt::Horizontal);
  problems->hide();
  // Sized on its first show like the others.
  connect(problems, &QDockWidget::visibilityChanged, this, [this, problems](bool visible) {
    if (!visible || problems->property("sized").toBool() || HasSavedDockState()) return;
    problems->setProperty("sized", true);
    QTimer::singleShot(0, this, &TForm1::SizeDocks);
  });
  QAction* problemsAction = problems->toggleViewAction();
  problemsAction->setObjectName(QStringLiteral("ViewProblems1"));
  problemsAction->setText(QStringLiteral("Pro&blems"));
  problemsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B));
  view->addAction(problemsAction);

  // A container's dump shows the unit's video bytes; this shows the file's bytes instead,
  // packet headers included. A plain file's bytes are its video: nothing to switch.
  view->addSeparator();
  DumpFileBytes1 = view->addAction(QStringLiteral("Dump &File Bytes"));
  DumpFileBytes1->setObjectName(QStringLiteral("DumpFileBytes1"));
  DumpFileBytes1->setCheckable(true);
  DumpFileBytes1->setEnabled(false);
  connect(DumpFileBytes1, &QAction::toggled, this, &TForm1::DumpFileBytesToggled);

  CreateGoToMenu(view);
}

}  // namespace varlow
