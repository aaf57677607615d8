#include "picture/MacroblockMap.h"

#include <algorithm>
#include <charconv>
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

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The integers of a node text after its fixed prefix: "motion_code[0][1][0] = -3 (4 bits)" with
// the prefix "motion_code[" gives 0, 1, 0, -3, 4. False when the text has another prefix.
template <std::size_t N>
bool Numbers(std::string_view text, std::string_view prefix, std::int32_t (&values)[N]) {
  if (!StartsWith(text, prefix)) return false;
  const char* p = text.data() + prefix.size();
  const char* end = text.data() + text.size();
  for (std::size_t i = 0; i < N; ++i) {
    while (p < end && *p != '-' && (*p < '0' || *p > '9')) ++p;
    auto [next, error] = std::from_chars(p, end, values[i]);
    if (error != std::errc()) return false;
    p = next;
  }
  return true;
}

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

TTreeSink::NodeId TMacroblockSink::AddChild(NodeId parent, std::string_view text, std::int64_t, std::int32_t) {
  const auto id = static_cast<NodeId>(FNodes.size());
  const TNode parentKind = parent == kRoot || parent >= id ? TNode::Other : FNodes[static_cast<std::size_t>(parent)];
  TNode kind = TNode::Other;
  std::int32_t v[4] = {};
  std::int32_t one[1] = {};
  if (parent == kRoot) {
    if (Numbers(text, "Slice ", one)) {
      kind = TNode::Slice;
      StartSlice(one[0]);
    }
  } else if (parentKind == TNode::Slice) {
    if (StartsWith(text, "slice_start_code = $")) {
      // The slice's vertical position is the last byte of the start code.
      const auto hex = text.substr(std::string_view("slice_start_code = $").size(), 8);
      std::uint32_t code = 0;
      std::from_chars(hex.data(), hex.data() + hex.size(), code, 16);
      FSliceStartRow = static_cast<std::int32_t>(code & 0xFF) - 1;
    } else if (Numbers(text, "slice_vertical_position_extension = ", one)) {
      FSliceStartRow += one[0] << 7;
    } else if (Numbers(text, "quantiser_scale_code = ", one)) {
      FSliceQuant = one[0];
    } else if (Numbers(text, "MacroBlock ", one)) {
      EndMacroblock();
      FMb = TPending{};
      FMb.Open = true;
      FMb.Number = FNumberInSlice++;
      kind = TNode::Macroblock;
    }
  } else if (parentKind == TNode::Macroblock) {
    if (text.empty() || text[0] == 'B') {
      // Blocks: nothing the overlay needs.
    } else if (StartsWith(text, "macroblock_escape")) {
      FMb.Increment += 33;
    } else if (Numbers(text, "macroblock_address_increment = ", one)) {
      FMb.Increment += one[0];
    } else if (text == "MacroBlock Modes") {
      kind = TNode::Modes;
    } else if (Numbers(text, "quantiser_scale_code = ", one)) {
      FMb.Quant = one[0];
    } else if (Numbers(text, "Motion Vectors ", one)) {
      kind = TNode::Vectors;
      FVectorsS = one[0] & 1;
      FVectorR = -1;
    }
  } else if (parentKind == TNode::Modes) {
    if (Numbers(text, "macroblock_type = ", one)) FMb.Type = one[0];
    else if (Numbers(text, "frame_motion_type = ", one) || Numbers(text, "field_motion_type = ", one)) FMb.MotionType = one[0];
  } else if (parentKind == TNode::Vectors) {
    std::int32_t select[3] = {};
    if (Numbers(text, "motion_vertical_field_select[", select)) {
      FMb.FieldSelect[select[0] & 1][select[1] & 1] = select[2];
    } else if (text == "Motion Vector") {
      FVectorR = std::min(FVectorR + 1, 1);
      FMb.VectorsSeen[FVectorsS] = FVectorR + 1;
      kind = TNode::Vector;
    }
  } else if (parentKind == TNode::Vector) {
    if (Numbers(text, "motion_code[", v)) FMb.Code[v[0] & 1][v[1] & 1][v[2] & 1] = v[3];
    else if (Numbers(text, "motion_residual[", v)) FMb.Residual[v[0] & 1][v[1] & 1][v[2] & 1] = v[3];
  }
  FNodes.push_back(kind);
  return id;
}

void TMacroblockSink::StartSlice(std::int32_t index) {
  EndMacroblock();
  FSliceIndex = index;
  FNumberInSlice = 0;
  FFirstInSlice = true;
  FSliceStartRow = 0;
  ResetPredictors();
  FMap.Slices.push_back(TSliceInfo{index, 0, -1, false});
}

void TMacroblockSink::ResetPredictors() { std::memset(FPmv, 0, sizeof FPmv); }

std::int32_t TMacroblockSink::Reconstruct(std::int32_t r, std::int32_t s, std::int32_t t) {
  const std::int32_t fCode = std::clamp(FPicture.FCode[s][t], 1, 9);
  const std::int32_t f = 1 << (fCode - 1);
  const std::int32_t code = FMb.Code[r][s][t];
  std::int32_t delta = code;
  if (f != 1 && code != 0) {
    delta = (std::abs(code) - 1) * f + FMb.Residual[r][s][t] + 1;
    if (code < 0) delta = -delta;
  }
  // Field and dual-prime vectors of a frame picture count field lines vertically, the
  // prediction kept for them frame lines.
  const bool fieldInFrame = FPicture.PictureStructure == 3 && (FMb.MotionType == 1 || FMb.MotionType == 3) &&
                            (FMb.Type & kIntra) == 0;
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

void TMacroblockSink::EndMacroblock() {
  if (!FMb.Open) return;
  FMb.Open = false;
  if (FMb.Increment <= 0 || FMap.MacroblocksPerRow <= 0) {
    // The analyser met an invalid address increment: the slice ends here.
    if (!FMap.Slices.empty()) FMap.Slices.back().Damaged = true;
    return;
  }
  std::int32_t address;
  if (FFirstInSlice) {
    address = FSliceStartRow * FMap.MacroblocksPerRow - 1 + FMb.Increment;
    FMap.Slices.back().FirstAddress = address;
    FFirstInSlice = false;
  } else {
    address = FPreviousAddress + FMb.Increment;
    AddSkipped(address);
  }
  if (FMb.Quant >= 0) FSliceQuant = FMb.Quant;

  TMacroblockInfo mb;
  mb.Address = address;
  mb.Column = address % FMap.MacroblocksPerRow;
  mb.Row = address / FMap.MacroblocksPerRow;
  mb.QuantiserScaleCode = FSliceQuant;
  mb.SliceIndex = FSliceIndex;
  mb.NumberInSlice = FMb.Number;
  const std::int32_t type = FMb.Type;
  const bool forward = (type & kForward) != 0, backward = (type & kBackward) != 0;
  if (FPicture.PictureCodingType == 1 || (type & kIntra) != 0) mb.Kind = TMacroblockKind::Intra;
  else if (forward && backward) mb.Kind = TMacroblockKind::Bidirectional;
  else if (forward) mb.Kind = TMacroblockKind::Forward;
  else if (backward) mb.Kind = TMacroblockKind::Backward;
  else mb.Kind = FPicture.PictureCodingType == 2 ? TMacroblockKind::NoMotion : TMacroblockKind::Forward;

  const bool intra = mb.Kind == TMacroblockKind::Intra;
  for (std::int32_t s = 0; s < 2; ++s) {
    const std::int32_t count = FMb.VectorsSeen[s];
    for (std::int32_t r = 0; r < count; ++r) {
      TMotionVector& v = mb.Vectors[r][s];
      v.X = Reconstruct(r, s, 0);
      v.Y = Reconstruct(r, s, 1);
      v.FieldSelect = FMb.FieldSelect[r][s];
      if (FPicture.FullPel[s]) {
        v.X *= 2;
        v.Y *= 2;
      }
      // A field vector of a frame picture moves in field lines: twice as far in the frame.
      if (FPicture.PictureStructure == 3 && (FMb.MotionType == 1 || FMb.MotionType == 3) && !intra) v.Y *= 2;
    }
    if (count == 1) std::memcpy(FPmv[1][s], FPmv[0][s], sizeof FPmv[0][s]);
    if (!intra) mb.VectorCount[s] = count;
  }
  // Intra macroblocks without concealment vectors and P macroblocks without motion start the
  // prediction afresh; a P "no motion" macroblock predicts with a zero vector.
  if ((intra && FMb.VectorsSeen[0] == 0) || mb.Kind == TMacroblockKind::NoMotion) ResetPredictors();
  if (mb.Kind == TMacroblockKind::NoMotion) mb.VectorCount[0] = 1;

  FPreviousAddress = address;
  FMap.Slices.back().LastAddress = address;
  FMap.Macroblocks.push_back(mb);
}

TMacroblockMap TMacroblockSink::Finish() {
  EndMacroblock();
  return std::move(FMap);
}

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
      viewer.FTreeView = &sink;
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
