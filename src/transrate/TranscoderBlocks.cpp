// Blocks and the coefficient cut: each block keeps its first FCutLevel run/level codes and its
// end-of-block code; the codes after them are left out.
#include <algorithm>

#include "slice/VLC_Table_Builder.h"
#include "transrate/MPEGVideoTranscoder.h"
#include "slice/SyntaxReaders.h"

namespace varlow {

namespace {

constexpr int kBlockPositions = 64;

} // namespace

bool TMPEGVideoTranscoder::DecodeBlock(int b) {
  if (!macroblock_intra) return CutNonIntraCoefficients();
  if (!DecodeDCDifferential(b)) return false;
  return CutCoefficients(intra_vlc_format ? FTables->B15.Table() : FTables->B14.Table(), 1, false);
}

bool TMPEGVideoTranscoder::DecodeDCDifferential(int b) {
  const TCodeRead size = b < 4 ? PeekDctDcSizeLuminance(FReader) : PeekDctDcSizeChrominance(FReader);
  if (!size.Valid) {
    MarkDamaged();
    return false;
  }
  Copy(size.Length);
  if (size.Value > 0) Copy(size.Value);  // dct_dc_differential
  return true;
}

bool TMPEGVideoTranscoder::CutNonIntraCoefficients() {
  // The short first code "1s" (run 0, level +-1) is always kept and never counted.
  if (PeekNonIntraFirstShortCode(FReader)) {
    Copy(2);
    return CutCoefficients(FTables->B14.Table(), 1, false);
  }
  return CutCoefficients(FTables->B14.Table(), 0, true);
}

// The shared coefficient loop. k counts the block's run/level codes, p is the scan position.
// With keepFirst (a non-intra block that does not start with the short code) the first code
// is kept at every cut level and counted as fixed, so a coded block never becomes empty.
bool TMPEGVideoTranscoder::CutCoefficients(const TDctTableEntry* Table, int p, bool keepFirst) {
  for (int k = 1;; ++k) {
    const TCoefficientRead c = PeekDctCoefficient(FReader, Table);
    if (c.Kind == TCoefficientKind::EndOfBlock) {
      Copy(c.Length);  // the end of block stays whatever the cut
      return true;
    }
    int run;
    int bits;
    if (c.Kind == TCoefficientKind::Escape) {
      run = static_cast<int>(FReader.NextBitsDW(12) & 63);
      bits = kEscapeBits;
    } else if (c.Kind == TCoefficientKind::RunLevel) {
      run = c.Run;
      bits = c.Length + 1;  // the code and its sign bit
    } else {
      MarkDamaged();
      return false;
    }
    if (p + run >= kBlockPositions || FReader.Error()) {
      MarkDamaged();
      return false;
    }
    const bool fixed = keepFirst && k == 1;
    if (FWriting) {
      if (k <= FCutLevel || fixed) {
        FWriter.PutBits(FReader.ReadBits(bits), bits);
      } else {
        FReader.DumpBits(bits);
      }
    } else {
      FReader.DumpBits(bits);
      if (!fixed) FCoefBits[static_cast<std::size_t>(k)] += bits;
      FMaxCoefIndex = std::max(FMaxCoefIndex, k);
    }
    p += run + 1;
  }
}

} // namespace varlow
