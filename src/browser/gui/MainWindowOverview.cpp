// Selecting a pack by its file offset, for the stream overview's graph.
#include <limits>

#include "browser/gui/MainWindow.h"
#include "browser/gui/PackListModel.h"
#include "browser/gui/PackListView.h"
#include "support/Trap.h"

namespace varlow {

void TForm1::SelectPackAt(std::int64_t offset) {
  Trap("TForm1.SelectPackAt", [this, offset] {
    if (!FIndex.Stream() || offset < 0 || offset >= FIndex.FileSize()) return;
    // The window is refilled from the pack itself, so it becomes the first row (near the end,
    // a row of the last full page).
    FIndex.SetRowsPerPage(ListView1->VisibleRowCount());
    FIndex.RefreshPosition(offset);
    FIndex.SetScrollPos(static_cast<std::int32_t>(std::min<std::int64_t>(offset / kScrollUnit, std::numeric_limits<std::int32_t>::max())));
    ShowWindowMoved();
    // Near the end the pack is shown on the last full page, in its own row.
    const std::int64_t first = FIndex.PackCount() > 0 ? FIndex.Pack(0).Offset : -1;
    if (!FillLastPage(first) && FIndex.PackCount() > 0) ListView1->SelectRow(0);
    const int row = ListView1->SelectedRow();
    if (row >= 0 && row < FIndex.PackCount()) UpdatePack(FIndex.Pack(row).Offset);
  });
}

}  // namespace varlow
