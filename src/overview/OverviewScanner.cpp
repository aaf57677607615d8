#include "overview/OverviewScanner.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "overview/PictureFields.h"
#include "overview/ReadAhead.h"
#include "overview/StartCodeFinder.h"
#include "support/Format.h"
#include "support/PaddedBuffer.h"
#include "support/Trap.h"
#include "syntax/HeaderParsers.h"
#include "syntax/StartCodes.h"

namespace varlow {

namespace {

// The stream's state between start codes, and the records found since the last publication.
class TScanState {
public:
  TScanState(TScanReport& report, bool keepPositions) : FReport(report), FKeepPositions(keepPositions) {}

  // One start code at file offset `offset`, `streamPos` video bytes into the stream; `bytes`
  // holds `available` bytes from it on, with readable zero padding behind them.
  void StartCode(std::int64_t offset, std::int64_t streamPos, const std::uint8_t* bytes, std::size_t available);
  // The video ends `end` bytes into the stream: the open picture's pack ends there.
  void Finish(std::int64_t end) { ClosePicture(end); }

  // Hands the records found so far to `data` (the caller holds the lock).
  void Publish(TOverviewData& data);

private:
  void ClosePicture(std::int64_t end);
  void SequenceHeader(std::int64_t offset, TBitStream3& reader);
  void SequenceExtension(TBitStream3& reader);
  void GroupHeader(std::int64_t offset, TBitStream3& reader);
  void PictureHeader(std::int64_t offset, const std::uint8_t* bytes, std::size_t available);
  void PictureCodingExtension(const std::uint8_t* bytes, std::size_t available);
  void CodingExtensionFields(const TCodingExtensionFields& fields);
  // Points the bit reader at the header in `bytes`; false when it cannot take it.
  bool SetReader(const std::uint8_t* bytes, std::size_t available);
  std::uint32_t CurrentSequenceIndex();
  void Damaged(std::int64_t offset, const std::string& text);

  TScanReport& FReport;
  const bool FKeepPositions;  // the video positions differ from the file offsets
  std::int64_t FStreamPos = 0;  // of the start code being handled
  TBitStream3 FReader;
  TPictureHeaderRec FPictureScratch;  // the fast picture header read's record

  std::optional<TPictureRecord> FOpenPicture;  // its pack is still running
  std::uint16_t FOpenVbvDelay = kVbvDelayVariable;
  std::int64_t FOpenPicturePos = 0;            // where it begins in the video bytes
  bool FAwaitingCodingExtension = false;       // after a picture header, before its first slice
  bool FAwaitingSequenceExtension = false;
  bool FStraySlicesReported = false;
  std::uint32_t FPictureCount = 0;             // pictures found, published or not
  std::uint32_t FGroupCount = 0;
  std::uint32_t FSequenceCount = 0;            // distinct parameter sets kept
  TSequenceInfo FSequence;                     // the parameters in force
  TSequenceInfo FLastKept;
  bool FSequenceSeen = false;
  bool FSequenceDirty = false;

  std::vector<TPictureRecord> FPictures;
  std::vector<std::uint16_t> FVbvDelays;
  std::vector<TGroupRecord> FGroups;
  std::vector<TSequenceInfo> FSequences;
  std::vector<std::int64_t> FPicturePositions;
  std::vector<std::int64_t> FGroupPositions;
};

std::string Hex(std::int64_t offset) { return Format("$%.8x", {offset}); }

void TScanState::Damaged(std::int64_t offset, const std::string& text) {
  ++FReport.DamagedUnits;
  if (FReport.Issues.size() < TScanReport::kMaxIssues) FReport.Issues.push_back({offset, text});
}

void TScanState::ClosePicture(std::int64_t end) {
  if (!FOpenPicture) return;
  FOpenPicture->SetSize(end - FOpenPicturePos);
  FPictures.push_back(*FOpenPicture);
  FVbvDelays.push_back(FOpenVbvDelay);
  if (FKeepPositions) FPicturePositions.push_back(FOpenPicturePos);
  FOpenPicture.reset();
}

void TScanState::StartCode(std::int64_t offset, std::int64_t streamPos, const std::uint8_t* bytes,
                           std::size_t available) {
  FStreamPos = streamPos;
  const std::uint8_t code = bytes[3];
  if (IsSliceCode(code)) {
    FAwaitingCodingExtension = false;
    if (!FOpenPicture && !FStraySlicesReported) {
      FStraySlicesReported = true;  // one report per run of slices, not one per slice
      Damaged(offset, "slices outside a picture at " + Hex(offset));
    }
    return;
  }
  // The two headers every picture has come first, read by the small readers when they can.
  if (code == 0x00) {
    ClosePicture(streamPos);
    FAwaitingSequenceExtension = false;
    FStraySlicesReported = false;
    PictureHeader(offset, bytes, available);
    if (FOpenPicture) FOpenPicturePos = streamPos;
    return;
  }
  if (code == 0xB5 && FAwaitingCodingExtension && available > 4 && bytes[4] >> 4 == kPictureCodingExtensionId) {
    PictureCodingExtension(bytes, available);
    return;
  }
  const bool indexed = code == 0xB3 || code == 0xB7 || code == 0xB8;
  if (indexed) {
    ClosePicture(streamPos);
    FAwaitingCodingExtension = false;
    FAwaitingSequenceExtension = false;
    FStraySlicesReported = false;
  }
  const std::uint32_t value = 0x00000100u | code;
  if (value == kUserDataStartCode) return;
  const bool header = indexed || value == kExtensionStartCode;
  if (!header) {
    Damaged(offset, Format("start code %.2x does not belong in a video stream at ", {code}) + Hex(offset));
    return;
  }
  if (!SetReader(bytes, available)) return;
  switch (value) {
    case kSequenceHeaderCode: SequenceHeader(offset, FReader); break;
    case kGroupStartCode: GroupHeader(offset, FReader); break;
    case kSequenceEndCode: ++FReport.SequenceEndCodes; break;
    case kExtensionStartCode: {
      const int id = available > 4 ? bytes[4] >> 4 : 0;
      if (id == kSequenceExtensionId && FAwaitingSequenceExtension) SequenceExtension(FReader);
      break;
    }
    default: break;
  }
}

bool TScanState::SetReader(const std::uint8_t* bytes, std::size_t available) {
  // Headers are parsed from at most the lookahead; bytes past it are never needed, and the
  // padding behind the data makes the last byte of a short block readable.
  const std::size_t span = std::min(available, TOverviewScanner::kHeaderLookahead);
  return FReader.SetData(bytes, static_cast<std::int32_t>(span + 1)) == S_OK;
}

void TScanState::SequenceHeader(std::int64_t offset, TBitStream3& reader) {
  ++FReport.SequenceHeaders;
  TSequenceHeaderRec rec;
  std::int32_t length = 0;
  Parse_sequence_header(reader, rec, length);
  if (reader.Error()) {
    Damaged(offset, "sequence header cut short at " + Hex(offset));
    return;
  }
  TSequenceInfo info;
  info.Offset = offset;
  info.Width = rec.horizontal_size_value;
  info.Height = rec.vertical_size_value;
  info.AspectRatioInformation = rec.aspect_ratio_information;
  info.FrameRateCode = rec.frame_rate_code;
  info.BitRateValue = rec.bit_rate_value;
  info.VbvBufferSizeValue = rec.vbv_buffer_size_value;
  info.ConstrainedParameters = rec.constrained_parameters_flag != 0;
  if (info.FrameRate() <= 0 || info.Width == 0 || info.Height == 0)
    Damaged(offset, "sequence header with a forbidden size or frame rate at " + Hex(offset));
  FSequence = info;
  FSequenceSeen = true;
  FSequenceDirty = true;
  FAwaitingSequenceExtension = true;
}

void TScanState::SequenceExtension(TBitStream3& reader) {
  FAwaitingSequenceExtension = false;
  TSequenceExtensionRec rec;
  Parse_sequence_extension(reader, rec);
  if (reader.Error()) return;
  // The extension widens the header's fields with its high bits.
  FSequence.Mpeg2 = true;
  FSequence.ProfileAndLevel = rec.profile_and_level_indication;
  FSequence.ProgressiveSequence = rec.progressive_sequence != 0;
  FSequence.ChromaFormat = rec.chroma_format;
  FSequence.Width |= std::uint32_t{rec.horizontal_size_extension} << 12;
  FSequence.Height |= std::uint32_t{rec.vertical_size_extension} << 12;
  FSequence.BitRateValue |= std::uint64_t{rec.bit_rate_extension} << 18;
  FSequence.VbvBufferSizeValue |= std::uint32_t{rec.vbv_buffer_size_extension} << 10;
  FSequence.LowDelay = rec.low_delay != 0;
  FSequence.FrameRateExtensionN = rec.frame_rate_extension_n;
  FSequence.FrameRateExtensionD = rec.frame_rate_extension_d;
  FSequenceDirty = true;
}

void TScanState::GroupHeader(std::int64_t offset, TBitStream3& reader) {
  TGOPHeaderRec rec;
  Parse_GOP_header(reader, rec);
  if (reader.Error()) {
    Damaged(offset, "group header cut short at " + Hex(offset));
    return;
  }
  TGroupRecord group;
  group.Offset = offset;
  group.FirstPicture = FPictureCount;
  group.TimeCode = rec.time_code & 0x1FFFFFFu;
  group.ClosedGop = rec.closed_gop & 1u;
  group.BrokenLink = rec.broken_link & 1u;
  if (FKeepPositions) FGroupPositions.push_back(FStreamPos);
  FGroups.push_back(group);
  ++FGroupCount;
}

std::uint32_t TScanState::CurrentSequenceIndex() {
  if (!FSequenceSeen) return kNoIndex;
  if (FSequenceDirty) {
    FSequenceDirty = false;
    if (FSequenceCount == 0 || !FSequence.SameParameters(FLastKept)) {
      FLastKept = FSequence;
      FSequences.push_back(FSequence);
      ++FSequenceCount;
    }
  }
  return FSequenceCount - 1;
}

void TScanState::PictureHeader(std::int64_t offset, const std::uint8_t* bytes, std::size_t available) {
  std::optional<TPictureHeaderFields> fields = ReadPictureHeaderFields(bytes, available, FPictureScratch);
  bool cutShort = false;
  if (!fields) {
    TPictureHeaderRec rec;
    if (SetReader(bytes, available)) Parse_picture_header(FReader, rec);
    cutShort = FReader.Error();
    fields = TPictureHeaderFields{rec.temporal_reference, rec.picture_coding_type, rec.vbv_delay};
  }
  TPictureRecord picture(offset, fields->TemporalReference, fields->CodingType);
  if (CurrentSequenceIndex() == kNoIndex || FSequence.ProgressiveSequence)
    picture.AddFlags(TPictureRecord::kProgressiveSequence);
  if (cutShort) {
    picture.AddFlags(TPictureRecord::kDamaged);
    Damaged(offset, "picture header cut short at " + Hex(offset));
  } else if (fields->CodingType < 1 || fields->CodingType > 4) {
    picture.AddFlags(TPictureRecord::kDamaged);
    Damaged(offset, Format("picture_coding_type %d at ", {fields->CodingType}) + Hex(offset));
  }
  FOpenPicture = picture;
  FOpenVbvDelay = fields->VbvDelay;
  ++FPictureCount;
  FAwaitingCodingExtension = true;
}

void TScanState::PictureCodingExtension(const std::uint8_t* bytes, std::size_t available) {
  FAwaitingCodingExtension = false;
  if (const auto fields = ReadCodingExtensionFields(bytes, available)) {
    CodingExtensionFields(*fields);
    return;
  }
  if (!SetReader(bytes, available)) return;
  TPictureCodingExtensionRec rec;
  Parse_picture_coding_extension(FReader, rec);
  if (FReader.Error()) return;
  CodingExtensionFields({rec.picture_structure, rec.top_field_first != 0, rec.repeat_first_field != 0,
                         rec.progressive_frame != 0});
}

void TScanState::CodingExtensionFields(const TCodingExtensionFields& fields) {
  if (!FOpenPicture) return;
  TPictureRecord& picture = *FOpenPicture;
  picture.AddFlags(TPictureRecord::kHasCodingExtension);
  picture.SetPictureStructure(fields.PictureStructure);
  if (fields.RepeatFirstField) picture.AddFlags(TPictureRecord::kRepeatFirstField);
  if (fields.TopFieldFirst) picture.AddFlags(TPictureRecord::kTopFieldFirst);
  if (fields.ProgressiveFrame) picture.AddFlags(TPictureRecord::kProgressiveFrame);
  if (fields.PictureStructure == 0) {
    picture.AddFlags(TPictureRecord::kDamaged);
    Damaged(picture.Offset(), "reserved picture_structure 0 at " + Hex(picture.Offset()));
  }
}

void TScanState::Publish(TOverviewData& data) {
  data.Pictures.insert(data.Pictures.end(), FPictures.begin(), FPictures.end());
  data.VbvDelays.insert(data.VbvDelays.end(), FVbvDelays.begin(), FVbvDelays.end());
  data.Groups.insert(data.Groups.end(), FGroups.begin(), FGroups.end());
  data.Sequences.insert(data.Sequences.end(), FSequences.begin(), FSequences.end());
  data.PicturePositions.insert(data.PicturePositions.end(), FPicturePositions.begin(), FPicturePositions.end());
  data.GroupPositions.insert(data.GroupPositions.end(), FGroupPositions.begin(), FGroupPositions.end());
  FPictures.clear();
  FVbvDelays.clear();
  FGroups.clear();
  FSequences.clear();
  FPicturePositions.clear();
  FGroupPositions.clear();
  data.Report = FReport;
}

// Runs `body` with the lock held when there is one.
template <class Body>
void Locked(std::mutex* lock, Body&& body) {
  if (lock == nullptr) {
    body();
    return;
  }
  std::lock_guard guard(*lock);
  body();
}

} // namespace

TOverviewScanner::TOverviewScanner(std::size_t blockSize) : FBlockSize(std::max<std::size_t>(blockSize, 4096)) {}

void TOverviewScanner::Scan(const TByteSource& stream, TOverviewData& data, std::mutex* lock,
                            const std::atomic<bool>* cancel, const TProgress& progress) const {
  TScanReport report;
  TScanState state(report, stream.IsContainer());
  const bool ran = Trap("TOverviewScanner.Scan", [&] {
    const std::int64_t total = std::max<std::int64_t>(stream.Size(), 0);
    report.FileSizeAtStart = total;
    // Blocks are read ahead on a second thread. Each has room in front of its data for the
    // unhandled tail of the one before (a header cut by the block's end, or the last three
    // bytes, which may begin a start code), so that the search sees one run of bytes.
    constexpr std::size_t kCarryRoom = kHeaderLookahead + 4;
    TReadAhead blocks(stream, total, FBlockSize, kCarryRoom);
    TReadBlock* previous = nullptr;
    const std::uint8_t* carried = nullptr;  // the tail of `previous` still to handle
    std::size_t carry = 0;
    std::vector<std::int64_t> carriedOffsets;  // the file offset of each carried byte
    std::vector<std::int64_t> nextCarried;
    std::int64_t end = 0;                   // file offset after the last byte read
    std::int64_t videoRead = 0;             // video bytes read so far
    for (;;) {
      if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
        report.State = TScanReport::End::Cancelled;
        break;
      }
      TReadBlock* block = blocks.Next();
      if (block == nullptr) break;
      std::uint8_t* const buf = block->Data() - carry;
      if (carry > 0) std::memcpy(buf, carried, carry);
      blocks.Release(previous);
      previous = block;
      const std::int64_t streamBase = videoRead - static_cast<std::int64_t>(carry);  // video bytes before buf[0]
      const std::size_t valid = carry + block->Got;                                 // bytes of buf holding data
      std::memset(buf + valid, 0, kReaderPadding);
      videoRead += static_cast<std::int64_t>(block->Got);
      end = block->Position + static_cast<std::int64_t>(block->Wanted);
      if (block->Got < block->Wanted && !stream.IsContainer()) end = block->Position + static_cast<std::int64_t>(block->Got);
      // File offset of buf[i]: the carried bytes keep theirs, the block's come from its places.
      const auto offsetOf = [&](std::size_t i) {
        return i < carry ? carriedOffsets[i] : block->Places.OffsetOf(i - carry);
      };
      const bool atEnd = block->Last;
      if (!block->Failure.empty()) {
        report.State = TScanReport::End::ReadFailed;
        if (report.Issues.size() < TScanReport::kMaxIssues)
          report.Issues.push_back({end, "reading stopped: " + block->Failure});
      } else if (block->Got < block->Wanted && !stream.IsContainer() && report.Issues.size() < TScanReport::kMaxIssues) {
        report.Issues.push_back(
            {end, Format("the file shrank while it was read: its data ended at %d of %d bytes", {end, total})});
      }

      // Handle every start code whose header is wholly in the buffer (or that the data ends in):
      // first those that begin in the carried bytes (searched here: they may run on into the
      // block), then those the reading thread listed in the block.

      std::size_t p = 0;
      std::optional<std::size_t> deferred;
      const std::size_t junction = std::min(valid, carry + 3);
      std::size_t listed = 0;

      for (;;) {
        std::size_t q = FindAnyStartCode(buf, p, junction);
        if (q >= junction) {
          while (listed < block->StartCodes.size() && carry + block->StartCodes[listed] < p) ++listed;
          if (listed == block->StartCodes.size()) break;
          q = carry + block->StartCodes[listed++];
        }
        const std::uint8_t code = buf[q + 3];
        const bool parsed = code == 0x00 || code == 0xB3 || code == 0xB5 || code == 0xB8;
        if (parsed && !atEnd && valid - q < kHeaderLookahead) {
          deferred = q;
          break;
        }
        const std::int64_t offset = offsetOf(q);
        const std::int64_t streamPos = streamBase + static_cast<std::int64_t>(q);
        if (report.FirstStartCode < 0) {
          report.FirstStartCode = offset;
          report.FirstStartCodePos = streamPos;
          report.SkippedBytes = streamPos;
          if (streamPos > 0 && report.Issues.size() < TScanReport::kMaxIssues)
            report.Issues.push_back({0, Format("%d bytes before the first start code skipped", {streamPos})});
        }
        state.StartCode(offset, streamPos, buf + q, valid - q);
        p = q + 3;  // the next prefix cannot begin inside this one's 00 00 01
      }
      report.BytesScanned = end;
      report.VideoBytes = videoRead;
      if (progress) progress(report.BytesScanned, total);
      if (atEnd) {
        if (report.FirstStartCode < 0) report.SkippedBytes = videoRead;
        state.Finish(videoRead);
        if (report.State == TScanReport::End::Running) report.State = TScanReport::End::Complete;
        break;
      }
      const std::size_t keep = std::min(valid, deferred ? *deferred : std::max(p, valid >= 3 ? valid - 3 : 0));
      carried = buf + keep;
      nextCarried.clear();
      for (std::size_t i = keep; i < valid; ++i) nextCarried.push_back(offsetOf(i));
      carriedOffsets.swap(nextCarried);
      carry = valid - keep;
      Locked(lock, [&] { state.Publish(data); });
    }
    blocks.Release(previous);
    if (report.State == TScanReport::End::Cancelled) state.Finish(videoRead);
    report.FileSizeAtEnd = std::max<std::int64_t>(stream.Size(), 0);
    if (report.FileSizeAtEnd > report.FileSizeAtStart && report.Issues.size() < TScanReport::kMaxIssues)
      report.Issues.push_back({report.FileSizeAtStart,
                               Format("the file grew while it was read: %d bytes after %d not read",
                                      {report.FileSizeAtEnd - report.FileSizeAtStart, report.FileSizeAtStart})});
  });
  if (!ran && report.State == TScanReport::End::Running) report.State = TScanReport::End::ReadFailed;
  Locked(lock, [&] { state.Publish(data); });
}

} // namespace varlow
