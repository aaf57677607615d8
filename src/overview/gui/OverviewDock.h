#pragma once

class QDockWidget;

namespace varlow {

class TForm1;
class TOverviewPane;

// Puts the overview pane into the main window as a dock widget ("Overview", under the list
// unless the user moved it; its place and size kept in the settings under "Overview/") and
// links it to the window:
//  - a file opened in the window is scanned; closing it clears the pane;
//  - a click on a picture in the graph selects that picture's pack in the list;
//  - the pack selected in the list is marked in the graph.
// The dock belongs to the window. Call once, after the window's controls exist.
QDockWidget* AttachOverviewPane(TForm1& form);

// Whether the docks' places were ever kept in the settings.
bool HasSavedDockState();

// The pane inside a dock made by AttachOverviewPane.
TOverviewPane* OverviewPaneOf(QDockWidget* dock);

} // namespace varlow
