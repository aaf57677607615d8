// The analysis pass's coefficient loop. It runs once for every coded block of every picture, so
// it is the hottest loop of transrating: per run/level code it records the code's length for the
// cutting pass, adds it to the cost curve and checks that the block stays within its 64 scan
// positions. It reaches the same results as walking the codes through the reader, with:
//  - a local, left-aligned 64-bit bit cache over the unit, refilled by one 8-byte load when fewer
//    than 32 bits are left (no code is longer than 24 bits), instead of checked reads;
//  - a small table indexed by the next kScanPrefixBits bits that gives a short code's full
//    width (sign bit included) and its run + 1 directly, and the same for a second code when
//    the prefix holds two, so that common short codes go two per look-up
//    (TranscoderTables.cpp); only longer codes, escapes and invalid bits look at the
//    65,536-entry table;
//  - the block's code ends written through a pointer into room the record keeps ahead;
//  - the coded blocks of a non-intra macroblock scanned in one loop (ScanNonIntraBlocks) that
//    keeps the bit cache from one block to the next and moves the reader once at the end.
// Near the end of the unit the loop hands over to CutCoefficientsNearEnd, which reads through
// the reader's checked operations, so the end of the data behaves as before.
#include <algorithm>
#include <bit>
#include <cstring>

#include "slice/SyntaxReaders.h"
#include "transrate/MPEGVideoTranscoder.h"

namespace varlow {

namespace {

constexpr int kBlockPositions = 64;

} // namespace

// The entry of a code the prefix does not decide, from the full table. {0, 0} when no code
// starts at these bits. Inline: a few percent of the codes come this way.
inline TMPEGVideoTranscoder::TScanCode TMPEGVideoTranscoder::LongCode(const TDctTableEntry* Table, std::uint64_t w,
                                                                      int escapeBits) {
  const TDctTableEntry& e = Table[w >> 48];
  if (e.Run < kEndOfBlockMarker) {
    const auto bits = static_cast<std::uint8_t>(e.Length + 1);
    return {bits, static_cast<std::uint8_t>(e.Run + 1), bits, 0};
  }
  if (e.Run == kEndOfBlockMarker) return {e.Length, 0, e.Length, 0};
  if (e.Run == kEscapeMarker) {
    // Escape, run (6 bits), level (12 bits): the run follows the 6-bit escape code.
    const auto run = static_cast<std::uint8_t>((w >> (64 - 12)) & 63);
    return {static_cast<std::uint8_t>(escapeBits), static_cast<std::uint8_t>(run + 1), static_cast<std::uint8_t>(escapeBits), 0};
  }
  return {0, 0, 0, 0};
}

// One block's codes from the cursor on, into the cost curve and the block bits, and with Record
// into the record. Stops at the end of block, at damage, or where a refill would read past the
// unit's padding (FastEnd); the reader is not moved.
template <bool Record>
[[gnu::always_inline]] inline TMPEGVideoTranscoder::TBlockScan TMPEGVideoTranscoder::ScanBlock(
    const TScanTable& Scan, const TDctTableEntry* Table, TScanCursor& Cursor, std::int64_t FastEnd, int p,
    bool keepFirst) {
  const std::int64_t start = Cursor.Pos;
  if constexpr (Record)
    FRecord.Marks.push_back(start << 2 | (keepFirst ? TCutRecord::kBlockKeepingFirst : TCutRecord::kBlock));
  const std::uint8_t* data = FReader.Data();

  // The block's entry in the record: its code count, then the ends of at most 64 run/level
  // codes and of its end of block, in bits from start.
  std::uint16_t* entry = Record ? CodeEndRoom(kBlockPositions + 2) : nullptr;
  std::uint16_t* ends = Record ? entry + 1 : nullptr;
  std::int32_t* curve = FCoefBits.data();
  const std::int32_t firstCodeBefore = curve[1];

  TBlockScan::TStop stop;
  std::uint64_t w = Cursor.W;
  int valid = Cursor.Valid;
  int rel = 0;  // bits from start
  int k = 0;    // codes recorded so far
  for (;;) {
    if (valid < 32) {
      const std::int64_t pos = start + rel;
      if (pos >= FastEnd) {
        stop = TBlockScan::NearEnd;
        break;
      }
      std::memcpy(&w, data + (pos >> 3), 8);
      w = __builtin_bswap64(w) << (pos & 7);
      valid = 64 - static_cast<int>(pos & 7);
    }
    TScanCode c = Scan[w >> (64 - kScanPrefixBits)];
    if (c.Bits == 0) [[unlikely]] {
      c = LongCode(Table, w, EscapeBits(w));
      if (c.Bits == 0) {
        stop = TBlockScan::Damaged;
        break;
      }
    }
    if (c.Advance == 0) {
      rel += c.Bits;
      if constexpr (Record) ends[k] = static_cast<std::uint16_t>(rel);
      FBlockBits += rel;
      w <<= c.Bits;
      valid -= c.Bits;
      stop = TBlockScan::EndOfBlock;
      break;
    }
    if (p + c.Advance + c.PairAdvance > kBlockPositions) [[unlikely]] {
      // A run leads past the block's last position: the first code's, or the second's after
      // the first is recorded.
      if (p + c.Advance <= kBlockPositions) {
        rel += c.Bits;
        if constexpr (Record) ends[k] = static_cast<std::uint16_t>(rel);
        curve[++k] += c.Bits;
        w <<= c.Bits;
        valid -= c.Bits;
      }
      stop = TBlockScan::Damaged;
      break;
    }
    p += c.Advance + c.PairAdvance;
    // The second code of a pair. Without one, BothBits equals Bits: the end written for it is
    // overwritten by the next code, and the curve gains nothing.
    if constexpr (Record) {
      ends[k] = static_cast<std::uint16_t>(rel + c.Bits);
      ends[k + 1] = static_cast<std::uint16_t>(rel + c.BothBits);
    }
    curve[k + 1] += c.Bits;
    curve[k + 2] += c.BothBits - c.Bits;
    k += 1 + (c.BothBits != c.Bits);
    rel += c.BothBits;
    w <<= c.BothBits;
    valid -= c.BothBits;
  }

  // The first code of a keepFirst block stays at every cut level, so it costs nothing to cut:
  // take back what the loop added for it (only the first code adds to entry 1).
  if (keepFirst && k > 0) curve[1] = firstCodeBefore;
  if constexpr (Record) {
    entry[0] = static_cast<std::uint16_t>(k);
    FBlockEntry = FCodeCount;
    FCodeCount += 1 + static_cast<std::size_t>(k) + (stop == TBlockScan::EndOfBlock ? 1 : 0);
  }
  FBlockStart = start;
  Cursor = {start + rel, w, valid};
  return {stop, k, p};
}

// What follows a block's scan once the reader stands where the scan stopped.
bool TMPEGVideoTranscoder::FinishBlockScan(const TBlockScan& Scan, const TDctTableEntry* Table, bool keepFirst) {
  switch (Scan.Stop) {
    case TBlockScan::EndOfBlock:
      FMaxCoefIndex = std::max(FMaxCoefIndex, Scan.Codes);
      return true;
    case TBlockScan::NearEnd:
      FMaxCoefIndex = std::max(FMaxCoefIndex, Scan.Codes);
      return CutCoefficientsNearEnd(Table, Scan.Codes + 1, Scan.P, keepFirst);
    case TBlockScan::Damaged:
      break;
  }
  MarkDamaged();
  return false;
}

bool TMPEGVideoTranscoder::ScanCoefficients(const TDctTableEntry* Table, int p, bool keepFirst) {
  const TScanTable& scan = Table == FTables->B15.Table() ? FFast->B15 : FFast->B14;
  TScanCursor cursor{FReader.BitPosition(), 0, 0};
  const std::int64_t start = cursor.Pos;
  const TBlockScan s = FRecord.Complete ? ScanBlock<true>(scan, Table, cursor, FastScanEnd(), p, keepFirst)
                                        : ScanBlock<false>(scan, Table, cursor, FastScanEnd(), p, keepFirst);
  FReader.DumpBits(static_cast<std::int32_t>(cursor.Pos - start));
  return FinishBlockScan(s, Table, keepFirst);
}

// The reader moves only when the loop hands over (near the end of the unit, at damage) and at
// the end, in the same steps the block-by-block walk takes, so errors fall on the same bits.
bool TMPEGVideoTranscoder::ScanNonIntraBlocks(int blocks) {
  return FRecord.Complete ? ScanNonIntraBlocksAs<true>(blocks) : ScanNonIntraBlocksAs<false>(blocks);
}

template <bool Record>
bool TMPEGVideoTranscoder::ScanNonIntraBlocksAs(int blocks) {
  const std::int64_t fastEnd = FastScanEnd();
  std::uint32_t coded = FCodedBlocks & ((1u << blocks) - 1);  // the blocks still to scan
  if (FReader.BitPosition() < fastEnd && !FReader.Error()) {
    const TDctTableEntry* table = FTables->B14.Table();
    const TScanTable& scan = FFast->B14;
    const std::uint8_t* data = FReader.Data();
    TScanCursor cursor{FReader.BitPosition(), 0, 0};
    const std::int64_t synced = cursor.Pos;  // where the reader stands
    for (;;) {
      if (coded == 0) {
        FReader.DumpBits(static_cast<std::int32_t>(cursor.Pos - synced));
        return true;
      }
      coded &= coded - 1;
      // Every block starts before fastEnd: the loop hands over as soon as one ends past it.
      if (cursor.Valid < 32) {
        std::memcpy(&cursor.W, data + (cursor.Pos >> 3), 8);
        cursor.W = __builtin_bswap64(cursor.W) << (cursor.Pos & 7);
        cursor.Valid = 64 - static_cast<int>(cursor.Pos & 7);
      }
      // The short first code "1s" (run 0, level +-1) is always kept and never counted.
      const bool keepFirst = (cursor.W >> 63) == 0;
      if (!keepFirst) {
        cursor.Pos += 2;
        cursor.W <<= 2;
        cursor.Valid -= 2;
      }
      const std::int64_t start = cursor.Pos;
      const TBlockScan s = ScanBlock<Record>(scan, table, cursor, fastEnd, keepFirst ? 0 : 1, keepFirst);
      if (s.Stop == TBlockScan::EndOfBlock && cursor.Pos < fastEnd) {
        FMaxCoefIndex = std::max(FMaxCoefIndex, s.Codes);
        continue;
      }
      FReader.DumpBits(static_cast<std::int32_t>(start - synced));
      FReader.DumpBits(static_cast<std::int32_t>(cursor.Pos - start));
      if (!FinishBlockScan(s, table, keepFirst)) return false;
      break;
    }
  }
  for (; coded != 0; coded &= coded - 1) {
    if (!DecodeBlock(std::countr_zero(coded))) return false;
  }
  return true;
}

} // namespace varlow
