#pragma once
#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "syntax/CodeTables.h"
#include "syntax/PictureCodingTypes.h"

namespace varlow {

inline constexpr std::uint32_t kNoIndex = 0xFFFFFFFFu;
// vbv_delay 0xFFFF: the picture gives no delay, the buffer runs at a variable rate.
inline constexpr std::uint16_t kVbvDelayVariable = 0xFFFF;

// One picture of the stream, kept for the whole file: 16 bytes each, so the 2.7 million small
// pictures of a 10 GiB file take 41 MiB. Size is the length of the picture's pack (picture start
// code up to the next picture, group, sequence header or sequence end start code), as the stream
// list shows it. Offsets and sizes take 48 bits (256 TiB). The group a picture follows is not
// stored: TOverviewData::GroupOf finds it among the group records.
class TPictureRecord {
public:
  enum Flag : std::uint8_t {
    kRepeatFirstField = 1 << 0,
    kTopFieldFirst = 1 << 1,
    kProgressiveFrame = 1 << 2,
    kHasCodingExtension = 1 << 3,    // MPEG-2 picture; MPEG-1 pictures have none
    kProgressiveSequence = 1 << 4,   // progressive_sequence of the sequence in force
    kDamaged = 1 << 5,               // header cut short or holding forbidden values
  };
  static constexpr int kStructureShift = 6;  // picture_structure in the two high bits of the flags
  static constexpr std::int64_t kMaxPosition = (std::int64_t{1} << 48) - 1;

  TPictureRecord() = default;
  TPictureRecord(std::int64_t offset, std::uint16_t temporalReference, std::uint8_t codingType) {
    SetOffset(offset);
    FPicture = (FPicture & kPositionMask) | std::uint64_t{temporalReference & 0x3FFu} << 48 |
               std::uint64_t{codingType & 7u} << 58;
  }

  std::int64_t Offset() const { return static_cast<std::int64_t>(FPicture & kPositionMask); }
  std::int64_t Size() const { return static_cast<std::int64_t>(FPack & kPositionMask); }
  std::uint16_t TemporalReference() const { return static_cast<std::uint16_t>(FPicture >> 48 & 0x3FF); }
  std::uint8_t CodingType() const { return static_cast<std::uint8_t>(FPicture >> 58 & 7); }  // picture_coding_type
  std::uint8_t Flags() const { return static_cast<std::uint8_t>(FPack >> 48); }

  void SetOffset(std::int64_t offset) { FPicture = (FPicture & ~kPositionMask) | Position(offset); }
  void SetSize(std::int64_t size) { FPack = (FPack & ~kPositionMask) | Position(size); }
  void AddFlags(std::uint8_t flags) { FPack |= std::uint64_t{flags} << 48; }

  bool Has(Flag flag) const { return (Flags() & flag) != 0; }
  std::uint8_t PictureStructure() const { return static_cast<std::uint8_t>(Flags() >> kStructureShift); }
  void SetPictureStructure(std::uint8_t structure) {
    const auto flags = static_cast<std::uint8_t>((Flags() & ((1u << kStructureShift) - 1)) | (structure & 3u) << kStructureShift);
    FPack = (FPack & ~(std::uint64_t{0xFF} << 48)) | std::uint64_t{flags} << 48;
  }
  bool IsField() const { return PictureStructure() == kTopField || PictureStructure() == kBottomField; }

private:
  static constexpr std::uint64_t kPositionMask = (std::uint64_t{1} << 48) - 1;
  // Offsets past 256 TiB cannot occur in a file; clamping keeps a wrong value from spilling into
  // the fields beside it.
  static std::uint64_t Position(std::int64_t v) { return static_cast<std::uint64_t>(std::clamp<std::int64_t>(v, 0, kMaxPosition)); }

  std::uint64_t FPicture = 0;                                    // offset, temporal_reference, coding type
  std::uint64_t FPack = std::uint64_t{kFramePicture << kStructureShift} << 48;  // size, flags
};
static_assert(sizeof(TPictureRecord) == 16, "a picture record stays small: memory grows with the pictures");

// One group of pictures. Its pictures run from FirstPicture up to the next group's first picture.
struct TGroupRecord {
  std::int64_t Offset = 0;
  std::uint32_t FirstPicture = 0;
  std::uint32_t TimeCode : 25 = 0;  // the 25-bit time_code
  std::uint32_t ClosedGop : 1 = 0;
  std::uint32_t BrokenLink : 1 = 0;
};
static_assert(sizeof(TGroupRecord) == 16, "a group record stays small");

// The parameters of a sequence header (and its extension). A new entry is kept only when a
// sequence header changes them, so a stream that repeats one header before every group has one.
struct TSequenceInfo {
  std::int64_t Offset = 0;  // first sequence header that set these values
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint32_t AspectRatioInformation = 0;
  std::uint32_t FrameRateCode = 0;
  std::uint32_t FrameRateExtensionN = 0;
  std::uint32_t FrameRateExtensionD = 0;
  std::uint64_t BitRateValue = 0;       // bit_rate in units of 400 bit/s, extension included
  std::uint32_t VbvBufferSizeValue = 0; // in units of 16 kbit, extension included
  std::uint32_t ProfileAndLevel = 0;
  std::uint32_t ChromaFormat = 1;       // 4:2:0 unless the extension says otherwise
  bool Mpeg2 = false;                   // a sequence extension follows the header
  bool ProgressiveSequence = true;      // MPEG-1 is always progressive
  bool LowDelay = false;
  bool ConstrainedParameters = false;

  bool SameParameters(const TSequenceInfo& other) const;
  // Frames per second with frame_rate_extension_n/d applied; 0 for a forbidden code.
  double FrameRate() const;
  std::int64_t BitRate() const { return static_cast<std::int64_t>(BitRateValue) * kBitRateUnit; }
  // MPEG-1's bit_rate 0x3FFFF marks a variable-rate stream: no rate is declared.
  static constexpr std::uint64_t kVariableBitRateValue = 0x3FFFF;
  bool VariableBitRate() const { return !Mpeg2 && BitRateValue == kVariableBitRateValue; }
  // The declared rate in bit/s; 0 for a variable-rate stream.
  std::int64_t DeclaredBitRate() const { return VariableBitRate() ? 0 : BitRate(); }
  std::int64_t VbvBufferBits() const { return std::int64_t{VbvBufferSizeValue} * kVbvBufferSizeUnit; }
};

// What the scan met besides pictures: where it stopped and why, and what it passed over.
struct TScanIssue {
  std::int64_t Offset = 0;
  std::string Text;
};

struct TScanReport {
  enum class End { Running, Complete, Cancelled, ReadFailed };
  End State = End::Running;
  std::int64_t FileSizeAtStart = 0;
  std::int64_t FileSizeAtEnd = 0;
  std::int64_t BytesScanned = 0;     // bytes read and searched
  std::int64_t VideoBytes = 0;       // video bytes among them (all of them in a plain file)
  std::int64_t FirstStartCodePos = -1;  // video bytes before the first start code; -1 when none
  std::int64_t FirstStartCode = -1;  // offset of the first start code; bytes before it are skipped
  std::int64_t SkippedBytes = 0;     // bytes before the first start code
  std::int64_t DamagedUnits = 0;     // damaged headers, stray slices and foreign start codes
  std::int64_t SequenceHeaders = 0;
  std::int64_t SequenceEndCodes = 0;
  std::vector<TScanIssue> Issues;    // the first kMaxIssues things skipped, with their offsets
  static constexpr std::size_t kMaxIssues = 100;
};

// Everything one scan of a file keeps. Memory grows with the pictures, never with the file.
struct TOverviewData {
  std::deque<TPictureRecord> Pictures;
  // Each picture's vbv_delay, beside its record (which has no room for 16 more bits); records
  // made without it read as kVbvDelayVariable.
  std::deque<std::uint16_t> VbvDelays;
  std::deque<TGroupRecord> Groups;
  std::vector<TSequenceInfo> Sequences;
  TScanReport Report;
  // Inside a container only: where each picture and group begins in the video bytes, which
  // differs there from its file offset by the packet headers before it.
  std::deque<std::int64_t> PicturePositions;
  std::deque<std::int64_t> GroupPositions;

  // Where picture i and group g begin in the video bytes.
  std::int64_t PicturePos(std::size_t i) const {
    return PicturePositions.empty() ? Pictures[i].Offset() : PicturePositions[i];
  }
  std::int64_t GroupPos(std::size_t g) const { return GroupPositions.empty() ? Groups[g].Offset : GroupPositions[g]; }

  // Pictures of group g (up to the next group's first picture, or the last picture).
  std::uint32_t GroupPictureCount(std::size_t g) const;
  // The group picture i follows (the last group whose first picture is at or before it), or
  // kNoIndex before the first group.
  std::uint32_t GroupOf(std::size_t i) const;
  // Bytes from picture i's start code up to the next picture's (the last: to the end of the
  // data scanned; the first: from the first start code): the picture with the headers that
  // follow it, what a decoder reads for it. The units of all pictures add up to the stream.
  std::int64_t UnitBytes(std::size_t i) const;
  std::uint16_t VbvDelay(std::size_t i) const { return i < VbvDelays.size() ? VbvDelays[i] : kVbvDelayVariable; }
  // The sequence in force for picture i: the last parameter set kept at or before its offset (the
  // first one for pictures before any header), or null when there is none.
  const TSequenceInfo* SequenceOf(std::size_t i) const;
};

} // namespace varlow
