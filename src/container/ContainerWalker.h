#pragma once
#include <cstdint>
#include <memory>
#include <span>

#include "container/ByteSource.h"
#include "container/ContainerLayout.h"
#include "support/FileStream.h"

namespace varlow {

// Walks a container's packets over a range of the file and gives the chosen video stream's
// payload bytes, in stream order, with where each came from. Stateless between reads: each
// read finds its way into the packets from its first position, so any position can be read
// without a pass over what lies before it.
class TContainerWalker {
public:
  virtual ~TContainerWalker() = default;
  virtual std::int64_t Read(const TFileStream& file, std::int64_t begin, std::int64_t end, std::span<std::uint8_t> dest,
                            TSourcePlaces* places) const = 0;
};

std::unique_ptr<TContainerWalker> MakeContainerWalker(const TContainerLayout& layout);

// A window of file bytes for the walkers: the bytes at a position, read in large pieces so
// that walking packet by packet costs one read per piece.
class TFileWindow {
public:
  TFileWindow(const TFileStream& file, std::int64_t fileSize, std::size_t pieceSize);
  // At least `count` bytes from `position` on (fewer only at the file's end): a pointer to them
  // and how many are there.
  std::span<const std::uint8_t> At(std::int64_t position, std::size_t count);
  std::int64_t FileSize() const { return FSize; }

private:
  const TFileStream& FFile;
  std::int64_t FSize;
  std::vector<std::uint8_t> FBytes;
  std::int64_t FStart = 0;
  std::size_t FValid = 0;
};

// Bytes the program stream unit (pack header, system header, PES packet, end code) at `at`
// takes; 0 at the file's end; -1 where no unit starts.
std::int64_t ProgramUnitLength(TFileWindow& window, std::int64_t at);

} // namespace varlow
