#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "container/ByteSource.h"
#include "support/FileStream.h"
#include "support/LockedVariable.h"
#include "support/PaddedBuffer.h"
#include "syntax/BitStream3.h"
#include "syntax/HeaderRecords.h"

namespace varlow {

inline constexpr std::int32_t kMaxPacks = 256;                // capacity of the index window
inline constexpr std::int32_t kScanReadSize = 5 * 1024 * 1024;  // one refill read
inline constexpr std::int32_t kSearchReadSize = 2 * 1024 * 1024;  // forward/previous search, pack read
inline constexpr std::int32_t kBackSearchReadSize = 4 * 1024 * 1024;
inline constexpr std::int32_t kSequenceReadSize = 1024 * 1024;
inline constexpr std::int64_t kScrollUnit = 100;              // bytes per scroll-bar step

// One indexed start code's stretch of the file.
struct TPackRec {
  std::int64_t Offset = 0;
  std::int32_t Length = 0;
  std::array<std::uint8_t, 4> StartCode{};
  TSequenceHeaderRec SequenceHeader{};
  TSequenceExtensionRec SequenceExtension{};
  TGOPHeaderRec GOPHeader{};
  TPictureHeaderRec PictureHeader{};
  TPictureCodingExtensionRec PictureCodingExtension{};
};

// The five texts of one list row: Offset, Len, Start Code, Coding Type, Frame #.
using TPackRow = std::array<std::string, 5>;

// True when the four bytes at p are 00 00 01 followed by 00, B3, B7 or B8.
bool IsIndexedStartCode(const std::uint8_t* p);
// "PICTURE_START_CODE", "SEQUENCE_HEADER_CODE", "SEQUENCE_END_CODE", "GROUP_START_CODE" or "".
const char* StartCodeName(std::uint8_t code);
// Length of the pack whose start code is at data, given `available` readable bytes.
std::int32_t GetPackLength(const std::uint8_t* data, std::int32_t available);
// Whether a newly opened file looks like a video elementary stream (first 2,048 bytes).
bool IsPS(const TFileStream& stream);

// The index window over the open file and everything the main window does with it that is not
// a widget: the refill scan, the three position searches, the row texts and the moves of the
// list (step, page, home, end, jump). The window owns one; the command-line tool makes its own.
// Failures are trapped and logged under the main window's names ("TForm1.RefreshPosition").
class TPackIndex {
public:
  TPackIndex();
  TPackIndex(const TPackIndex&) = delete;
  TPackIndex& operator=(const TPackIndex&) = delete;

  // The open file's video (null when none). Setting a new one does not refill.
  void SetStream(std::unique_ptr<TByteSource> stream);
  TByteSource* Stream() const { return FStream.get(); }
  std::int64_t FileSize() const;  // 0 when no file is open

  // Rows the list shows per page; RefreshPosition uses the value set last.
  void SetRowsPerPage(std::int32_t rows);
  std::int32_t VisibleRows() const { return FVisibleRows.Value(); }

  // Refill the window by scanning forward from `position`; records it in WindowStart.
  void RefreshPosition(std::int64_t position);
  // On "found" the searches write the position (and code) and return true; otherwise they
  // leave the caller's variables unchanged.
  bool SearchNextPackPositionFromPos(std::int64_t& position);
  bool SearchPreviousPackPositionFromPos(std::int64_t& position);
  bool SearchBackPackPositionFromPos(std::int64_t& position, std::int32_t count, std::uint32_t& code);

  // Row i of the list, as ListView1Data fills it (empty texts beyond PackCount).
  TPackRow ListView1Data(std::int32_t item) const;

  std::int32_t PackCount() const;
  TPackRec Pack(std::int32_t i) const;  // copy of record i (0 <= i < PackCount)
  std::int64_t WindowStart() const { return FWindowStart; }
  // PackCount == VisibleRows (capped at the 256 records the window holds); false when empty.
  bool PageFull() const;

  // Moves of the list. Each refills the window and sets ScrollPos = P div 100 as the main
  // window's navigation does; Step/PageDown return false (and move nothing) when the page is
  // not full.
  void StepUp();
  bool StepDown();
  void PageUp();
  bool PageDown();
  void Home();
  void End();
  void JumpToScrollPos(std::int32_t k);
  std::int32_t ScrollPos() const { return FScrollPos; }
  void SetScrollPos(std::int32_t k) { FScrollPos = k; }
  // Scroll bar range for the open file: maximum = size div 100 - 1, never below 0.
  std::int32_t ScrollMax() const;

  // The two 5 MiB work buffers (readable padding included) and the header reader, shared
  // with the detail view, the slice request and the transrate command.
  TPaddedBuffer& ScanBuffer() { return FScanBuffer; }
  TPaddedBuffer& DataBuffer() { return FDataBuffer; }
  TBitStream3& BitStream() { return FBitStream; }
  std::recursive_mutex& IndexLock() const { return FIndexLock; }

private:
  // Refills from `position` and sets ScrollPos from `scrollOrigin` (the two differ only when a
  // step or page down found nothing after the window).
  void MoveTo(std::int64_t position, std::int64_t scrollOrigin);
  // Rows a page holds: the rows per page, capped at the record capacity.
  std::int32_t PageRows() const;
  std::int64_t FirstOffset() const;  // first record's offset, 0 when the window is empty
  std::int64_t LastOffset() const;

  std::unique_ptr<TByteSource> FStream;
  TSourcePlaces FPlaces;  // where the bytes of the last read came from
  TLockedInteger FVisibleRows;
  mutable std::recursive_mutex FIndexLock;
  TPaddedBuffer FScanBuffer{kScanReadSize};
  TPaddedBuffer FDataBuffer{kScanReadSize};
  std::unique_ptr<std::array<TPackRec, kMaxPacks>> FPacks;
  std::int32_t FPackCount = 0;
  std::int64_t FWindowStart = 0;
  std::int32_t FScrollPos = 0;
  std::int32_t FRowsPerPage = 0;
  TBitStream3 FBitStream;
};

} // namespace varlow
