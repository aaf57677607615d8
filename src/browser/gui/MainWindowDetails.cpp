// The detail panes of the selected pack: header tree, hex dump, slice list and slice tree.
#include <QAction>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTreeWidget>
#include <algorithm>

#include "browser/DumpWindow.h"
#include "browser/PackDetails.h"
#include "browser/SliceRequest.h"
#include "browser/gui/PackListView.h"
#include "browser/gui/QtTreeSink.h"
#include "check/gui/ProblemMarks.h"
#include "check/gui/ProblemsDock.h"
#include "check/gui/ProblemsPane.h"
#include "browser/gui/SliceListBox.h"
#include <QDockWidget>

#include "browser/gui/MainWindow.h"
#include "support/FileStream.h"
#include "support/Format.h"
#include "support/Trap.h"
#include "support/gui/WaitCursor.h"

namespace varlow {

namespace {

constexpr int kDumpByteChars = 3;  // two hex digits and a space
// Most file bytes of one pack the dump reads in file-bytes mode: a 2 MiB pack with the packet
// headers between its payloads.
constexpr std::int64_t kMaxFileDump = kBackSearchReadSize;

// Character position of the hex pair of `byteInLine` in one dump line ("<offset>   <pairs>").
int HexPairColumn(const QString& line, int byteInLine) {
  const int pairsStart = static_cast<int>(line.indexOf(QStringLiteral("   "))) + 3;
  return pairsStart + kDumpByteChars * byteInLine;
}

// An item of the slice list: the start code as the list always showed it, then where the
// slice lies in the pack and how many bytes it takes ("$00000104 @3881, 849 B"); its tooltip
// says the same in words.
QListWidgetItem* SliceItem(const std::string& code, const TSliceSpan& span) {
  const QString name = QString::fromStdString(code);
  auto* item = new QListWidgetItem(QStringLiteral("%1 @%2, %3 B").arg(name).arg(span.Offset).arg(span.Size));
  item->setToolTip(QStringLiteral("Slice %1 starts at byte %2 of the pack and takes %3 bytes")
                       .arg(name)
                       .arg(span.Offset)
                       .arg(span.Size));
  return item;
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
  FPackBytes.clear();
  FPackPlaces.Clear();
  FFileBytes.clear();
  FSliceSpans.clear();
  FDamagedSlices.clear();
  FDumpWindowStart = 0;
}

bool TForm1::DumpShowsFileBytes() const {
  return DumpFileBytes1 != nullptr && DumpFileBytes1->isChecked() && FIndex.Stream() != nullptr &&
         FIndex.Stream()->IsContainer();
}

void TForm1::DumpFileBytesToggled() {
  Trap("TForm1.DumpFileBytesToggled", [this] {
    if (FPackBytes.empty()) return;
    ShowDumpWindow(0);
    SelectElementBytes(TreeView1);
  });
}

void TForm1::UpdatePack(std::int64_t offset) {
  Trap("TForm1.UpdatePack", [this, offset] {
    TWaitCursor wait;
    Memo1->clear();
    FPackBytes.clear();
    FFileBytes.clear();
    TPackDetails details;
    TQtTreeSink headerTree(TreeView1);
    if (!::varlow::UpdatePack(FIndex, offset, headerTree, details)) {
      // No pack starts there any more: never a tree of bytes that are not a start code.
      if (details.Status == TPackStatus::NoPackStarts) ShowNoPackNote(offset);
      // A read that gives nothing leaves the dump empty and the trees as they were.
      return;
    }
    FPackLength = details.Pack.Length;
    FDumpOffset = details.Pack.Offset;
    FPackBytes = std::move(details.Bytes);
    FPackPlaces = std::move(details.Places);
    ShowDumpWindow(0);

    TreeView1->clear();
    lbSlices->clear();
    tvSliceDetails->clear();
    headerTree.Flush();
    // The rules its elements break, once the Problems pane has checked the stream.
    if (const TProblemsPane* problems = ProblemsPaneOf(findChild<QDockWidget*>(QStringLiteral("ProblemsDock"))))
      MarkProblems(TreeView1, problems->ProblemsAt(details.Pack.Offset));
    FSliceSpans = details.SliceSpans;
    for (std::size_t i = 0; i < details.Slices.size(); ++i)
      lbSlices->addItem(SliceItem(details.Slices[i], details.SliceSpans[i]));
    FDamagedSlices.clear();
    if (!details.Slices.empty()) MarkDamagedSlices(details.Pack.Offset);
    TreeView1->expandAll();
  });
  UpdateStatusBar();
}

void TForm1::ShowNoPackNote(std::int64_t offset) {
  FPackLength = 0;  // Hex Edit has no pack to edit
  TreeView1->clear();
  lbSlices->clear();
  tvSliceDetails->clear();
  FSliceSpans.clear();
  FDamagedSlices.clear();
  Memo1->setPlainText(QStringLiteral("No pack starts at offset $%1 any more: the file has changed on disk since "
                                     "the list was read. Move the list to read it again.")
                          .arg(QString::fromStdString(HexUpper(static_cast<std::uint64_t>(offset), 8))));
}

void TForm1::ShowDumpWindow(std::int32_t windowStart) {
  FDumpWindowStart = windowStart;
  std::vector<std::string> lines;
  if (DumpShowsFileBytes()) {
    // The file as it lies from the pack's start code to its last video byte, packet headers
    // and all; read once for the pack.
    if (FFileBytes.empty() && !FPackBytes.empty()) {
      const std::int64_t end = FPackPlaces.OffsetOf(FPackBytes.size() - 1) + 1;
      FFileBytes.resize(static_cast<std::size_t>(std::clamp<std::int64_t>(end - FDumpOffset, 0, kMaxFileDump)));
      FFileBytes.resize(static_cast<std::size_t>(FIndex.Stream()->File().ReadAt(FDumpOffset, FFileBytes)));
    }
    lines = DumpWindowLines(FFileBytes.data(), static_cast<std::int32_t>(FFileBytes.size()), FDumpOffset, windowStart);
  } else if (FIndex.Stream() != nullptr && FIndex.Stream()->IsContainer()) {
    lines = DumpWindowLines(FPackBytes.data(), static_cast<std::int32_t>(FPackBytes.size()), FPackPlaces, windowStart);
  } else {
    lines = DumpWindowLines(FPackBytes.data(), static_cast<std::int32_t>(FPackBytes.size()), FDumpOffset, windowStart);
  }
  QString dump;
  for (const std::string& line : lines) {
    if (!dump.isEmpty()) dump += QLatin1Char('\n');
    dump += QString::fromStdString(Cp1251ToUtf8(line));
  }
  Memo1->setPlainText(dump);
  Memo1->setTextCursor(QTextCursor(Memo1->document()));  // the top of the window in view
}

void TForm1::lbSlicesClick() {
  UpdataSliceDetails();
  const int slice = lbSlices->SelectedRow();
  if (slice < 0 || static_cast<std::size_t>(slice) >= FSliceSpans.size()) return;
  // The dump follows to the slice and selects its start code.
  const TSliceSpan& span = FSliceSpans[static_cast<std::size_t>(slice)];
  SelectPackBytes(span.Offset, span.Offset + 3);
}

void TForm1::lbSlicesKeyPress() { lbSlicesClick(); }

void TForm1::UpdataSliceDetails() {
  Trap("TForm1.UpdataSliceDetails", [this] {
    tvSliceDetails->clear();
    const int slice = lbSlices->SelectedRow();
    const int row = ListView1->SelectedRow();
    if (lbSlices->count() == 0 || slice < 0 || row < 0 || row >= FIndex.PackCount()) return;

    TQtTreeSink sink(tvSliceDetails);
    TTreeSink::NodeId sliceNode = TTreeSink::kRoot;
    const std::int64_t offset = FIndex.Pack(row).Offset;
    if (::varlow::UpdataSliceDetails(FIndex, offset, slice, sink, &sliceNode) == TSliceRequestResult::NoPackStarts) {
      ShowNoPackNote(offset);
      return;
    }
    sink.Flush();
    if (QTreeWidgetItem* item = sink.Item(sliceNode)) item->setExpanded(true);
  });
}

// Selecting a node of either tree selects the bytes of its element in the hex dump: both trees
// count positions from the start of the pack shown there. The Container branch counts from the
// start of its own packet or header, which lie outside the unit's video bytes: it selects nothing.
void TForm1::SelectElementBytes(const QTreeWidget* tree) {
  const QList<QTreeWidgetItem*> selected = tree->selectedItems();
  const QTreeWidgetItem* top = selected.isEmpty() ? nullptr : selected.first();
  while (top != nullptr && top->parent() != nullptr) top = top->parent();
  if (top != nullptr && top->text(0) == QStringLiteral("Container")) {
    SelectPackBytes(-1, -1);
    return;
  }
  const QVariant pos = selected.isEmpty() ? QVariant() : selected.first()->data(0, kBitPosRole);
  const std::int64_t bitPos = pos.isValid() ? pos.toLongLong() : -1;
  if (bitPos < 0) {
    SelectPackBytes(-1, -1);
    return;
  }
  const std::int64_t bitWidth = std::max(1, selected.first()->data(0, kBitWidthRole).toInt());
  SelectPackBytes(bitPos / 8, (bitPos + bitWidth - 1) / 8);
}

void TForm1::SelectPackBytes(std::int64_t first, std::int64_t last) {
  QTextCursor cursor = Memo1->textCursor();
  cursor.clearSelection();
  const auto packLength = static_cast<std::int64_t>(FPackBytes.size());
  if (first < 0 || first >= packLength) {
    Memo1->setTextCursor(cursor);
    return;
  }
  last = std::clamp(last, first, packLength - 1);
  std::int64_t length = packLength;
  if (DumpShowsFileBytes()) {
    // The element's bytes where they lie in the file: from its first byte's offset to its last
    // one's, across any packet header between them.
    first = FPackPlaces.OffsetOf(static_cast<std::size_t>(first)) - FDumpOffset;
    last = FPackPlaces.OffsetOf(static_cast<std::size_t>(last)) - FDumpOffset;
    length = static_cast<std::int64_t>(FFileBytes.size());
    if (first < 0 || first >= length) {
      Memo1->setTextCursor(cursor);
      return;
    }
    last = std::clamp(last, first, length - 1);
  }
  const std::int32_t window = DumpWindowFor(static_cast<std::int32_t>(first), static_cast<std::int32_t>(last),
                                            static_cast<std::int32_t>(length), FDumpWindowStart);
  if (window != FDumpWindowStart) ShowDumpWindow(window);
  const std::int64_t windowEnd = std::min<std::int64_t>(length, FDumpWindowStart + kHexDumpLimit);
  last = std::min(last, windowEnd - 1);

  auto charPosition = [this](std::int64_t byte, int extra) {
    const int line = DumpLineOfByte(static_cast<std::int32_t>(byte), FDumpWindowStart);
    const QTextBlock block = Memo1->document()->findBlockByNumber(line);
    return block.position() + HexPairColumn(block.text(), static_cast<int>(byte % kDumpBytesPerLine)) + extra;
  };
  // Anchor at the end, cursor at the start, so the start of a long element is scrolled into view.
  cursor.setPosition(charPosition(last, 2));
  cursor.setPosition(charPosition(first, 0), QTextCursor::KeepAnchor);
  Memo1->setTextCursor(cursor);
  Memo1->ensureCursorVisible();
}

}  // namespace varlow
