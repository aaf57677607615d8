#include "browser/PackIndex.h"

#include <algorithm>
#include <limits>

#include "browser/StartCodeSearch.h"
#include "support/Format.h"
#include "support/Trap.h"
#include "syntax/CodeTables.h"
#include "syntax/HeaderParsers.h"

namespace varlow {

namespace {

constexpr std::int32_t kProbeSize = 2048;  // bytes IsPS looks at

std::int32_t ScrollPosOf(std::int64_t position) {
  const std::int64_t k = std::max<std::int64_t>(position, 0) / kScrollUnit;
  return static_cast<std::int32_t>(std::min<std::int64_t>(k, std::numeric_limits<std::int32_t>::max()));
}

} // namespace

bool IsIndexedStartCode(const std::uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 1 && IsIndexedCode(p[3]); }

const char* StartCodeName(std::uint8_t code) {
  switch (code) {
  case 0x00: return "PICTURE_START_CODE";
  case 0xB3: return "SEQUENCE_HEADER_CODE";
  case 0xB7: return "SEQUENCE_END_CODE";
  case 0xB8: return "GROUP_START_CODE";
  default: return "";
  }
}

std::int32_t GetPackLength(const std::uint8_t* data, std::int32_t available) {
  if (available <= 0) return available;
  // The start code at data itself is skipped: the pack ends where the next one begins.
  const std::size_t next = FindIndexedStartCode(data, 1, static_cast<std::size_t>(available));
  return next == kNotFound ? available : static_cast<std::int32_t>(next);
}

bool IsPS(const TFileStream& stream) {
  bool result = false;
  Trap("IsPS", [&] {
    std::uint8_t probe[kProbeSize];
    const auto n = static_cast<std::size_t>(stream.ReadAt(0, probe));
    for (std::size_t i = 0; i + 4 <= n; ++i) {
      if (probe[i] == 0 && probe[i + 1] == 0 && probe[i + 2] == 1 &&
          (probe[i + 3] == 0x00 || probe[i + 3] == 0xB8 || probe[i + 3] == 0xB3)) {
        result = true;
        return;
      }
    }
  });
  return result;
}

TPackIndex::TPackIndex() : FPacks(std::make_unique<std::array<TPackRec, kMaxPacks>>()) {}

void TPackIndex::SetStream(std::unique_ptr<TByteSource> stream) {
  std::lock_guard lock(FIndexLock);
  FStream = std::move(stream);
}

std::int64_t TPackIndex::FileSize() const {
  if (!FStream) return 0;
  return std::max<std::int64_t>(FStream->Size(), 0);
}

void TPackIndex::SetRowsPerPage(std::int32_t rows) { FRowsPerPage = std::max(rows, 0); }

std::int32_t TPackIndex::PageRows() const { return std::min(FVisibleRows.Value(), kMaxPacks); }

void TPackIndex::RefreshPosition(std::int64_t position) {
  std::lock_guard lock(FIndexLock);
  FVisibleRows.SetValue(FRowsPerPage);
  Trap("TForm1.RefreshPosition", [&] {
    FPackCount = 0;
    if (!FStream) return;
    std::uint8_t* buffer = FScanBuffer.Data();
    const std::int64_t n = FStream->ReadAt(position, {buffer, static_cast<std::size_t>(kScanReadSize)}, &FPlaces);
    const auto size = static_cast<std::size_t>(n);
    const std::int32_t rows = PageRows();
    std::size_t p = 0;
    while (FPackCount < rows) {
      // Bytes before a start code belong to no pack of this window: jump to the next code.
      p = FindIndexedStartCode(buffer, p, size);
      if (p == kNotFound) break;
      TPackRec& rec = (*FPacks)[static_cast<std::size_t>(FPackCount)];
      rec = TPackRec{};
      const auto available = static_cast<std::int32_t>(size - p);
      rec.Offset = FPlaces.OffsetOf(p);
      rec.Length = GetPackLength(buffer + p, available);
      std::copy_n(buffer + p, 4, rec.StartCode.begin());
      if (rec.StartCode[3] == 0x00 && FBitStream.SetData(buffer + p, available) == S_OK)
        Parse_picture_header(FBitStream, rec.PictureHeader);
      p += static_cast<std::size_t>(rec.Length);
      ++FPackCount;
    }
  });
  FVisibleRows.SetValue(FRowsPerPage);
  FWindowStart = position;
}

bool TPackIndex::SearchNextPackPositionFromPos(std::int64_t& position) {
  bool found = false;
  Trap("TForm1.SearchNextPackPositionFromPos", [&] {
    if (!FStream || position >= FStream->Size()) return;
    std::uint8_t* buffer = FScanBuffer.Data();
    const std::int64_t n = FStream->ReadAt(position, {buffer, static_cast<std::size_t>(kSearchReadSize)}, &FPlaces);
    if (n <= 0) return;
    const std::size_t q = FindIndexedStartCode(buffer, 0, static_cast<std::size_t>(n));
    if (q == kNotFound) return;
    position = FPlaces.OffsetOf(q);
    found = true;
  });
  return found;
}

bool TPackIndex::SearchPreviousPackPositionFromPos(std::int64_t& position) {
  bool found = false;
  Trap("TForm1.SearchPreviousPackPositionFromPos", [&] {
    if (!FStream || position >= FStream->Size()) return;
    const std::int64_t start = std::max<std::int64_t>(position - kSearchReadSize, 0);
    // Four bytes more, so that a start code beginning exactly at `position` is complete.
    const auto want = static_cast<std::size_t>(position - start + 4);
    std::uint8_t* buffer = FScanBuffer.Data();
    const std::int64_t n = FStream->ReadAt(start, {buffer, want}, &FPlaces);
    if (n <= 0) return;
    const std::size_t upTo = FPlaces.IndexAt(position + 1);
    if (upTo == 0) return;
    const std::size_t q = FindIndexedStartCodeBackward(buffer, upTo - 1, static_cast<std::size_t>(n));
    if (q == kNotFound) return;
    position = FPlaces.OffsetOf(q);
    found = true;
  });
  return found;
}

bool TPackIndex::SearchBackPackPositionFromPos(std::int64_t& position, std::int32_t count, std::uint32_t& code) {
  bool found = false;
  Trap("TForm1.SearchBackPackPositionFromPos", [&] {
    if (!FStream || position >= FStream->Size()) return;
    const std::int64_t origin = position;
    const std::int64_t start = std::max<std::int64_t>(origin - kBackSearchReadSize, 0);
    const auto want = static_cast<std::size_t>(origin - start + 4);
    std::uint8_t* buffer = FScanBuffer.Data();
    const std::int64_t n = FStream->ReadAt(start, {buffer, want}, &FPlaces);
    if (n <= 0) return;
    const auto size = static_cast<std::size_t>(n);
    const std::int32_t wanted = std::max(count, 1);
    const std::size_t upTo = FPlaces.IndexAt(origin + 1);
    if (upTo == 0) return;
    std::size_t from = upTo - 1;
    for (std::int32_t matches = 1;; ++matches) {
      const std::size_t q = FindIndexedStartCodeBackward(buffer, from, size);
      if (q == kNotFound) return;
      // Every match moves the result, so a shorter run still reports the furthest pack reached.
      position = FPlaces.OffsetOf(q);
      found = true;
      if (matches == wanted) {
        code = std::uint32_t{buffer[q]} << 24 | std::uint32_t{buffer[q + 1]} << 16 | std::uint32_t{buffer[q + 2]} << 8 |
               buffer[q + 3];
        return;
      }
      if (q == 0) return;
      from = q - 1;
    }
  });
  return found;
}

TPackRow TPackIndex::ListView1Data(std::int32_t item) const {
  TPackRow row;
  std::lock_guard lock(FIndexLock);
  Trap("TForm1.ListView1Data", [&] {
    if (item < 0 || item >= FVisibleRows.Value() || item >= FPackCount) return;
    const TPackRec& rec = (*FPacks)[static_cast<std::size_t>(item)];
    row[0] = "$" + HexUpper(static_cast<std::uint64_t>(rec.Offset), 8);
    row[1] = std::to_string(rec.Length);
    row[2] = StartCodeName(rec.StartCode[3]);
    if (rec.StartCode[3] == 0x00) {
      row[3] = CodingTypeName(rec.PictureHeader.picture_coding_type);
      row[4] = std::to_string(rec.PictureHeader.temporal_reference);
    }
  });
  return row;
}

std::int32_t TPackIndex::PackCount() const {
  std::lock_guard lock(FIndexLock);
  return FPackCount;
}

TPackRec TPackIndex::Pack(std::int32_t i) const {
  std::lock_guard lock(FIndexLock);
  if (i < 0 || i >= FPackCount) return TPackRec{};
  return (*FPacks)[static_cast<std::size_t>(i)];
}

bool TPackIndex::PageFull() const {
  std::lock_guard lock(FIndexLock);
  return FPackCount > 0 && FPackCount == PageRows();
}

std::int32_t TPackIndex::ScrollMax() const {
  const std::int64_t max = FileSize() / kScrollUnit - 1;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(max, 0, std::numeric_limits<std::int32_t>::max()));
}

void TPackIndex::MoveTo(std::int64_t position, std::int64_t scrollOrigin) {
  RefreshPosition(position);
  FScrollPos = ScrollPosOf(scrollOrigin);
}

std::int64_t TPackIndex::FirstOffset() const {
  std::lock_guard lock(FIndexLock);
  return FPackCount > 0 ? (*FPacks)[0].Offset : 0;
}

std::int64_t TPackIndex::LastOffset() const {
  std::lock_guard lock(FIndexLock);
  return FPackCount > 0 ? (*FPacks)[static_cast<std::size_t>(FPackCount - 1)].Offset : 0;
}

void TPackIndex::StepUp() {
  std::int64_t p = std::max<std::int64_t>(FirstOffset() - 4, 0);
  SearchPreviousPackPositionFromPos(p);
  MoveTo(p, p);
}

bool TPackIndex::StepDown() {
  if (!PageFull()) return false;
  const std::int64_t first = FirstOffset();
  const std::int64_t origin = first + 4;
  std::int64_t p = origin;
  if (SearchNextPackPositionFromPos(p)) MoveTo(p, p);
  else MoveTo(first, origin);  // nothing follows: the window stays where it is
  return true;
}

void TPackIndex::PageUp() {
  std::int64_t p = std::max<std::int64_t>(FirstOffset() - 4, 0);
  std::uint32_t code = 0;
  SearchBackPackPositionFromPos(p, PageRows(), code);
  MoveTo(p, p);
}

bool TPackIndex::PageDown() {
  if (!PageFull()) return false;
  const std::int64_t last = LastOffset();
  const std::int64_t origin = last + 4;
  std::int64_t p = origin;
  if (SearchNextPackPositionFromPos(p)) MoveTo(p, p);
  else MoveTo(last, origin);  // the last pack becomes row 0, so the list never turns empty
  return true;
}

void TPackIndex::Home() {
  std::int64_t p = 0;
  SearchNextPackPositionFromPos(p);
  MoveTo(p, p);
}

void TPackIndex::End() {
  std::int64_t p = std::max<std::int64_t>(FileSize() - 4, 0);
  std::uint32_t code = 0;
  SearchBackPackPositionFromPos(p, PageRows(), code);
  MoveTo(p, p);
}

void TPackIndex::JumpToScrollPos(std::int32_t k) {
  const std::int64_t target = std::int64_t{std::max(k, 0)} * kScrollUnit;
  std::int64_t p = target;
  if (!SearchNextPackPositionFromPos(p)) {
    p = target;
    SearchPreviousPackPositionFromPos(p);
  }
  MoveTo(p, p);
}

} // namespace varlow
