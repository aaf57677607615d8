#pragma once

class QDockWidget;

namespace varlow {

class TForm1;
class TProblemsPane;

// Puts the problems pane into the main window as a dock widget ("Problems", tabbed with the
// overview below the list) and links it to the window: while shown it checks each file opened
// (the stream the list shows) in the background; closing the file clears it; a problem chosen
// selects its pack in the list. The dock belongs to the window. Call once, after the overview
// dock exists.
QDockWidget* AttachProblemsPane(TForm1& form, QDockWidget* besides);

// The pane inside a dock made by AttachProblemsPane.
TProblemsPane* ProblemsPaneOf(QDockWidget* dock);

}  // namespace varlow
