#pragma once
// Pieces the transport and program stream halves of BuildContainerTree share.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "container/ByteSource.h"
#include "container/ContainerLayout.h"
#include "support/TreeSink.h"

namespace varlow::container_tree {

using NodeId = TTreeSink::NodeId;

// How far back the tree looks for the PES packet or pack a unit begins in.
inline constexpr std::int64_t kWalkBackLimit = std::int64_t{64} << 20;

// Raw file bytes in 64 KiB pieces, for walks that go backwards as well as forwards: a miss
// reads the piece that ends just after the bytes asked for, so a backward walk costs one read
// per piece too.
class TFileBytes {
public:
  explicit TFileBytes(const TFileStream& file);
  // Up to `count` (<= 64 KiB) bytes from `position` on: fewer only at the file's end.
  std::span<const std::uint8_t> At(std::int64_t position, std::size_t count);
  std::int64_t Size() const { return FSize; }

private:
  const TFileStream& FFile;
  std::int64_t FSize;
  std::vector<std::uint8_t> FBytes;
  std::int64_t FStart = 0;
  std::size_t FValid = 0;
};

// Hands each element a header reader reports to the tree as "name = value (N bits)".
struct TElementNodes {
  TTreeSink& Sink;
  NodeId Parent;
  void operator()(const char* name, std::uint64_t value, std::int64_t bitPos, int width) const;
};

// "$0000027D": a file offset as the pack list shows it.
std::string OffsetText(std::int64_t offset);
// "1.483333": a clock value in seconds.
std::string Seconds(std::uint64_t ticks, double ticksPerSecond);

// Adds the PES header read from `bytes` (from its 00 00 01 on) as "PES_packet at $X" under
// `parent`, with its time stamps in seconds; a damage node when it does not parse. Returns
// the PES node.
NodeId AddPesHeader(TTreeSink& sink, NodeId parent, std::span<const std::uint8_t> bytes, std::int64_t fileOffset,
                  bool mpeg1Syntax);

void BuildTransportTree(const TByteSource& source, const TContainerLayout& layout, std::int64_t unitOffset,
                        TTreeSink& sink, NodeId container);
void BuildProgramTree(const TByteSource& source, const TContainerLayout& layout, std::int64_t unitOffset,
                      TTreeSink& sink, NodeId container);

} // namespace varlow::container_tree
