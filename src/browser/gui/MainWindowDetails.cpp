// The detail panes of the selected pack: header tree, hex dump, slice list and slice tree.
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTreeWidget>
#include <algorithm>

#include "browser/PackDetails.h"
#include "browser/SliceRequest.h"
#include "browser/gui/PackListView.h"
#include "browser/gui/QtTreeSink.h"
#include "browser/gui/SliceListBox.h"
#include "browser/gui/MainWindow.h"
#include "support/Trap.h"
#include "support/gui/WaitCursor.h"

namespace varlow {

namespace {

constexpr int kDumpBytesPerLine = 16;
constexpr int kDumpByteChars = 3;  // two hex digits and a space

// Character position of the hex pair of `byteInLine` in one dump line ("<offset>   <pairs>").
int HexPairColumn(const QString& line, int byteInLine) {
  const int pairsStart = static_cast<int>(line.indexOf(QStringLiteral("   "))) + 3;
  return pairsStart + kDumpByteChars * byteInLine;
}

}  // namespace

void TForm1::UpdateSelectedPack() {
  const int row = ListView1->SelectedRow();
  if (row >= 0 && row < FIndex.PackCount()) UpdatePack(FIndex.Pack(row).Offset);
}

void TForm1::ClearDetailPanes() {
  Memo1->clear();
  lbSlices->clear();
  tvSliceDetails->clear();
}

void TForm1::UpdatePack(std::int64_t offset) {
  Trap("TForm1.UpdatePack", [this, offset] {
    TWaitCursor wait;
    Memo1->clear();
    FDumpLength = 0;
    TPackDetails details;
    TQtTreeSink headerTree(TreeView1);
    // A read that gives nothing leaves the dump empty and the trees as they were.
    if (!::varlow::UpdatePack(FIndex, offset, headerTree, details)) return;
    FPackLength = details.Pack.Length;

    QString dump;
    for (const std::string& line : details.HexLines) {
      if (!dump.isEmpty()) dump += QLatin1Char('\n');
      dump += QString::fromStdString(Cp1251ToUtf8(line));
    }
    Memo1->setPlainText(dump);
    QTextCursor top(Memo1->document());
    Memo1->setTextCursor(top);
    FDumpOffset = details.Pack.Offset;
    FDumpLength = std::min(details.Pack.Length, kHexDumpLimit);

    TreeView1->clear();
    lbSlices->clear();
    tvSliceDetails->clear();
    headerTree.Flush();
    for (const std::string& slice : details.Slices) lbSlices->addItem(QString::fromStdString(slice));
    TreeView1->expandAll();
  });
}

void TForm1::lbSlicesClick() { UpdataSliceDetails(); }

void TForm1::lbSlicesKeyPress() { UpdataSliceDetails(); }

void TForm1::UpdataSliceDetails() {
  Trap("TForm1.UpdataSliceDetails", [this] {
    tvSliceDetails->clear();
    const int slice = lbSlices->SelectedRow();
    const int row = ListView1->SelectedRow();
    if (lbSlices->count() == 0 || slice < 0 || row < 0 || row >= FIndex.PackCount()) return;

    TQtTreeSink sink(tvSliceDetails);
    TTreeSink::NodeId sliceNode = TTreeSink::kRoot;
    ::varlow::UpdataSliceDetails(FIndex, FIndex.Pack(row).Offset, slice, sink, &sliceNode);
    sink.Flush();
    if (QTreeWidgetItem* item = sink.Item(sliceNode)) item->setExpanded(true);
  });
}

// Selecting a node of either tree selects the bytes of its element in the hex dump, when they
// lie in the dumped part of the pack: both trees count positions from the start of that pack.
void TForm1::SelectElementBytes(const QTreeWidget* tree) {
  const QList<QTreeWidgetItem*> selected = tree->selectedItems();
  QTextCursor cursor = Memo1->textCursor();
  cursor.clearSelection();
  if (selected.isEmpty() || FDumpLength <= 0) {
    Memo1->setTextCursor(cursor);
    return;
  }
  const QVariant pos = selected.first()->data(0, kBitPosRole);
  const std::int64_t bitPos = pos.isValid() ? pos.toLongLong() : -1;
  const std::int64_t bitWidth = std::max(1, selected.first()->data(0, kBitWidthRole).toInt());
  const std::int64_t firstByte = bitPos / 8;
  if (bitPos < 0 || firstByte >= FDumpLength) {
    Memo1->setTextCursor(cursor);
    return;
  }
  const std::int64_t lastByte = std::min<std::int64_t>((bitPos + bitWidth - 1) / 8, FDumpLength - 1);

  auto charPosition = [this](std::int64_t byte, int extra) {
    const QTextBlock block = Memo1->document()->findBlockByNumber(static_cast<int>(byte / kDumpBytesPerLine));
    return block.position() + HexPairColumn(block.text(), static_cast<int>(byte % kDumpBytesPerLine)) + extra;
  };
  // Anchor at the end, cursor at the start, so the start of a long element is scrolled into view.
  cursor.setPosition(charPosition(lastByte, 2));
  cursor.setPosition(charPosition(firstByte, 0), QTextCursor::KeepAnchor);
  Memo1->setTextCursor(cursor);
  Memo1->ensureCursorVisible();
}

}  // namespace varlow
