// The re-quantising walk's small tables and its gathering writer against what they stand for:
// the full code tables, the run/level code list, and the writer called code by code.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "slice/VLC_Table_Builder.h"
#include "transrate/BitStreamWriter.h"
#include "transrate/MPEGVideoTranscoder.h"
#include "transrate/RequantTables.h"

using namespace varlow;

namespace {

using TTranscoder = TMPEGVideoTranscoder;

// Every 16-bit index whose first kLevelPrefixBits bits the level table decides reads the same
// code there as in the full table: run, signed level (the sign bit right after the code) and
// width; and every code short enough to be decided is.
void ExpectLevelTableMatches(const TDctTableEntry* Full) {
  TTranscoder::TLevelTable levels;
  TTranscoder::BuildLevelTable(Full, levels);
  constexpr int kPrefix = TTranscoder::kLevelPrefixBits;
  int decided = 0;
  for (std::uint32_t index = 0; index < 65536; ++index) {
    const TTranscoder::TLevelCode c = levels[index >> (16 - kPrefix)];
    const TDctTableEntry& e = Full[index];
    const bool runLevel = e.Run < kEndOfBlockMarker && e.Length > 0;
    const bool endOfBlock = e.Run == kEndOfBlockMarker;
    if (c.Bits == 0) {
      // Left to the full table: escapes, invalid bits and codes too long for the prefix.
      EXPECT_FALSE(runLevel && e.Length + 1 <= kPrefix) << index;
      EXPECT_FALSE(endOfBlock && e.Length <= kPrefix) << index;
      continue;
    }
    ++decided;
    if (c.Level == 0) {
      ASSERT_TRUE(endOfBlock) << index;
      EXPECT_EQ(c.Bits, e.Length) << index;
      continue;
    }
    ASSERT_TRUE(runLevel) << index;
    EXPECT_EQ(c.Bits, e.Length + 1) << index;
    EXPECT_EQ(c.Run, e.Run) << index;
    const bool negative = (index >> (16 - c.Bits)) & 1u;
    EXPECT_EQ(c.Level, negative ? -e.Level : e.Level) << index;
  }
  EXPECT_GT(decided, 60000);  // the short codes are the common ones
}

TEST(TranscoderFastTables, LevelTablesDecideAsTheFullTablesDo) {
  const TVlcTables& vlc = TVlcTables::Shared();
  ExpectLevelTableMatches(vlc.B14.Table());
  ExpectLevelTableMatches(vlc.B15.Table());
}

TEST(TranscoderFastTables, RunLevelCodesCarryTheSignBit) {
  for (const bool b15 : {false, true}) {
    TTranscoder::TRunLevelCodes packed;
    TTranscoder::BuildRunLevelCodes(b15, packed);
    for (int run = 0; run < TTranscoder::kWriteRuns; ++run) {
      for (int level = 0; level < TTranscoder::kWriteLevels; ++level) {
        const std::uint32_t p = packed[static_cast<std::size_t>(run * TTranscoder::kWriteLevels + level)];
        const TVlcCode c = level == 0 ? TVlcCode{} : TRequantCodes::Shared().RunLevel(b15, run, level);
        if (c.Length == 0) {
          EXPECT_EQ(p, 0u) << run << "/" << level;
        } else {
          EXPECT_EQ(p >> 8, c.Code << 1) << run << "/" << level;          // sign bit clear: positive
          EXPECT_EQ(p & 0xFFu, static_cast<std::uint32_t>(c.Length + 1));  // the sign bit counted
        }
      }
    }
  }
}

// Random codes written one by one through PutBits and gathered through TBitGatherer give the
// same bytes, and the same overflow, at every destination size from cramped to roomy.
TEST(TranscoderFastTables, GatheredCodesWriteWhatCodeByCodeWrites) {
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::pair<std::uint32_t, int>> codes(1 + random() % 120);
    for (auto& [code, bits] : codes) {
      bits = 1 + static_cast<int>(random() % 28);
      code = static_cast<std::uint32_t>(random()) & ((1u << bits) - 1u);
    }
    const auto size = static_cast<std::int32_t>(4 + random() % 400);
    std::vector<std::uint8_t> one(static_cast<std::size_t>(size) + 8), gathered(one.size());
    TBitStreamWriter a, b;
    ASSERT_EQ(a.SetDestination(one.data(), size), S_OK);
    ASSERT_EQ(b.SetDestination(gathered.data(), size), S_OK);
    TBitGatherer out(b);
    for (const auto& [code, bits] : codes) {
      a.PutBits(code, bits);
      out.Put(code, bits);
      // Now and then other writes between gathered runs, as a macroblock's copied bits come.
      if (random() % 16 == 0) {
        out.Flush();
        a.PutBits(0x5A5, 11);
        b.PutBits(0x5A5, 11);
      }
    }
    out.Flush();
    a.ByteAlign();
    b.ByteAlign();
    ASSERT_EQ(a.Overflow(), b.Overflow()) << "round " << round << ", size " << size;
    if (a.Overflow()) continue;
    ASSERT_EQ(a.BytesWritten(), b.BytesWritten());
    EXPECT_TRUE(std::equal(one.begin(), one.begin() + a.BytesWritten(), gathered.begin())) << "round " << round;
  }
}

TEST(TranscoderFastTables, PutGatheredTakesUpTo64BitsAnywhere) {
  for (int lead = 0; lead < 8; ++lead) {
    for (const std::int32_t size : {16, 64}) {  // near the end (split writes) and inside
      std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size) + 8);
      TBitStreamWriter w;
      ASSERT_EQ(w.SetDestination(bytes.data(), size), S_OK);
      if (lead > 0) w.PutBits(0, lead);
      ASSERT_TRUE(w.PutGathered(0x8123456789ABCDEFull, 64));
      w.ByteAlign();
      std::uint64_t value = 0;
      for (int i = 0; i < 9; ++i) value = value << 8 | bytes[static_cast<std::size_t>(i)];  // 72 bits, top 8 dropped
      const unsigned __int128 all = (static_cast<unsigned __int128>(bytes[0]) << 64) | value;
      EXPECT_EQ(static_cast<std::uint64_t>(all >> (8 - lead)), 0x8123456789ABCDEFull) << lead << " " << size;
    }
  }
}

} // namespace
