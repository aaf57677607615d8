// Blocks and the coefficient cut: each block keeps its first FCutLevel run/level codes and its
// end-of-block code; the codes after them are left out.
#include <algorithm>
#include <cstring>

#include "slice/VLC_Table_Builder.h"
#include "transrate/MPEGVideoTranscoder.h"
#include "slice/SyntaxReaders.h"
#include "transrate/WindowCodes.h"

namespace varlow {

namespace {

constexpr int kBlockPositions = 64;

} // namespace

void TMPEGVideoTranscoder::BuildShortTable(const TDctTableEntry* Table, std::array<TDctTableEntry, 256>& Short) {
  // An 8-bit prefix decides the code when the code it starts is at most 8 bits long (with the
  // sign bit of a run/level code, at most 9: the sign is read from the window, not the table).
  for (std::uint32_t i = 0; i < 256; ++i) {
    const TDctTableEntry& e = Table[i << 8];
    const bool decided = e.Length != kNoCodeMarker && e.Length > 0 && e.Length <= 8 &&
                         (e.Run == kEscapeMarker || Table[(i << 8) | 0xFF].Run == e.Run);
    Short[i] = decided ? e : TDctTableEntry{0, 0, 0};
  }
}

bool TMPEGVideoTranscoder::DecodeBlock(int b) {
  if (!macroblock_intra) return CutNonIntraCoefficients();
  if (!DecodeDCDifferential(b)) return false;
  return CutCoefficients(intra_vlc_format ? FTables->B15.Table() : FTables->B14.Table(), 1, false);
}

bool TMPEGVideoTranscoder::DecodeDCDifferential(int b) {
  const bool luminance = b < 4;
  const TCodeRead size = InsideUnit()  ? DctDcSizeOf(Next16(), luminance)
                         : luminance   ? PeekDctDcSizeLuminance(FReader)
                                       : PeekDctDcSizeChrominance(FReader);
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
  if (PeekBits(1) == 1) {
    Copy(2);
    return CutCoefficients(FTables->B14.Table(), 1, false);
  }
  return CutCoefficients(FTables->B14.Table(), 0, true);
}

// The coefficient loop. k counts the block's run/level codes, p is the scan position. With
// keepFirst (a non-intra block that does not start with the short code) the first code is kept
// at every cut level and counted as fixed, so a coded block never becomes empty. The analysis
// pass takes ScanCoefficients (TranscoderCoefficientScan.cpp); what follows is the cutting
// pass that walks the syntax, for pictures cut without an analysis record.
//
// While the block lies well inside the unit, the codes are taken from a local 64-bit window
// over the reader's data (the unit is followed by its readable padding), and the reader is moved
// once at the end of the block.
bool TMPEGVideoTranscoder::CutCoefficients(const TDctTableEntry* Table, int p, bool keepFirst) {
  if (!FWriting) return ScanCoefficients(Table, p, keepFirst);
  const std::uint8_t* data = FReader.Data();
  const std::int64_t start = FReader.BitPosition();
  // Bytes from the current one to the end of the unit, then the padding: an 8-byte load at
  // byte index i stays readable while i < Size.
  const std::int64_t fastEnd = std::int64_t{FReader.Size()} * 8 - 8;
  std::int64_t pos = start;
  // Codes of up to 8 bits (most of them) come from a small table that stays in L1.
  const TDctTableEntry* shortTable = Table == FTables->B15.Table() ? FShortB15.data() : FShortB14.data();
  // A left-aligned bit cache, refilled from memory whenever fewer than 32 bits are left in it
  // (no code is longer than 24 bits), so each code costs a shift, not a load.
  std::uint64_t w = 0;
  int valid = 0;
  for (int k = 1;; ++k) {
    if (valid < 32) {
      if (pos >= fastEnd) {
        FReader.DumpBits(static_cast<std::int32_t>(pos - start));
        return CutCoefficientsNearEnd(Table, k, p, keepFirst);
      }
      std::memcpy(&w, data + (pos >> 3), 8);
      w = __builtin_bswap64(w) << (pos & 7);
      valid = 64 - static_cast<int>(pos & 7);
    }
    const TDctTableEntry& s = shortTable[w >> 56];
    const TDctTableEntry& e = s.Length != 0 ? s : Table[w >> 48];
    int run;
    int bits;
    if (e.Run < kEndOfBlockMarker) {
      run = e.Run;
      bits = e.Length + 1;  // the code and its sign bit
    } else if (e.Run == kEndOfBlockMarker) {
      FWriter.PutBits(static_cast<std::uint32_t>(w >> (64 - e.Length)), e.Length);
      FReader.DumpBits(static_cast<std::int32_t>(pos + e.Length - start));
      return true;  // the end of block stays whatever the cut
    } else if (e.Run == kEscapeMarker) {
      run = static_cast<int>((w >> (64 - 12)) & 63);
      bits = EscapeBits(w);
    } else {
      FReader.DumpBits(static_cast<std::int32_t>(pos - start));
      MarkDamaged();
      return false;
    }
    if (p + run >= kBlockPositions) {
      FReader.DumpBits(static_cast<std::int32_t>(pos - start));
      MarkDamaged();
      return false;
    }
    if (k <= FCutLevel || (keepFirst && k == 1)) FWriter.PutBits(static_cast<std::uint32_t>(w >> (64 - bits)), bits);
    pos += bits;
    w <<= bits;
    valid -= bits;
    p += run + 1;
  }
}

// The cutting pass from the analysis record: everything between the recorded marks is copied
// as it is, each block keeps its first codes and its end of block, and the walk's byte
// alignments are repeated on both sides. False when the record does not fit the picture.
//
// The input goes out as long runs of bits: a run reaches from the end of the last dropped
// codes to the end of the next block's kept codes, so blocks that drop nothing cost no copy.
bool TMPEGVideoTranscoder::CutFromRecord() {
  const TCutRecord& record = *FRecorded;
  const std::int64_t end = std::int64_t{FReader.Size()} * 8;
  const std::uint16_t* codeEnds = record.CodeEnds.data();
  const std::size_t entries = record.CodeEnds.size();
  std::int64_t in = 0;        // input bits before this are copied, dropped or pending in the run
  std::int64_t runStart = 0;  // the pending run: runStart .. in - 1
  std::size_t entry = 0;
  for (const std::int64_t mark : record.Marks) {
    const std::int64_t at = mark >> 2;
    if (at < in || at > end) return false;
    if ((mark & 3) == TCutRecord::kAlign) {
      CopyInputBits(runStart, at);
      in = runStart = std::min((at + 7) & ~std::int64_t{7}, end);
      FWriter.ByteAlign();
      continue;
    }
    if (entry >= entries) return false;
    const int n = codeEnds[entry];
    if (n > kBlockPositions || entry + n + 2 > entries) return false;
    const std::uint16_t* ends = codeEnds + entry + 1;  // n codes, then the end of block
    entry += static_cast<std::size_t>(n) + 2;
    const int kept = std::min(std::max(FCutLevel, (mark & 3) == TCutRecord::kBlockKeepingFirst ? 1 : 0), n);
    const std::int64_t keptEnd = kept > 0 ? ends[kept - 1] : 0;
    const std::int64_t codesEnd = n > 0 ? ends[n - 1] : 0;
    if (at + ends[n] > end) return false;
    if (keptEnd < codesEnd) {
      CopyInputBits(runStart, at + keptEnd);
      runStart = at + codesEnd;
    }
    in = at + ends[n];  // the end of block stays whatever the cut
  }
  CopyInputBits(runStart, end);
  return entry == entries && !FWriter.Overflow();
}

// Copies the input bits From .. To - 1 to the writer.
void TMPEGVideoTranscoder::CopyInputBits(std::int64_t From, std::int64_t To) {
  if (To > From) FWriter.CopyBits(FReader.Data(), From, To - From);  // the unit keeps its padding
}

// The same loop through the reader, for blocks that end within the last bytes of the unit. In
// the analysis pass the block's entry in the record (FBlockEntry, FBlockStart) is open.
bool TMPEGVideoTranscoder::CutCoefficientsNearEnd(const TDctTableEntry* Table, int k, int p, bool keepFirst) {
  for (;; ++k) {
    const TCoefficientRead c = PeekDctCoefficient(FReader, Table);
    if (c.Kind == TCoefficientKind::EndOfBlock) {
      Copy(c.Length);  // the end of block stays whatever the cut
      if (!FWriting) {
        FBlockBits += FReader.BitPosition() - FBlockStart;
        if (FRecord.Complete) {
          RecordCodeEnd();
          FRecord.CodeEnds[FBlockEntry] = static_cast<std::uint16_t>(k - 1);
        }
      }
      return true;
    }
    int run;
    int bits;
    if (c.Kind == TCoefficientKind::Escape) {
      run = static_cast<int>(FReader.NextBitsDW(12) & 63);
      bits = FMpeg1Walk ? EscapeBits(std::uint64_t{FReader.NextBitsDW(20)} << 44) : kEscapeBits;
    } else if (c.Kind == TCoefficientKind::RunLevel) {
      run = c.Run;
      bits = c.Length + 1;
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
      if (FRecord.Complete) RecordCodeEnd();
    }
    p += run + 1;
  }
}

} // namespace varlow
