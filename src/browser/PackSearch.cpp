#include "browser/PackSearch.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

#include "browser/StartCodeSearch.h"
#include "overview/PictureTiming.h"
#include "slice/MPEGVideoViewer.h"

namespace varlow {

namespace {

// Bytes a block keeps for the next one: a start code and the picture type after it.
constexpr std::size_t kOverlap = 8;
constexpr std::uint8_t kIPicture = 1;
// How far back a search looks for the sequence header that governs its first picture.
constexpr std::int64_t kSequenceLookBack = 64 * 1024 * 1024;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

std::optional<std::int64_t> Digits(std::string_view text, int base) {
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    if (digit < 0) return std::nullopt;
    if (value > (std::numeric_limits<std::int64_t>::max() - digit) / base) return std::nullopt;
    value = value * base + digit;
  }
  return value;
}

bool StartsWithHexPrefix(std::string_view text) {
  return text.starts_with('$') || text.starts_with("0x") || text.starts_with("0X");
}

// Seconds of "12" or "12.5": digits with an optional fraction.
std::optional<double> DecimalSeconds(std::string_view text) {
  const std::size_t dot = text.find('.');
  const auto whole = Digits(text.substr(0, dot), 10);
  if (!whole) return std::nullopt;
  double value = static_cast<double>(*whole);
  if (dot != std::string_view::npos) {
    const std::string_view fraction = text.substr(dot + 1);
    double scale = 0.1;
    for (const char c : fraction) {
      if (c < '0' || c > '9') return std::nullopt;
      value += (c - '0') * scale;
      scale /= 10;
    }
  }
  return value;
}

// First 00 00 01 at or after `from` whose code byte lies below `size`.
std::size_t FindAnyStartCode(const std::uint8_t* data, std::size_t from, std::size_t size) {
  if (size < 4) return kNotFound;
  for (std::size_t j = from + 2; j + 1 < size;) {
    const void* hit = std::memchr(data + j, 0x01, size - 1 - j);
    if (hit == nullptr) return kNotFound;
    j = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
    if (data[j - 1] == 0 && data[j - 2] == 0) return j - 2;
    ++j;
  }
  return kNotFound;
}

}  // namespace

std::optional<std::int64_t> ParseOffset(std::string_view text) {
  text = Trimmed(text);
  if (text.starts_with('$')) return Digits(text.substr(1), 16);
  if (text.starts_with("0x") || text.starts_with("0X")) return Digits(text.substr(2), 16);
  return Digits(text, 10);
}

std::optional<double> ParseTime(std::string_view text) {
  text = Trimmed(text);
  if (text.ends_with('s')) text.remove_suffix(1);
  // Fields before the last are whole hours and minutes; the last holds the seconds.
  double total = 0;
  int fields = 0;
  for (std::size_t colon; (colon = text.find(':')) != std::string_view::npos;) {
    const auto field = Digits(text.substr(0, colon), 10);
    if (!field || ++fields > 2) return std::nullopt;
    total = total * 60 + static_cast<double>(*field);
    text.remove_prefix(colon + 1);
  }
  const auto seconds = DecimalSeconds(text);
  if (!seconds || (fields > 0 && *seconds >= 60)) return std::nullopt;
  return total * 60 + *seconds;
}

std::optional<std::uint8_t> ParseStartCode(std::string_view text) {
  text = Trimmed(text);
  if (StartsWithHexPrefix(text)) text.remove_prefix(text.starts_with('$') ? 1 : 2);
  const auto value = text.size() <= 8 ? Digits(text, 16) : std::nullopt;
  // A whole code (000001B3, 1B3) or its last byte (B3).
  if (!value || (*value > 0xFF && (*value & ~std::int64_t{0xFF}) != 0x100)) return std::nullopt;
  return static_cast<std::uint8_t>(*value & 0xFF);
}

std::optional<TGoToTarget> ParseGoToTarget(std::string_view text) {
  text = Trimmed(text);
  if (text.starts_with('#') || text.starts_with('p') || text.starts_with('P')) {
    const auto number = Digits(Trimmed(text.substr(1)), 10);
    if (!number) return std::nullopt;
    return TGoToTarget{TGoToTarget::Kind::Picture, *number, 0};
  }
  if (!StartsWithHexPrefix(text) && (text.find(':') != std::string_view::npos || text.ends_with('s'))) {
    const auto seconds = ParseTime(text);
    if (!seconds) return std::nullopt;
    return TGoToTarget{TGoToTarget::Kind::Time, 0, *seconds};
  }
  const auto offset = ParseOffset(text);
  if (!offset) return std::nullopt;
  return TGoToTarget{TGoToTarget::Kind::Offset, *offset, 0};
}

std::int64_t PackHolding(TPackIndex& index, std::int64_t offset) {
  std::int64_t p = std::clamp<std::int64_t>(offset, 0, std::max<std::int64_t>(index.FileSize() - 1, 0));
  if (index.SearchPreviousPackPositionFromPos(p)) return p;
  return index.SearchNextPackPositionFromPos(p) ? p : -1;
}

std::optional<std::int64_t> PictureOffset(const TOverviewData& data, std::int64_t number) {
  if (number < 0 || static_cast<std::uint64_t>(number) >= data.Pictures.size()) return std::nullopt;
  return data.Pictures[static_cast<std::size_t>(number)].Offset();
}

std::optional<std::int64_t> PictureOffsetAtTime(const TOverviewData& data, double seconds) {
  if (data.Pictures.empty() || seconds < 0) return std::nullopt;
  TPictureClock clock(data);
  double start = 0;
  for (std::size_t i = 0; i + 1 < data.Pictures.size(); ++i) {
    start += clock.Seconds(i);
    if (start > seconds) return data.Pictures[i].Offset();
  }
  return data.Pictures.back().Offset();
}

TPackSearch::TPackSearch(const TByteSource& source, TFindTarget target, std::size_t blockSize)
    : FSource(source),
      FTarget(target),
      FBlockSize(std::max<std::size_t>(blockSize, 64)),
      FBlock(FBlockSize),
      FPicture(static_cast<std::size_t>(kSearchReadSize)),
      FSequence(static_cast<std::size_t>(kSequenceReadSize)) {}

TFindStep TPackSearch::Step(std::int64_t from, std::int64_t budget, bool inclusive) {
  TFindStep step;
  const std::int64_t size = FSource.Size();
  std::int64_t pos = inclusive ? from : from + 1;
  for (std::int64_t looked = 0; looked < std::max<std::int64_t>(budget, 1);) {
    TSourcePlaces places;
    const std::int64_t n = pos < size ? FSource.ReadAt(std::max<std::int64_t>(pos, 0), FBlock.Span(), &places) : 0;
    if (n < 4) {
      step.AtEnd = true;
      step.Resume = size;
      return step;
    }
    std::memset(FBlock.Data() + n, 0, kReaderPadding);
    const auto count = static_cast<std::size_t>(n);
    const bool last = count < FBlockSize;
    // Codes from here on are looked at again by the next block, with the bytes after them.
    std::size_t next = last ? count : count - kOverlap;
    const std::uint8_t* data = FBlock.Data();
    for (std::size_t i = FindAnyStartCode(data, 0, count); i != kNotFound && i < next;
         i = FindAnyStartCode(data, i + 1, count)) {
      const std::uint8_t code = data[i + 3];
      const std::int64_t offset = places.OffsetOf(i);
      if (code == 0xB3) FSequenceOffset = offset;
      bool found = false;
      if (FTarget.What == TFindTarget::Kind::StartCode) {
        found = code == FTarget.Code;
      } else if (code == 0x00 && FTarget.What == TFindTarget::Kind::IPicture) {
        found = i + 5 < count && ((data[i + 5] >> 3) & 7) == kIPicture;
      } else if (code == 0x00) {
        if (FSequenceOffset < 0) FSequenceOffset = SequenceHeaderBefore(offset);
        if (FSequenceOffset < 0) continue;  // no sequence header: its slices cannot be read
        const std::size_t end = FindIndexedStartCode(data, i + 4, count);
        std::int32_t slice = -1;
        if (end != kNotFound || last) {
          // The whole picture lies in the block, with readable bytes after it.
          if (FLoadedSequence != FSequenceOffset) {
            FSequenceBytes = ReadBlockAt(FSource, FSequenceOffset, FSequence, FSequence.Size());
            FLoadedSequence = FSequenceOffset;
          }
          TMPEGVideoViewer viewer;
          viewer.DecodeFrame(FSequence.Data(), static_cast<std::int32_t>(FSequenceBytes));
          viewer.SetSlice(data + i, static_cast<std::int32_t>((end == kNotFound ? count : end) - i), -1);
          for (const auto& trace : viewer.SliceTraces())
            if (trace.InvalidCodes > 0) {
              slice = trace.SliceIndex;
              break;
            }
        } else if (i > 0) {
          next = i;  // the next block begins with this picture
          break;
        } else {
          slice = FirstDamagedSlice(offset);  // larger than a block: read on its own
        }
        found = slice >= 0;
        step.Slice = slice;
      }
      if (found) {
        step.Found = true;
        step.Offset = offset;
        return step;
      }
    }
    if (last) {
      step.AtEnd = true;
      step.Resume = size;
      return step;
    }
    looked += static_cast<std::int64_t>(next);
    pos = places.OffsetOf(next);
  }
  step.Resume = pos;
  return step;
}

std::int32_t TPackSearch::FirstDamagedSlice(std::int64_t offset) {
  if (FLoadedSequence != FSequenceOffset) {
    FSequenceBytes = ReadBlockAt(FSource, FSequenceOffset, FSequence, FSequence.Size());
    FLoadedSequence = FSequenceOffset;
  }
  const std::int64_t n = ReadBlockAt(FSource, offset, FPicture, FPicture.Size());
  TMPEGVideoViewer viewer;
  viewer.DecodeFrame(FSequence.Data(), static_cast<std::int32_t>(FSequenceBytes));
  viewer.SetSlice(FPicture.Data(), static_cast<std::int32_t>(n), -1);
  for (const auto& trace : viewer.SliceTraces())
    if (trace.InvalidCodes > 0) return trace.SliceIndex;
  return -1;
}

std::int64_t TPackSearch::SequenceHeaderBefore(std::int64_t offset) {
  // Back in reads that overlap by a start code, nearest first, into the picture buffer: the
  // block being searched stays as it is.
  const std::size_t readSize = std::min(FPicture.Size(), FBlockSize);
  std::int64_t end = offset;
  while (end > 0 && offset - end < kSequenceLookBack) {
    const std::int64_t begin = std::max<std::int64_t>(end - static_cast<std::int64_t>(readSize) + 4, 0);
    TSourcePlaces places;
    const std::int64_t n = FSource.ReadAt(begin, {FPicture.Data(), readSize}, &places, end);
    if (n < 4) return -1;
    const auto count = static_cast<std::size_t>(n);
    std::int64_t found = -1;
    for (std::size_t i = FindAnyStartCode(FPicture.Data(), 0, count); i != kNotFound;
         i = FindAnyStartCode(FPicture.Data(), i + 1, count))
      if (FPicture.Data()[i + 3] == 0xB3) found = places.OffsetOf(i);
    if (found >= 0) return found;
    if (begin == 0) return -1;
    end = begin + 3;
  }
  return -1;
}

}  // namespace varlow
