// The main window's docked panes (the picture view and the stream overview) and the View menu
// that shows and hides them.
#include <QDockWidget>
#include <QMenuBar>

#include "browser/gui/MainWindow.h"
#include "overview/gui/OverviewDock.h"
#include "picture/gui/PicturePane.h"

namespace varlow {

void TForm1::CreatePanes() {
  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  view->setObjectName(QStringLiteral("View1"));

  // The overview sits under the list and the panes; it scans each file opened in the background.
  QDockWidget* overview = AttachOverviewPane(*this);
  QAction* overviewAction = overview->toggleViewAction();
  overviewAction->setObjectName(QStringLiteral("ViewOverview1"));
  view->addAction(overviewAction);

  // The picture pane starts hidden: decoding costs time, and the default layout keeps the
  // room for the trees. Its place and visibility are kept with the window's dock state.
  FPicturePane = AttachPicturePane(*this);
  FPicturePane->hide();
  QAction* picture = FPicturePane->toggleViewAction();
  picture->setObjectName(QStringLiteral("ViewPicture1"));
  picture->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
  view->addAction(picture);
}

}  // namespace varlow
