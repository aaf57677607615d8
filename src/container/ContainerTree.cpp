#include "container/ContainerTree.h"

#include <algorithm>

#include "container/ContainerTreeParts.h"
#include "container/PesHeader.h"
#include "support/Format.h"
#include "support/Trap.h"

namespace varlow {

namespace container_tree {

namespace {
constexpr std::size_t kPiece = 64 << 10;
}

TFileBytes::TFileBytes(const TFileStream& file) : FFile(file), FSize(std::max<std::int64_t>(file.Size(), 0)), FBytes(kPiece) {}

std::span<const std::uint8_t> TFileBytes::At(std::int64_t position, std::size_t count) {
  count = std::min(count, kPiece);
  if (position < 0 || position >= FSize) return {};
  const std::int64_t want = std::min<std::int64_t>(position + static_cast<std::int64_t>(count), FSize);
  if (position < FStart || want > FStart + static_cast<std::int64_t>(FValid)) {
    // Going back (a miss before the piece held): the new piece ends at the bytes asked for.
    const bool backwards = FValid > 0 && position < FStart;
    FStart = backwards ? std::max<std::int64_t>(0, want - static_cast<std::int64_t>(kPiece)) : position;
    FValid = static_cast<std::size_t>(std::max<std::int64_t>(FFile.ReadAt(FStart, FBytes), 0));
  }
  const auto from = static_cast<std::size_t>(position - FStart);
  if (from >= FValid) return {};
  return {FBytes.data() + from, std::min(count, FValid - from)};
}

void TElementNodes::operator()(const char* name, std::uint64_t value, std::int64_t bitPos, int width) const {
  Sink.AddChild(Parent, std::string(name) + " = " + std::to_string(value) + WidthText(width), bitPos, width);
}

std::string OffsetText(std::int64_t offset) { return "$" + HexUpper(static_cast<std::uint64_t>(offset), 8); }

std::string Seconds(std::uint64_t ticks, double ticksPerSecond) {
  return Format("%.6f", {static_cast<double>(ticks) / ticksPerSecond});
}

NodeId AddPesHeader(TTreeSink& sink, NodeId parent, std::span<const std::uint8_t> bytes, std::int64_t fileOffset,
                  bool mpeg1Syntax) {
  const NodeId node = sink.AddChild(parent, "PES_packet at " + OffsetText(fileOffset));
  TElementNodes elements{sink, node};
  const TPesHeader h = ReadPesHeader(bytes, elements, mpeg1Syntax);
  if (!h.Ok) {
    sink.AddDamage(node, "PES header at " + OffsetText(fileOffset) + " does not parse", 0);
    return node;
  }
  sink.SetRange(node, 0, h.HeaderSize * 8);
  if (h.PTS != kNoTimestamp)
    sink.AddChild(node, "PTS = " + std::to_string(h.PTS) + " (" + Seconds(h.PTS, 90000.0) + " s)");
  if (h.DTS != kNoTimestamp)
    sink.AddChild(node, "DTS = " + std::to_string(h.DTS) + " (" + Seconds(h.DTS, 90000.0) + " s)");
  if (h.PES_scrambling_control != 0)
    sink.AddDamage(node, "the PES packet is scrambled (PES_scrambling_control = " +
                             std::to_string(h.PES_scrambling_control) + ")", 8 * 6 + 2);
  return node;
}

} // namespace container_tree

void BuildContainerTree(const TByteSource& source, std::int64_t unitOffset, TTreeSink& sink) {
  const TContainerLayout* layout = source.Layout();
  if (!source.IsContainer() || layout == nullptr || layout->Chosen < 0 || unitOffset < 0) return;
  const container_tree::NodeId container = sink.AddChild(TTreeSink::kRoot, "Container");
  sink.AddChild(container, layout->KindName());
  // An I/O error must not take the video's own tree with it.
  const bool ran = Trap("BuildContainerTree", [&] {
    if (layout->Format.Kind == TContainerKind::Transport)
      container_tree::BuildTransportTree(source, *layout, unitOffset, sink, container);
    else
      container_tree::BuildProgramTree(source, *layout, unitOffset, sink, container);
  });
  if (!ran) sink.AddDamage(container, "the file could not be read here", 0);
}

} // namespace varlow
