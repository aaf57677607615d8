// The main window's Hex Edit menu command.
#include <QTreeWidget>

#include "browser/gui/MainWindow.h"
#include "browser/gui/PackListView.h"
#include "hexedit/gui/HexEditForm.h"
#include "overview/gui/OverviewDock.h"
#include "overview/gui/OverviewPane.h"
#include "picture/gui/PicturePane.h"
#include "support/Trap.h"

namespace varlow {

void TForm1::HexEdit1Click() {
  Trap("TForm1.HexEdit1Click", [this] {
    TByteSource* stream = FIndex.Stream();
    const int row = ListView1->SelectedRow();
    if (!stream || row < 0 || row >= FIndex.PackCount()) return;
    const std::int64_t offset = FIndex.Pack(row).Offset;
    // The length is that of the pack in the detail panes; show the selected one there first if
    // a move left them empty or on another pack.
    if (FPackBytes.empty() || FDumpOffset != offset) UpdatePack(offset);
    if (FPackBytes.empty() || FDumpOffset != offset || FPackLength <= 0) return;

    bool fileWritten = false;
    // Through the source: in a container the editor holds the unit's video bytes and writes
    // each at its own file offset, leaving the packet headers between them alone.
    const bool saved = EditSource(stream, offset, FPackLength, this, &fileWritten);
    if (!saved && !fileWritten) return;

    // Show the file as it is now: the picture and the overview read it again (the picture pane
    // drops what it decoded before), the window from its first pack, the selected pack again.
    if (FPicturePane) FPicturePane->Reload();
    if (TOverviewPane* overview = OverviewPaneOf(FOverviewDock); overview && overview->FileName() == FFileName)
      overview->Rescan();
    RefreshPosition(FIndex.PackCount() > 0 ? FIndex.Pack(0).Offset : FIndex.WindowStart());
    ForgetLastPage();  // the edit may have made or broken a start code near the end
    UpdateScrollRange();
    ListView1->viewport()->update();
    ClearDetailPanes();
    TreeView1->clear();
    const int selected = ListView1->SelectedRow();
    if (selected >= 0 && selected < FIndex.PackCount()) UpdatePack(FIndex.Pack(selected).Offset);
  });
}

}  // namespace varlow
