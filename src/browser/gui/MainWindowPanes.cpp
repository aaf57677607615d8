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

  // The overview docks under the list and the panes; while shown it scans each file opened in
  // the background. Both panes start hidden, so the window's own layout keeps its design size;
  // their places and visibility are kept with the docks' state.
  FOverviewDock = AttachOverviewPane(*this);
  FOverviewDock->hide();
  QAction* overviewAction = FOverviewDock->toggleViewAction();
  overviewAction->setObjectName(QStringLiteral("ViewOverview1"));
  overviewAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
  view->addAction(overviewAction);

  // The picture pane docks beside the window.
  FPicturePane = AttachPicturePane(*this);
  FPicturePane->hide();
  QAction* picture = FPicturePane->toggleViewAction();
  picture->setObjectName(QStringLiteral("ViewPicture1"));
  picture->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
  view->addAction(picture);

  // A container's dump shows the unit's video bytes; this shows the file's bytes instead,
  // packet headers included. A plain file's bytes are its video: nothing to switch.
  view->addSeparator();
  DumpFileBytes1 = view->addAction(QStringLiteral("Dump &File Bytes"));
  DumpFileBytes1->setObjectName(QStringLiteral("DumpFileBytes1"));
  DumpFileBytes1->setCheckable(true);
  DumpFileBytes1->setEnabled(false);
  connect(DumpFileBytes1, &QAction::toggled, this, &TForm1::DumpFileBytesToggled);
}

}  // namespace varlow
