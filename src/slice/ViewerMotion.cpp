// motion_vectors(s) and motion_vector(r, s): codes, residuals, field selects and dual-prime
// differentials as read, never reconstructed vectors.
#include "slice/MPEGVideoViewer.h"
#include "slice/SyntaxReaders.h"
#include "support/Log.h"
#include "support/Trap.h"

namespace varlow {

bool TMPEGVideoViewer::DecodePMotionVectors(std::int32_t s) {
  return Trap("TMPEGVideoViewer.DecodePMotionVectors", [&] {
    TBitStream4& bs = FBitStream;
    FMotionVectorsNode = Add(FMacroBlockNode, TElement::Group("motion_vectors", "Motion Vectors").Numbered(s));
    auto fieldSelect = [&](std::int32_t r) {
      std::int64_t pos = Position();
      motion_vertical_field_select[r][s] = static_cast<std::int32_t>(bs.ReadBits(1));
      FRecord.motion_vertical_field_select[r][s] = motion_vertical_field_select[r][s];
      Add(FMotionVectorsNode,
          TElement::Field("motion_vertical_field_select", motion_vertical_field_select[r][s], pos, 1).Indexed({r, s}));
    };
    if (motion_vector_count == 1) {
      if (mv_format == kMvFormatField && dmv != 1) fieldSelect(0);
      DecodePMotionVector(0, s);
    } else {
      fieldSelect(0);
      DecodePMotionVector(0, s);
      fieldSelect(1);
      DecodePMotionVector(1, s);
    }
  });
}

bool TMPEGVideoViewer::DecodePMotionVector(std::int32_t r, std::int32_t s) {
  return Trap("TMPEGVideoViewer.DecodePMotionVector", [&] {
    TBitStream4& bs = FBitStream;
    FMotionVectorNode = Add(FMotionVectorsNode, TElement::Group("motion_vector", "Motion Vector"));
    FRecord.VectorCount[s] = r + 1;
    for (std::int32_t t = 0; t < 2; ++t) {  // horizontal, then vertical
      std::int64_t pos = Position();
      TCodeRead code = PeekMotionCode(bs, FMVTable);
      motion_code[r][s][t] = code.Value;
      if (!code.Valid) {
        MarkDamage(FMotionVectorNode, pos, "motion_code");
        LogMessageFmt(t == 0 ? "wex: Error in TMPEGVideoViewer.DecodePMotionVector - invalid motion vector code "
                               "Fmacroblock.motion_code[r, s, 0] = %d, FNextX = %d, FNextY = %d"
                             : "wex: Error in TMPEGVideoViewer.DecodePMotionVector - invalid motion vector code "
                               "Fmacroblock.motion_code[r, s, 1] = %d, FNextX = %d, FNextY = %d",
                      {code.Value, FNextX, FNextY});
        bs.OutputDebugStringNumBits(11);
      }
      FRecord.motion_code[r][s][t] = code.Value;
      Add(FMotionVectorNode,
          TElement::Field("motion_code", code.Value, pos, code.Length).Indexed({r, s, t}).In(TWidthUnit::Bits));
      bs.DumpBits(code.Length);
      const std::int32_t residualBits = f_code[s][t] - 1;
      if (f_code[s][t] != 1 && code.Value != 0) {
        pos = Position();
        motion_residual[r][s][t] = static_cast<std::int32_t>(bs.ReadBits(residualBits));
        FRecord.motion_residual[r][s][t] = motion_residual[r][s][t];
        Add(FMotionVectorNode, TElement::Field("motion_residual", motion_residual[r][s][t], pos, residualBits)
                                   .Indexed({r, s, t})
                                   .In(TWidthUnit::Bits));
      }
      if (dmv == 1) {
        pos = Position();
        if (bs.NextBitsDW(1) == 1) {
          dmvector[t] = static_cast<std::int32_t>(bs.ReadBits(2));  // 10 for +1, 11 for -1
          Add(FMotionVectorNode, TElement::Field("dmvector", dmvector[t], pos, 2).Indexed({t}));
        } else {
          dmvector[t] = 0;
          Add(FMotionVectorNode, TElement::Field("dmvector", 0, pos, 1).Indexed({t}));
          bs.DumpBits(1);
        }
      }
    }
  });
}

}  // namespace varlow
