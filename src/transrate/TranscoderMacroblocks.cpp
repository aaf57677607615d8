// The slice and macroblock layer of the transcoder: one walker for I, P and B pictures.
#include <array>
#include <string>

#include "slice/VLC_Table_Builder.h"
#include "slice/SyntaxReaders.h"
#include "support/Format.h"
#include "support/Log.h"
#include "support/Trap.h"
#include "syntax/PictureCodingTypes.h"
#include "transrate/MPEGVideoTranscoder.h"
#include "transrate/TranscoderNames.h"
#include "transrate/WindowCodes.h"

namespace varlow {

namespace {

// coded_block_pattern_420 as a set of blocks: bit b (block b) is bit 5 - b of the pattern.
constexpr std::array<std::uint8_t, 64> kBlocksOfPattern = [] {
  std::array<std::uint8_t, 64> blocks{};
  for (std::uint32_t cbp = 0; cbp < 64; ++cbp)
    for (int b = 0; b < 6; ++b) blocks[cbp] = static_cast<std::uint8_t>(blocks[cbp] | ((cbp >> (5 - b)) & 1u) << b);
  return blocks;
}();

} // namespace

bool TMPEGVideoTranscoder::DecodeSlice() {
  bool clean = false;
  Trap(FNames->Slice, [&] {
    const std::uint32_t code = FReader.ReadAligned32Bit();
    if (FWriting) FWriter.PutBits(code, 32);
    std::int32_t row = static_cast<std::int32_t>(code & 0xFF);
    if (vertical_size > 2800) row += static_cast<std::int32_t>(Copy(3)) << 7;  // slice_vertical_position_extension
    FNextY = 16 * (row - 1);
    // Slices this walker cannot follow are damage: MPEG-1 pictures (no picture coding
    // extension), 4:4:4 and unknown picture types. The rest of the unit is then copied as is.
    if ((!FHaveCodingExtension && !FMpeg1Walk) || (chroma_format != 1 && chroma_format != 2) ||
        picture_coding_type < kIntraPicture || picture_coding_type > kBidirectionalPicture) {
      if (chroma_format == 3) LogMessage("wex: Error 4:4:4 format - TODO");
      MarkDamaged();
      return;
    }
    // A slice below the picture is carried unchanged, uncut.
    if (FNextY >= vertical_size) return;
    if (FRequanting) {
      clean = RequantSlice();
      return;
    }
    if (FParsedOut != nullptr) {
      clean = RecordRequantSlice();
      return;
    }
    Copy(5);  // quantiser_scale_code, unchanged
    const std::int32_t mbWidth = CopySliceHeaderEnd();
    for (;;) {
      // The slice ends where 23 zero bits begin: the stuffing before the next start code.
      if (PeekBits(23) == 0 || FReader.Error()) break;
      if (FReader.BitsLeft() < 0 || FMbColumn + 1 >= mbWidth || !DecodeMacroBlock()) {
        LogDebugFmt("here1 %s FNextX = %d, FNextY = %d", {FNames->SliceTag, FNextX, FNextY});
        MarkDamaged();
        return;
      }
    }
    if (FReader.BitsLeft() < 0 || FReader.Error()) {
      MarkDamaged();
      return;
    }
    // A cut may end the slice anywhere in its last byte; the input used (8 - BitIndex) % 8
    // alignment bits here, a cut output at most 7.
    if (!FWriting) FAlignmentReserve += 7 - (8 - FReader.BitIndex()) % 8;
    clean = true;
  });
  return clean;
}

// The slice header after quantiser_scale_code, copied as it is: the slice extension with its
// extra information, and extra_bit_slice. Returns the macroblocks the slice may hold.
std::int32_t TMPEGVideoTranscoder::CopySliceHeaderEnd() {
  if (FReader.Next1Bit() == 1) {
    Copy(1);  // slice_extension_flag
    Copy(1);  // intra_slice
    Copy(7);  // slice_picture_id_enable, slice_picture_id
    while (FReader.Next1Bit() == 1 && !FReader.Error()) Copy(9);  // extra_bit_slice + extra_information_slice
  }
  Copy(1);  // extra_bit_slice
  FMbColumn = -1;
  return SliceMacroblockLimit();
}

bool TMPEGVideoTranscoder::DecodeMacroBlock() {
  if (!DecodeAddressIncrement()) return false;
  if (!DecodeMacroBlockHeader()) return false;
  const int blocks = chroma_format == 1 ? 6 : 8;
  if (!FWriting && !macroblock_intra) {
    if (!ScanNonIntraBlocks(blocks)) return false;
  } else {
    for (int b = 0; b < blocks; ++b) {
      if ((FCodedBlocks >> b) & 1u) {
        if (!DecodeBlock(b)) return false;
      }
    }
  }
  return !FReader.Error() && FReader.BitsLeft() >= 0;
}

// macroblock_address_increment with its escapes (and MPEG-1 stuffing); moves FMbColumn and
// FNextX. FIncrement receives the whole increment.
bool TMPEGVideoTranscoder::DecodeAddressIncrement() {
  std::int32_t increment = 0;
  for (;;) {
    const std::uint32_t next11 = PeekBits(11);
    if (FReader.Error()) break;
    if (next11 == kMacroblockEscape) {
      Copy(11);
      increment += kMacroblockEscapeIncrement;
    } else if (next11 == kMacroblockStuffing && FMpeg1Walk) {
      Copy(11);  // MPEG-1 macroblock_stuffing
    } else {
      break;
    }
  }
  const TCodeRead address =
      InsideUnit() ? MacroblockAddressIncrementOf(Next16()) : PeekMacroblockAddressIncrement(FReader);
  if (!address.Valid) {
    if (picture_coding_type == kPredictedPicture) {
      FReader.OutputDebugStringNumBits(24);
      LogDebugFmt("ByteIndex: %d, Data Size = %d, %d",
                    {FReader.ByteIndex(), FReader.Size(), static_cast<std::int64_t>(
                                                              reinterpret_cast<std::uintptr_t>(FReader.Data()))});
      LogMessageFmt("wex: Error in TMPEGVideoTranscoder.DecodePMackroBlock call... %d, %d", {FNextX, FNextY});
    }
    Copy(1);
    return false;
  }
  Copy(address.Length);
  increment += address.Value;
  FMbColumn += increment;
  FNextX = 16 * FMbColumn;
  FIncrement = increment;
  return FMbColumn < SliceMacroblockLimit();
}

// From macroblock_modes to coded_block_pattern. FQuantCode receives a quantiser_scale_code,
// FMotionStart and FMotionEnd the input bits of the motion vectors (with the concealment
// marker bit).
bool TMPEGVideoTranscoder::DecodeMacroBlockHeader() {
  if (!DecodeMacroBlockModes()) return false;
  if (macroblock_quant) FQuantCode = static_cast<std::int32_t>(Copy(5));  // quantiser_scale_code, unchanged
  FMotionStart = FReader.BitPosition();
  const bool concealment = macroblock_intra && concealment_motion_vectors;
  if (concealment) {
    // Concealment vectors: one vector, frame format in frame pictures, field format in field
    // pictures.
    SetMotionLayout({1, picture_structure == kFramePicture ? kMvFormatFrame : kMvFormatField, 0});
  }
  if (macroblock_motion_forward || concealment) {
    if (!DecodeMotionVectors(0)) return false;
  }
  if (macroblock_motion_backward) {
    if (!DecodeMotionVectors(1)) return false;
  }
  if (concealment) Copy(1);  // marker_bit
  FMotionEnd = FReader.BitPosition();
  if (macroblock_pattern) {
    if (!DecodeCodedBlockPattern()) return false;
  }
  return true;
}

bool TMPEGVideoTranscoder::DecodeMacroBlockModes() {
  bool ok = false;
  Trap(FNames->Modes, [&] {
    const TCodeRead type = InsideUnit() ? MacroblockTypeOf(Next16(), picture_coding_type)
                                        : PeekMacroblockType(FReader, picture_coding_type);
    // In I pictures the code 00 is no code at all.
    if (!type.Valid || (picture_coding_type == kIntraPicture && PeekBits(2) == 0)) return;
    Copy(type.Length);
    FTypeEnd = FReader.BitPosition();
    macroblock_quant = (type.Value & kMacroblockQuant) != 0;
    macroblock_motion_forward = (type.Value & kMacroblockMotionForward) != 0;
    macroblock_motion_backward = (type.Value & kMacroblockMotionBackward) != 0;
    macroblock_pattern = (type.Value & kMacroblockPattern) != 0;
    macroblock_intra = (type.Value & kMacroblockIntra) != 0;
    if (macroblock_motion_forward || macroblock_motion_backward) {
      if (picture_structure == kFramePicture) {
        if (frame_pred_frame_dct) {
          SetMotionLayout({1, kMvFormatFrame, 0});
        } else {
          const auto frame_motion_type = static_cast<int>(Copy(2));
          if (frame_motion_type == 0) return;  // reserved
          SetMotionLayout(kFrameMotionLayout[static_cast<std::size_t>(frame_motion_type)]);
        }
      } else {
        const auto field_motion_type = static_cast<int>(Copy(2));
        if (field_motion_type == 0) return;  // reserved
        SetMotionLayout(kFieldMotionLayout[static_cast<std::size_t>(field_motion_type)]);
      }
    }
    if (picture_structure == kFramePicture && !frame_pred_frame_dct && (macroblock_intra || macroblock_pattern))
      Copy(1);  // dct_type
    FCodedBlocks = macroblock_intra ? 0xFFFu : 0u;
    ok = true;
  });
  return ok;
}

bool TMPEGVideoTranscoder::DecodeCodedBlockPattern() {
  bool ok = false;
  Trap("TMPEGVideoTranscoder.DecodeCodedBlockPattern", [&] {
    const TCBPTableEntry e = FFast->CBP[Next16() >> 7];
    if (e.Length == kNoCodeMarker) return;
    Copy(e.Length);
    // Block b (0..5) is coded when bit 5 - b of coded_block_pattern_420 is set; in 4:2:2
    // blocks 6 and 7 follow bits 1 and 0 of coded_block_pattern_1.
    std::uint32_t coded = kBlocksOfPattern[static_cast<std::size_t>(e.Value & 63)];
    if (chroma_format == 2) {
      const std::uint32_t cbp1 = Copy(2);
      if (cbp1 & 2u) coded |= 1u << 6;
      if (cbp1 & 1u) coded |= 1u << 7;
    }
    FCodedBlocks = coded;
    ok = true;
  });
  return ok;
}

bool TMPEGVideoTranscoder::DecodeMotionVectors(int s) {
  bool ok = false;
  Trap("TMPEGVideoTranscoder.DecodePMotionVectors", [&] {
    if (motion_vector_count == 1) {
      if (mv_format == kMvFormatField && dmv != 1) Copy(1);  // motion_vertical_field_select[0][s]
      ok = DecodeMotionVector(0, s);
    } else {
      Copy(1);  // motion_vertical_field_select[0][s]
      if (!DecodeMotionVector(0, s)) return;
      Copy(1);  // motion_vertical_field_select[1][s]
      ok = DecodeMotionVector(1, s);
    }
  });
  return ok;
}

bool TMPEGVideoTranscoder::DecodeMotionVector(int r, int s) {
  bool ok = false;
  Trap("TMPEGVideoTranscoder.DecodePMotionVector", [&] {
    ++FMotionVectorCalls;
    for (int t = 0; t < 2; ++t) {
      const TMVTableEntry e = FFast->MV[Next16() >> 5];
      if (e.Length == kNoCodeMarker) {
        if (t == 0) {
          LogMessageFmt(
              "wex: Error in TMPEGVideoTranscoder.DecodePMotionVector - invalid motion vector code "
              "Fmacroblock.motion_code[r, s, 0] = %d, FNextX = %d, FNextY = %d",
              {static_cast<int>(e.Value), FNextX, FNextY});
          FReader.OutputDebugStringNumBits(11);
          LogDebugFmt("%d", {FMotionVectorCalls});
        }
        return;
      }
      Copy(e.Length);
      const int fcode = f_code[s][t];
      if (fcode < 1 || fcode > 9) return;  // a vector with a forbidden f_code
      if (fcode != 1 && e.Value != 0) Copy(fcode - 1);  // motion_residual
      if (dmv == 1) Copy(PeekBits(1) == 0 ? 1 : 2);  // dmvector[t]
    }
    ok = true;
  });
  (void)r;
  return ok;
}

} // namespace varlow
