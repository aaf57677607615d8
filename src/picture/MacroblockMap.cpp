#include "picture/MacroblockMap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "picture/UnitWindow.h"
#include "slice/MPEGVideoViewer.h"
#include "support/FileStream.h"
#include "support/PaddedBuffer.h"
#include "support/Trap.h"

namespace varlow {

namespace {

constexpr std::int32_t kForward = 8, kBackward = 4, kIntra = 1;

} // namespace

const TMacroblockInfo* TMacroblockMap::At(std::int32_t column, std::int32_t row) const {
  // Addresses rise through the list except where slices overlap in damaged streams: search.
  const std::int32_t address = row * MacroblocksPerRow + column;
  for (const TMacroblockInfo& mb : Macroblocks) {
    if (mb.Address == address) return &mb;
  }
  return nullptr;
}

TMacroblockSink::TMacroblockSink(const TPictureGeometry& sequence, const TPictureInfo& picture)
    : FSequence(sequence), FPicture(picture) {
  FMap.MacroblocksPerRow = (sequence.Width + 15) / 16;
  const std::int32_t rows = (sequence.Height + 15) / 16;
  // Field pictures hold half the lines; interlaced frames are coded in rows of 32 lines' pairs.
  FMap.MacroblockRows = picture.PictureStructure == 3 ? rows : (sequence.Height + 31) / 32;
  FMap.PictureCodingType = picture.PictureCodingType;
  FMap.PictureStructure = picture.PictureStructure;
}

void TMacroblockSink::Slice(const TSliceHeaderRecord& slice) {
  FSliceIndex = slice.SliceIndex;
  FFirstInSlice = true;
  // The slice's vertical position is the last byte of the start code, extended in tall pictures.
  FSliceStartRow = static_cast<std::int32_t>(slice.Header.slice_start_code & 0xFF) - 1;
  if (slice.Header.slice_vertical_position_extension > 0)
    FSliceStartRow += slice.Header.slice_vertical_position_extension << 7;
  if (slice.Complete) FSliceQuant = slice.Header.quantiser_scale_code;
  ResetPredictors();
  FMap.Slices.push_back(TSliceInfo{slice.SliceIndex, 0, -1, false});
}

void TMacroblockSink::ResetPredictors() { std::memset(FPmv, 0, sizeof FPmv); }

std::int32_t TMacroblockSink::Reconstruct(const TMacroblockRecord& mb, std::int32_t r, std::int32_t s, std::int32_t t) {
  const std::int32_t fCode = std::clamp(FPicture.FCode[s][t], 1, 9);
  const std::int32_t f = 1 << (fCode - 1);
  const std::int32_t code = mb.motion_code[r][s][t];
  std::int32_t delta = code;
  if (f != 1 && code != 0) {
    delta = (std::abs(code) - 1) * f + mb.motion_residual[r][s][t] + 1;
    if (code < 0) delta = -delta;
  }
  // Field and dual-prime vectors of a frame picture count field lines vertically, the
  // prediction kept for them frame lines.
  const bool fieldInFrame = FPicture.PictureStructure == 3 && (mb.MotionType == 1 || mb.MotionType == 3) &&
                            (mb.macroblock_type & kIntra) == 0;
  const std::int32_t prediction = fieldInFrame && t == 1 ? FPmv[r][s][t] >> 1 : FPmv[r][s][t];
  std::int32_t vector = prediction + delta;
  if (vector < -16 * f) vector += 32 * f;
  if (vector > 16 * f - 1) vector -= 32 * f;
  FPmv[r][s][t] = fieldInFrame && t == 1 ? vector * 2 : vector;
  return vector;
}

void TMacroblockSink::AddSkipped(std::int32_t upTo) {
  for (std::int32_t address = FPreviousAddress + 1; address < upTo; ++address) {
    TMacroblockInfo mb;
    if (FPicture.PictureCodingType == 3 && !FMap.Macroblocks.empty()) {
      // A skipped B macroblock repeats the prediction of the one before it.
      const TMacroblockInfo& before = FMap.Macroblocks.back();
      std::memcpy(mb.VectorCount, before.VectorCount, sizeof mb.VectorCount);
      std::memcpy(mb.Vectors, before.Vectors, sizeof mb.Vectors);
    } else {
      ResetPredictors();  // a skipped P macroblock predicts with a zero vector
      mb.VectorCount[0] = 1;
    }
    mb.Address = address;
    mb.Column = address % FMap.MacroblocksPerRow;
    mb.Row = address / FMap.MacroblocksPerRow;
    mb.Kind = TMacroblockKind::Skipped;
    mb.QuantiserScaleCode = FSliceQuant;
    mb.SliceIndex = FSliceIndex;
    FMap.Macroblocks.push_back(mb);
  }
}

void TMacroblockSink::Macroblock(const TMacroblockRecord& record) {
  if (FMap.Slices.empty()) return;
  const std::int32_t increment = record.AddressIncrement();
  if (increment <= 0 || FMap.MacroblocksPerRow <= 0) {
    // The analyser met an invalid address increment: the slice ends here.
    FMap.Slices.back().Damaged = true;
    return;
  }
  std::int32_t address;
  if (FFirstInSlice) {
    address = FSliceStartRow * FMap.MacroblocksPerRow - 1 + increment;
    FMap.Slices.back().FirstAddress = address;
    FFirstInSlice = false;
  } else {
    address = FPreviousAddress + increment;
    AddSkipped(address);
  }
  if (record.quantiser_scale_code >= 0) FSliceQuant = record.quantiser_scale_code;

  TMacroblockInfo mb;
  mb.Address = address;
  mb.Column = address % FMap.MacroblocksPerRow;
  mb.Row = address / FMap.MacroblocksPerRow;
  mb.QuantiserScaleCode = FSliceQuant;
  mb.SliceIndex = FSliceIndex;
  mb.NumberInSlice = record.NumberInSlice;
  const std::int32_t type = record.macroblock_type;
  const bool forward = (type & kForward) != 0, backward = (type & kBackward) != 0;
  if (FPicture.PictureCodingType == 1 || (type & kIntra) != 0) mb.Kind = TMacroblockKind::Intra;
  else if (forward && backward) mb.Kind = TMacroblockKind::Bidirectional;
  else if (forward) mb.Kind = TMacroblockKind::Forward;
  else if (backward) mb.Kind = TMacroblockKind::Backward;
  else mb.Kind = FPicture.PictureCodingType == 2 ? TMacroblockKind::NoMotion : TMacroblockKind::Forward;

  const bool intra = mb.Kind == TMacroblockKind::Intra;
  for (std::int32_t s = 0; s < 2; ++s) {
    const std::int32_t count = std::min(record.VectorCount[s], 2);
    for (std::int32_t r = 0; r < count; ++r) {
      TMotionVector& v = mb.Vectors[r][s];
      v.X = Reconstruct(record, r, s, 0);
      v.Y = Reconstruct(record, r, s, 1);
      v.FieldSelect = record.motion_vertical_field_select[r][s];
      if (FPicture.FullPel[s]) {
        v.X *= 2;
        v.Y *= 2;
      }
      // A field vector of a frame picture moves in field lines: twice as far in the frame.
      if (FPicture.PictureStructure == 3 && (record.MotionType == 1 || record.MotionType == 3) && !intra) v.Y *= 2;
    }
    if (count == 1) std::memcpy(FPmv[1][s], FPmv[0][s], sizeof FPmv[0][s]);
    if (!intra) mb.VectorCount[s] = count;
  }
  // Intra macroblocks without concealment vectors and P macroblocks without motion start the
  // prediction afresh; a P "no motion" macroblock predicts with a zero vector.
  if ((intra && record.VectorCount[0] == 0) || mb.Kind == TMacroblockKind::NoMotion) ResetPredictors();
  if (mb.Kind == TMacroblockKind::NoMotion) mb.VectorCount[0] = 1;

  FPreviousAddress = address;
  FMap.Slices.back().LastAddress = address;
  FMap.Macroblocks.push_back(mb);
}

TMacroblockMap TMacroblockSink::Finish() { return std::move(FMap); }

TMacroblockMap AnalysePictureMacroblocks(const TByteSource& stream, std::int64_t offset) {
  TMacroblockMap map;
  Trap("AnalysePictureMacroblocks", [&] {
    std::int64_t forward = std::int64_t{2} << 20;
    for (std::int64_t reach = std::int64_t{1} << 20; reach <= (std::int64_t{256} << 20); reach *= 8) {
      TUnitWindow window(stream, offset, reach, forward);
      const std::int64_t target = window.IndexAt(offset);
      if (target < 0 && !window.ReachesFileEnd() && forward < (std::int64_t{64} << 20)) {
        forward *= 8;  // a picture longer than the bytes read
        reach /= 8;
        continue;
      }
      if (target < 0 || !window.Units()[static_cast<std::size_t>(target)].IsPicture()) return;
      const std::int64_t sequence = window.SequenceHeaderBefore(target);
      if (sequence < 0) {
        if (window.ReachesFileStart()) return;
        continue;
      }
      const auto sequenceBytes = window.Bytes(sequence);
      const auto pictureBytes = window.Bytes(target);
      TPaddedBuffer sequenceBuffer(sequenceBytes.size());
      sequenceBuffer.Assign(sequenceBytes);
      TPaddedBuffer pictureBuffer(pictureBytes.size());
      pictureBuffer.Assign(pictureBytes);

      TMacroblockSink sink(ReadPictureGeometry(sequenceBytes), ReadPictureInfo(pictureBytes));
      TMPEGVideoViewer viewer;
      viewer.FMacroblocks = &sink;
      viewer.DecodeFrame(sequenceBuffer.Data(), static_cast<std::int32_t>(sequenceBytes.size()));
      viewer.SetSlice(pictureBuffer.Data(), static_cast<std::int32_t>(pictureBytes.size()), -1);
      map = sink.Finish();
      for (const auto& trace : viewer.SliceTraces()) {
        for (TSliceInfo& slice : map.Slices) {
          if (slice.Index == trace.SliceIndex && (!trace.Completed || trace.InvalidCodes > 0)) slice.Damaged = true;
        }
      }
      return;
    }
  });
  return map;
}

} // namespace varlow
