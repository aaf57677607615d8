// Moving the index window through the file: keys at the edges of the page, the scroll bar and
// resizing. The list never scrolls by itself; every move refills the window.
#include <QKeyEvent>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTreeWidget>
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
  Trap("TForm1.FormResize", [this] { RefreshPosition(FIndex.WindowStart()); });
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
        if (row == lastRow && FIndex.PageFull()) MoveWindow([this] { FIndex.StepDown(); });
        break;
      case Qt::Key_PageUp:
        MoveWindow([this] { FIndex.PageUp(); });
        break;
      case Qt::Key_PageDown:
        if (FIndex.PageFull())
          MoveWindow([this] { FIndex.PageDown(); });
        else
          SnapScrollBarBack();
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
    if (FIndex.PageFull()) {
      MoveWindow([this] { FIndex.StepDown(); });
      LogDebug("one down");
    } else {
      SnapScrollBarBack();  // the window already reaches the end of the file
    }
  } else if (d == 10) {
    MoveWindow([this] { FIndex.PageUp(); });
    LogDebug("page up");
  } else if (d == -10) {
    if (FIndex.PageFull()) {
      MoveWindow([this] { FIndex.PageDown(); });
      LogDebug("page down");
    } else {
      SnapScrollBarBack();
    }
  } else {
    const int target = ScrollBar1->value();
    FIndex.SetScrollPos(target);
    TWaitCursor wait;
    MoveWindow([this, target] { FIndex.JumpToScrollPos(target); });
    LogDebug("other");
  }
}

}  // namespace varlow
