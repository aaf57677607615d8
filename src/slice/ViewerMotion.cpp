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
    FMotionVectorsNode = Add(FMacroBlockNode, "Motion Vectors %d", {s});
    auto fieldSelect = [&](std::int32_t r) {
      std::int64_t pos = Position();
      motion_vertical_field_select[r][s] = static_cast<std::int32_t>(bs.ReadBits(1));
      Add(FMotionVectorsNode, r == 0 ? "motion_vertical_field_select[0][%d] = %d (1 bit)"
                                     : "motion_vertical_field_select[1][%d] = %d (1 bit)",
          {s, motion_vertical_field_select[r][s]}, pos, 1);
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
    FMotionVectorNode = Add(FMotionVectorsNode, "Motion Vector", {});
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
      Add(FMotionVectorNode, "motion_code[%d][%d][%d] = %d (%d bits)", {r, s, t, code.Value, code.Length}, pos,
          code.Length);
      bs.DumpBits(code.Length);
      const std::int32_t residualBits = f_code[s][t] - 1;
      if (f_code[s][t] != 1 && code.Value != 0) {
        pos = Position();
        motion_residual[r][s][t] = static_cast<std::int32_t>(bs.ReadBits(residualBits));
        Add(FMotionVectorNode, "motion_residual[%d][%d][%d] = %d (%d bits)",
            {r, s, t, motion_residual[r][s][t], residualBits}, pos, residualBits);
      }
      if (dmv == 1) {
        pos = Position();
        if (bs.NextBitsDW(1) == 1) {
          dmvector[t] = static_cast<std::int32_t>(bs.ReadBits(2));  // 10 for +1, 11 for -1
          Add(FMotionVectorNode, "dmvector[%d] = %d (2 bits)", {t, dmvector[t]}, pos, 2);
        } else {
          dmvector[t] = 0;
          Add(FMotionVectorNode, "dmvector[%d] = 0 (1 bit)", {t}, pos, 1);
          bs.DumpBits(1);
        }
      }
    }
  });
}

}  // namespace varlow
