#pragma once
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "support/FileStream.h"
#include "support/PaddedBuffer.h"

namespace varlow {

class TContainerWalker;
struct TContainerLayout;

// Where the bytes of one read came from: runs of consecutive file bytes, each with the index in
// the read's destination where it begins and the file offset of its first byte. A plain file
// gives one run; the video inside a container one run per packet payload.
class TSourcePlaces {
public:
  struct TRun {
    std::size_t Index = 0;
    std::int64_t Offset = 0;
  };

  // A place where the container's packets do not follow its rules (a lost sync byte, a jump
  // of the continuity counter, a scrambled packet), found while reading.
  struct TDamage {
    std::int64_t Offset = 0;
    std::string What;
  };
  static constexpr std::size_t kMaxDamage = 64;

  void Clear() { FRuns.clear(); FCount = 0; FDamage.clear(); }
  // Appends `count` bytes read from `offset` on; joins them to the last run when they follow it
  // in the file.
  void Add(std::int64_t offset, std::size_t count);
  std::size_t Count() const { return FCount; }
  const std::vector<TRun>& Runs() const { return FRuns; }

  // File offset of byte `index` of the read; for index == Count() the offset just after the last
  // byte read (what a read that continues this one begins at). -1 when nothing was read.
  std::int64_t OffsetOf(std::size_t index) const;
  // Index of the first byte read whose file offset is `offset` or more; Count() when none is.
  std::size_t IndexAt(std::int64_t offset) const;

  void AddDamage(std::int64_t offset, std::string what) {
    if (FDamage.size() < kMaxDamage) FDamage.push_back({offset, std::move(what)});
  }
  const std::vector<TDamage>& Damage() const { return FDamage; }

private:
  std::vector<TDamage> FDamage;
  std::vector<TRun> FRuns;
  std::size_t FCount = 0;
};

// Everything reads the stream through this: a plain elementary-stream file, or the video inside
// a transport or program stream. Positions are always file offsets, so every view and command
// names the place where a byte sits in the file; what a read gives is video bytes, in stream
// order, with the container's packet and PES headers left out.
class TByteSource {
public:
  static constexpr std::int64_t kToEnd = std::numeric_limits<std::int64_t>::max();

  // A plain file, read as it is.
  explicit TByteSource(std::unique_ptr<TFileStream> file);
  // The video stream `layout` chose, inside the container in `file`.
  TByteSource(std::unique_ptr<TFileStream> file, std::shared_ptr<const TContainerLayout> layout);
  // A plain file opened by path, read as it is; null when it cannot be opened.
  static std::unique_ptr<TByteSource> OpenPlain(const std::string& path, TFileStream::Mode mode);
  ~TByteSource();
  TByteSource(const TByteSource&) = delete;
  TByteSource& operator=(const TByteSource&) = delete;

  const TFileStream& File() const { return *FFile; }
  TFileStream& File() { return *FFile; }
  const std::string& Path() const { return FFile->Path(); }
  bool Writable() const { return FFile->Writable(); }
  // Size of the file: every position lies in [0, Size()).
  std::int64_t Size() const { return FFile->Size(); }

  bool IsContainer() const { return FLayout != nullptr; }
  // The container's kind, streams and chosen video stream; null for a plain file.
  const TContainerLayout* Layout() const { return FLayout.get(); }
  std::shared_ptr<const TContainerLayout> SharedLayout() const { return FLayout; }

  // Reads the video bytes that lie at file offsets in [begin, end), in stream order, up to
  // dest.size() of them; returns the count (0 at or past the end). `places`, when given, tells
  // where each byte came from. Safe to call from several threads at once. Throws
  // std::runtime_error on an I/O error.
  std::int64_t ReadAt(std::int64_t begin, std::span<std::uint8_t> dest, TSourcePlaces* places = nullptr,
                      std::int64_t end = kToEnd) const;

private:
  std::unique_ptr<TFileStream> FFile;
  std::shared_ptr<const TContainerLayout> FLayout;
  std::unique_ptr<TContainerWalker> FWalker;
};

// ReadAt into the front of `buffer` (size <= buffer.Size()) with the reader padding after the
// bytes read zeroed, as ReadBlockAt does for a file.
std::int64_t ReadBlockAt(const TByteSource& source, std::int64_t position, TPaddedBuffer& buffer, std::size_t size,
                         TSourcePlaces* places = nullptr);

} // namespace varlow
