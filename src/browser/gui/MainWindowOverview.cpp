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
    // The window is refilled from the pack itself, so it becomes the first row.
    FIndex.SetRowsPerPage(ListView1->VisibleRowCount());
    FIndex.RefreshPosition(offset);
    FIndex.SetScrollPos(static_cast<std::int32_t>(std::min<std::int64_t>(offset / kScrollUnit, std::numeric_limits<std::int32_t>::max())));
    ShowWindowMoved();
    if (FIndex.PackCount() > 0) {
      ListView1->SelectRow(0);
      UpdatePack(FIndex.Pack(0).Offset);
    }
  });
}

}  // namespace varlow
