// Moving the index window through the file: keys at the edges of the page, the scroll bar and
// resizing. The list never scrolls by itself; every move refills the window.
#include <QKeyEvent>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <algorithm>
#include <cstdlib>

#include "browser/gui/FileScrollBar.h"
#include "browser/gui/PackListModel.h"
#include "browser/gui/PackListView.h"
#include "browser/gui/SliceListBox.h"
#include "browser/gui/MainWindow.h"
#include "support/Format.h"
#include "support/Log.h"
#include "support/Trap.h"
#include "support/gui/WaitCursor.h"

namespace varlow {

void TForm1::RefreshPosition(std::int64_t position) {
  if (!ListView1) return;  // a resize while the window is being built
  FIndex.SetRowsPerPage(ListView1->VisibleRowCount());
  FIndex.RefreshPosition(position);
  FListModel->IndexRefilled();
  UpdateListNote();
}

void TForm1::UpdateListNote() {
  if (FIndex.Stream() == nullptr || FIndex.PackCount() > 0) {
    ListView1->SetNote({});
    return;
  }
  const QString offset = QString::fromStdString(HexUpper(static_cast<std::uint64_t>(FIndex.WindowStart()), 8));
  ListView1->SetNote(QStringLiteral("No start codes near offset $%1: this part of the file holds no packs. "
                                    "Drag the scroll bar elsewhere to look further.")
                         .arg(offset));
}

template <class Move>
void TForm1::MoveWindow(Move&& move) {
  FIndex.SetRowsPerPage(ListView1->VisibleRowCount());
  move();
  ShowWindowMoved();
}

void TForm1::ShowWindowMoved() {
  FListModel->IndexRefilled();
  UpdateListNote();
  ShowLastPageAtBottom();
  SnapScrollBarBack();
  ListView1->viewport()->update();
}

void TForm1::SetScrollBarPosition(int position) { ScrollBar1->setValue(position); }

void TForm1::SnapScrollBarBack() {
  SetScrollBarPosition(FIndex.ScrollPos());
  // The last start code can lie past 100 * maximum, where the bar cannot go. Remember the
  // position the bar really holds, or the next click at the bottom would read as a step up.
  FIndex.SetScrollPos(ScrollBar1->value());
}

void TForm1::FormResize() {
  Trap("TForm1.FormResize", [this] {
    if (!ListView1) return;
    const int selected = ListView1->SelectedRow();
    const std::int64_t selectedOffset =
        selected >= 0 && selected < FIndex.PackCount() ? FIndex.Pack(selected).Offset : -1;
    RefreshPosition(FIndex.WindowStart());
    if (FIndex.Stream() == nullptr) return;
    // A taller list near the end of the file would show empty rows: it shows the last full
    // page instead, and the pack that was selected stays selected.
    UpdateScrollRange();
    FillLastPage(selectedOffset);
  });
}

bool TForm1::FillLastPage(std::int64_t keepSelected) {
  if (FIndex.PackCount() == 0 || FIndex.PageFull() || FIndex.Pack(0).Offset <= LastPageStart()) return false;
  FIndex.End();
  ShowWindowMoved();
  for (int row = 0; row < FIndex.PackCount(); ++row)
    if (FIndex.Pack(row).Offset == keepSelected) ListView1->SelectRow(row);
  return true;
}

void TForm1::ForgetLastPage() {
  FLastPageStart = -1;
  FLastPageRows = 0;
}

std::int64_t TForm1::LastPageStart() {
  const int rows = std::min(ListView1->VisibleRowCount(), kMaxPacks);
  if (FLastPageStart < 0 || FLastPageRows != rows) {
    // The search End makes: the page whose last pack is the file's last.
    std::int64_t p = std::max<std::int64_t>(FIndex.FileSize() - 4, 0);
    std::uint32_t code = 0;
    FIndex.SearchBackPackPositionFromPos(p, rows, code);
    FLastPageStart = p;
    FLastPageRows = rows;
  }
  return FLastPageStart;
}

bool TForm1::AtLastPage() {
  return FIndex.PackCount() > 0 && FIndex.Pack(0).Offset >= LastPageStart();
}

void TForm1::UpdateScrollRange() {
  // The bar's range covers the places a full page can start at: its bottom is the last page.
  const std::int64_t last = LastPageStart() / kScrollUnit;
  const int maximum = static_cast<int>(std::clamp<std::int64_t>(last, 0, FIndex.ScrollMax()));
  if (ScrollBar1->maximum() != maximum || ScrollBar1->minimum() != 0) ScrollBar1->setRange(0, maximum);
}

void TForm1::ShowLastPageAtBottom() {
  if (AtLastPage()) FIndex.SetScrollPos(ScrollBar1->maximum());
}

void TForm1::PageDownFull() {
  // Near the end the next page would be short: the last full page is shown instead, ending at
  // the file's last pack. On the last page nothing moves.
  if (!FIndex.PageFull() || AtLastPage()) {
    SnapScrollBarBack();
    return;
  }
  MoveWindow([this] {
    FIndex.PageDown();
    if (FIndex.WindowStart() > LastPageStart() || !FIndex.PageFull()) FIndex.End();
  });
}

void TForm1::ListView1KeyDown(QKeyEvent* event) {
  Trap("TForm1.ListView1KeyDown", [this, event] {
    const int row = ListView1->SelectedRow();
    if (row < 0) return;
    const int lastRow = FListModel->rowCount() - 1;
    switch (event->key()) {
      case Qt::Key_Up:
        if (row == 0) MoveWindow([this] { FIndex.StepUp(); });
        break;
      case Qt::Key_Down:
        if (row == lastRow && FIndex.PageFull() && !AtLastPage()) MoveWindow([this] { FIndex.StepDown(); });
        break;
      case Qt::Key_PageUp:
        MoveWindow([this] { FIndex.PageUp(); });
        break;
      case Qt::Key_PageDown:
        PageDownFull();
        break;
      case Qt::Key_Home: {
        SetScrollBarPosition(0);
        TWaitCursor wait;
        MoveWindow([this] { FIndex.Home(); });
        break;
      }
      case Qt::Key_End: {
        SetScrollBarPosition(ScrollBar1->maximum());
        TWaitCursor wait;
        MoveWindow([this] { FIndex.End(); });
        break;
      }
      default:
        break;
    }
  });
}

void TForm1::ListView1KeyUp(QKeyEvent* event) {
  if (event->isAutoRepeat()) return;  // once when the key is let go, not per repeat
  Trap("TForm1.ListView1KeyUp", [this] { UpdateSelectedPack(); });
}

void TForm1::ListView1MouseDown() {
  Trap("TForm1.ListView1MouseDown", [this] { UpdateSelectedPack(); });
}

void TForm1::MyScrollMouseDown() {
  Trap("TForm1.MyScrollMouseDown", [this] {
    BeginScrollMove();
    // What the user did shows in how far the bar moved from where the program last put it:
    // an arrow moves it by the single step (1), the trough by the page step (10).
    ScrollBarMove(FIndex.ScrollPos() - ScrollBar1->value());
    EndScrollMove();
  });
}

void TForm1::ListView1Wheel(int rows) {
  if (FIndex.Stream() == nullptr) return;  // no file: nothing to move through
  Trap("TForm1.MyScrollMouseDown", [this, rows] {
    BeginScrollMove();
    // Row by row as the arrows step, so the remembered bar position stays right.
    for (int i = 0; i < std::abs(rows); ++i) ScrollBarMove(rows > 0 ? -1 : 1);
    EndScrollMove();
  });
}

void TForm1::BeginScrollMove() {
  ListView1->clearSelection();
  ClearDetailPanes();  // the header tree keeps its content
}

void TForm1::EndScrollMove() {
  ListView1->viewport()->update();
  if (FListModel->rowCount() == 0) return;
  ListView1->SelectRow(0);
  ListView1->setFocus();
  UpdateSelectedPack();
}

void TForm1::ScrollBarMove(int d) {
  if (d == 1) {
    MoveWindow([this] { FIndex.StepUp(); });
    LogDebug("one up");
  } else if (d == -1) {
    if (FIndex.PageFull() && !AtLastPage()) {
      MoveWindow([this] { FIndex.StepDown(); });
      LogDebug("one down");
    } else {
      SnapScrollBarBack();  // the window already reaches the end of the file
    }
  } else if (d == 10) {
    MoveWindow([this] { FIndex.PageUp(); });
    LogDebug("page up");
  } else if (d == -10) {
    if (FIndex.PageFull() && !AtLastPage()) {
      PageDownFull();
      LogDebug("page down");
    } else {
      SnapScrollBarBack();
    }
  } else {
    const int target = ScrollBar1->value();
    FIndex.SetScrollPos(target);
    TWaitCursor wait;
    // The bottom of the bar is the last page; a click there that does not move the bar (the
    // down arrow at the end) leaves the last page where it is.
    if (target >= ScrollBar1->maximum())
      MoveWindow([this] { FIndex.End(); });
    else
      MoveWindow([this, target] { FIndex.JumpToScrollPos(target); });
    LogDebug("other");
  }
}

}  // namespace varlow
