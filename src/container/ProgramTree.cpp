// The program stream half of the container tree: the pack a unit begins in, its system header
// and the PES header of the PES packet that holds the unit's first byte.
#include <optional>
#include <string>

#include "container/ContainerTreeParts.h"
#include "container/PackHeader.h"
#include "container/PesHeader.h"
#include "support/Format.h"

namespace varlow::container_tree {

namespace {

// Pack headers tried, nearest first, before the search gives up: a 00 00 01 BA inside another
// stream's payload does not read as a pack header.
constexpr int kPackCandidates = 16;
// Elements walked forward from a pack header to the unit.
constexpr int kWalkSteps = 1 << 16;
// Enough for any pack header (14 + 7 stuffing bytes).
constexpr std::size_t kPackHeaderMax = 32;

struct TPackWalk {
  std::int64_t Pack = -1;
  TPackHeader Header;
  std::int64_t SystemHeader = -1;  // in this pack; -1 when it has none
  std::int64_t Pes = -1;           // the PES packet holding the unit's first byte
  std::string Wrong;               // why the walk did not reach the unit
};

bool IsStartCode(std::span<const std::uint8_t> b, std::uint8_t code) {
  return b.size() >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] == code;
}

// The nearest pack header before `unitOffset` (within the walk-back limit) that reads as one.
std::optional<std::int64_t> FindPack(TFileBytes& bytes, std::int64_t unitOffset, TPackHeader& header) {
  TNoElements none;
  int tried = 0;
  for (std::int64_t at = unitOffset - 4; at >= 0 && unitOffset - at <= kWalkBackLimit; --at) {
    const auto b = bytes.At(at, 4);
    if (!IsStartCode(b, kPackStartCode)) continue;
    header = ReadPackHeader(bytes.At(at, kPackHeaderMax), none);
    if (header.Ok) return at;
    if (++tried >= kPackCandidates) break;
  }
  return std::nullopt;
}

// Walks from the pack header over the pack's elements to the PES packet holding `unitOffset`.
TPackWalk WalkPack(TFileBytes& bytes, std::int64_t packAt, const TPackHeader& header, std::int64_t unitOffset) {
  TPackWalk walk;
  walk.Pack = packAt;
  walk.Header = header;
  std::int64_t at = packAt + header.Size;
  for (int step = 0; step < kWalkSteps && at <= unitOffset; ++step) {
    const auto b = bytes.At(at, 6);
    if (b.size() < 4 || b[0] != 0 || b[1] != 0 || b[2] != 1) {
      walk.Wrong = "no start code at " + OffsetText(at) + " where the pack's next element should begin";
      return walk;
    }
    const std::uint8_t id = b[3];
    if (id == kProgramEndCode) {
      at += 4;
      continue;
    }
    if (id == kPackStartCode) {
      walk.Wrong = "the pack ends at " + OffsetText(at) + " before the unit";
      return walk;
    }
    if (id < kSystemHeaderStartCode || b.size() < 6) {
      walk.Wrong = Format("start code $%.2x at %s is no pack element", {id, OffsetText(at)});
      return walk;
    }
    const std::int64_t length = 6 + (std::int64_t{b[4]} << 8 | b[5]);
    if (id == kSystemHeaderStartCode) {
      walk.SystemHeader = at;
    } else if (unitOffset < at + length) {
      walk.Pes = at;
      return walk;
    } else if (length == 6) {
      walk.Wrong = "the PES packet at " + OffsetText(at) + " gives no length";
      return walk;
    }
    at += length;
  }
  walk.Wrong = "no PES packet of the pack holds the unit";
  return walk;
}

void AddPackHeader(TTreeSink& sink, NodeId container, TFileBytes& bytes, std::int64_t packAt) {
  const NodeId node = sink.AddChild(container, "pack_header at " + OffsetText(packAt));
  TElementNodes elements{sink, node};
  const TPackHeader h = ReadPackHeader(bytes.At(packAt, kPackHeaderMax), elements);
  sink.SetRange(node, 0, h.Size * 8);
  if (h.Mpeg2)
    sink.AddChild(node, "SCR = " + std::to_string(h.Scr()) + " (" + Seconds(h.Scr(), 27e6) + " s)");
  else
    sink.AddChild(node, "SCR = " + std::to_string(h.system_clock_reference_base) + " (" +
                            Seconds(h.system_clock_reference_base, 90000.0) + " s)");
  sink.AddChild(node, Format("mux rate = 50 x %d = %d bytes/s", {h.program_mux_rate, std::int64_t{50} * h.program_mux_rate}));
}

void AddSystemHeader(TTreeSink& sink, NodeId container, TFileBytes& bytes, std::int64_t at) {
  const NodeId node = sink.AddChild(container, "system_header at " + OffsetText(at));
  const auto b = bytes.At(at, 6 + 0xFFFF);
  TElementNodes elements{sink, node};
  const TSystemHeader h = ReadSystemHeader(b, elements);
  sink.SetRange(node, 0, h.Size * 8);
  if (!h.Ok) sink.AddDamage(node, "the system header at " + OffsetText(at) + " does not parse", 0);
}

} // namespace

void BuildProgramTree(const TByteSource& source, const TContainerLayout& layout, std::int64_t unitOffset,
                      TTreeSink& sink, NodeId container) {
  TFileBytes bytes(source.File());
  TPackHeader header;
  const std::optional<std::int64_t> packAt = FindPack(bytes, unitOffset, header);
  if (!packAt) {
    sink.AddChild(container, "no pack header in the 64 MiB before this unit");
    return;
  }
  const TPackWalk walk = WalkPack(bytes, *packAt, header, unitOffset);
  AddPackHeader(sink, container, bytes, *packAt);
  if (walk.SystemHeader >= 0) AddSystemHeader(sink, container, bytes, walk.SystemHeader);
  if (walk.Pes < 0) {
    sink.AddDamage(container, walk.Wrong, 0);
    return;
  }
  // The PES header's optional part takes at most 3 + 255 bytes after the fixed six.
  AddPesHeader(sink, container, bytes.At(walk.Pes, 6 + 3 + 255), walk.Pes, layout.Format.Mpeg1System);
}

} // namespace varlow::container_tree
