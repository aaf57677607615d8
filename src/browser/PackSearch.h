#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "browser/PackIndex.h"
#include "container/ByteSource.h"
#include "overview/OverviewRecords.h"

namespace varlow {

// A file offset as typed: "0x1A2B" or "$1A2B" (hexadecimal), "6699" (decimal); spaces around
// it are ignored. Nothing for an empty, negative, malformed or too large value.
std::optional<std::int64_t> ParseOffset(std::string_view text);

// A time as typed: seconds ("90", "90.5", "90s"), "m:ss" or "h:mm:ss", each with an optional
// fraction ("1:02:03.5"). Nothing for a malformed or negative time.
std::optional<double> ParseTime(std::string_view text);

// The byte after 00 00 01 of a start code, always hexadecimal: "B3", "0xB3", "$B3", "1B3" or
// "000001B3".
std::optional<std::uint8_t> ParseStartCode(std::string_view text);

// Where Go To goes: "#120" or "p120" is picture 120 (counted from 0 in stream order), a time
// has a colon or ends with "s" ("1:30", "90s"), anything else is a file offset.
struct TGoToTarget {
  enum class Kind { Offset, Picture, Time };
  Kind What = Kind::Offset;
  std::int64_t Value = 0;  // offset or picture number
  double Seconds = 0;
};
std::optional<TGoToTarget> ParseGoToTarget(std::string_view text);

// The offset of the pack that holds `offset`: the last indexed start code at or before it, or
// the first one after it when none comes before; -1 when the file has none near it.
std::int64_t PackHolding(TPackIndex& index, std::int64_t offset);

// Picture `number` of a scan (stream order, from 0), or the picture on show at `seconds` from
// the first picture's start (the last picture for a later time): its start code's offset.
// Nothing when the scan holds no such picture.
std::optional<std::int64_t> PictureOffset(const TOverviewData& data, std::int64_t number);
std::optional<std::int64_t> PictureOffsetAtTime(const TOverviewData& data, double seconds);

// What Find Next looks for.
struct TFindTarget {
  enum class Kind { IPicture, StartCode, DamagedSlice };
  Kind What = Kind::IPicture;
  std::uint8_t Code = 0;  // for StartCode: the byte after 00 00 01
};

// One bounded step of a forward search. Found: the match's start code offset (for a damaged
// slice, the picture's) and the slice's index in its picture. Otherwise Resume is where the
// next step goes on (AtEnd when the file has been searched to its end).
struct TFindStep {
  bool Found = false;
  std::int64_t Offset = -1;
  std::int32_t Slice = -1;
  std::int64_t Resume = 0;
  bool AtEnd = false;
};

// Searches a file forward for start codes and, for damaged slices, explains every slice of each
// picture (silently) until one holds a code no table knows. Reads bounded blocks: a step looks at
// about `budget` bytes, so a caller can show progress and stop between steps. Not for use by two
// threads at once; the source may be read by others meanwhile.
class TPackSearch {
 public:
  static constexpr std::size_t kDefaultBlockSize = 4 * 1024 * 1024;
  // `blockSize`: bytes of one read (at least 64; smaller ones for tests of codes across reads).
  TPackSearch(const TByteSource& source, TFindTarget target, std::size_t blockSize = kDefaultBlockSize);

  // The first match whose start code begins after `from` (strictly), or at `from` itself when
  // `inclusive` (a resumed step).
  TFindStep Step(std::int64_t from, std::int64_t budget, bool inclusive = false);

 private:
  // Slices of the picture at `offset` with a damaged code; -1 when all are sound.
  std::int32_t FirstDamagedSlice(std::int64_t offset);
  // The last sequence header at or before `offset` (bounded backward reads); -1 when none.
  std::int64_t SequenceHeaderBefore(std::int64_t offset);

  const TByteSource& FSource;
  TFindTarget FTarget;
  std::size_t FBlockSize;
  TPaddedBuffer FBlock;
  TPaddedBuffer FPicture;
  TPaddedBuffer FSequence;
  std::int64_t FSequenceOffset = -1;  // governing sequence header of the pictures ahead
  std::int64_t FLoadedSequence = -1;  // whose bytes FSequence holds
  std::int64_t FSequenceBytes = 0;
};

}  // namespace varlow
