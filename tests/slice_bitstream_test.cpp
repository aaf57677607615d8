#include <gtest/gtest.h>

#include <vector>

#include "slice/BitStream4.h"
#include "slice/SyntaxReaders.h"
#include "support/Log.h"
#include "support/PaddedBuffer.h"

using namespace varlow;

namespace {

TPaddedBuffer Block(std::initializer_list<std::uint8_t> bytes) {
  TPaddedBuffer b(bytes.size());
  b.Assign({bytes.begin(), bytes.size()});
  return b;
}

}  // namespace

TEST(BitStream4, UnattachedReaderFailsEveryCheckedOperation) {
  TBitStream4 bs;
  EXPECT_FALSE(bs.Error());
  EXPECT_LT(bs.BitsLeft(), -32);
  EXPECT_EQ(bs.NextBitsDW(0), 0u);
  EXPECT_TRUE(bs.Error());
  EXPECT_EQ(bs.ReadBit(), 0u);
  EXPECT_EQ(bs.NextAligned24Bit(), 0u);
  EXPECT_EQ(bs.ReadAligned32Bit(), 0u);
  EXPECT_EQ(bs.ByteIndex(), 0);
  EXPECT_FALSE(NextStartCode(bs));
  // Unchecked moves go on over zeros without touching memory they do not own.
  ScopedLogCapture capture;
  for (int i = 0; i < 100; ++i) bs.DumpBitsNoCheck(16);
  EXPECT_EQ(bs.NextBitsDWNoCheck(16), 0u);
}

TEST(BitStream4, AvailabilityMarginIs32BitsPastTheEnd) {
  auto b = Block({0xA5});
  TBitStream4 bs;
  ASSERT_EQ(bs.SetData(b.Data(), 1), S_OK);
  EXPECT_EQ(bs.ReadBits(8), 0xA5u);
  EXPECT_EQ(bs.BitsLeft(), 0);
  EXPECT_EQ(bs.ReadBits(8), 0u);  // the padding that follows the block
  EXPECT_FALSE(bs.Error());
  EXPECT_EQ(bs.BitsLeft(), -8);
  bs.ReadBits(24);
  EXPECT_FALSE(bs.Error());
  EXPECT_EQ(bs.BitsLeft(), -32);
  // Back to -8 to test the 25-bit read from there.
  ASSERT_EQ(bs.SetData(b.Data(), 1), S_OK);
  bs.ReadBits(16);
  EXPECT_EQ(bs.ReadBits(25), 0u);
  EXPECT_TRUE(bs.Error());
  EXPECT_EQ(bs.BitsLeft(), -8);  // a failed read does not move
  // The flag stays until the next SetData, through successful operations.
  EXPECT_EQ(bs.ReadBits(1), 0u);
  EXPECT_TRUE(bs.Error());
  ASSERT_EQ(bs.SetData(b.Data(), 1), S_OK);
  EXPECT_FALSE(bs.Error());
}

TEST(BitStream4, FixedWidthAndAlignedOperations) {
  auto b = Block({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
  TBitStream4 bs;
  ASSERT_EQ(bs.SetData(b.Data(), 6), S_OK);
  EXPECT_EQ(bs.NextBitsDW(0), 0u);
  EXPECT_EQ(bs.Next4Bits(), 0x1u);
  EXPECT_EQ(bs.Read3Bits(), 0x0u);  // 000
  EXPECT_EQ(bs.BitIndex(), 3);
  bs.ByteAlign();
  EXPECT_EQ(bs.BitsLeft(), 40);
  bs.ByteAlign();  // already aligned: nothing
  EXPECT_EQ(bs.BitsLeft(), 40);
  EXPECT_EQ(bs.NextAligned24Bit(), 0x345678u);
  EXPECT_EQ(bs.Next23Bits(), 0x345678u >> 1);
  bs.DumpBits(3);
  {
    ScopedLogCapture capture;
    EXPECT_EQ(bs.ReadAligned8BitDW(), 0x34u);  // the whole byte, misaligned
    EXPECT_EQ(capture.Count("wex: Error in TBitStream4.ReadAligned8BitDW - not aligned."), 1);
  }
  EXPECT_EQ(bs.BitIndex(), 3);
  EXPECT_EQ(bs.ByteIndex(), 2);
  EXPECT_EQ(bs.BitsLeft(), 8 * 4 - 3);
  ASSERT_EQ(bs.SetData(b.Data(), 6), S_OK);
  EXPECT_EQ(bs.ReadAligned16Bit(), 0x1234u);
  EXPECT_EQ(bs.NextAligned32Bit(), 0x56789ABCu);
  bs.DumpBits(16);
  EXPECT_EQ(bs.BitsLeft(), 16);
  EXPECT_EQ(bs.NextAligned32Bit(), 0x9ABC0000u);  // 3 or fewer bytes left still succeed
  bs.DumpAligned32Bit();
  EXPECT_EQ(bs.BitsLeft(), -16);
  EXPECT_EQ(bs.NextAligned32Bit(), 0u);
  EXPECT_TRUE(bs.Error());
}

TEST(BitStream4, WideReadsAcrossTheWindow) {
  auto b = Block({0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00});
  TBitStream4 bs;
  ASSERT_EQ(bs.SetData(b.Data(), 6), S_OK);
  bs.DumpBits(4);
  EXPECT_EQ(bs.NextBitsDW(32), 0xF00FF00Fu);
  EXPECT_EQ(bs.ReadBits(30), 0xF00FF00Fu >> 2);
  EXPECT_EQ(bs.BitPosition(), 34);
}

TEST(BitStream4, SetDataRejectsBadArgumentsAndKeepsTheBlock) {
  auto b = Block({0x80, 0x00});
  TBitStream4 bs;
  ASSERT_EQ(bs.SetData(b.Data(), 2), S_OK);
  bs.ReadBits(3);
  EXPECT_EQ(bs.SetData(nullptr, 10), E_FAIL);
  EXPECT_EQ(bs.SetData(b.Data(), 0), E_FAIL);
  EXPECT_EQ(bs.BitPosition(), 3);
  EXPECT_EQ(bs.Data(), b.Data());
}

TEST(BitStream4, NoCheckOperationsLogAndGoOn) {
  auto b = Block({0xFF});
  TBitStream4 bs;
  ASSERT_EQ(bs.SetData(b.Data(), 1), S_OK);
  bs.DumpBits(8 + 24);  // to -24
  ScopedLogCapture capture;
  EXPECT_EQ(bs.NextBitsDWNoCheck(9), 0u);
  EXPECT_EQ(capture.Count("wex: Error in TBitStream4.NextBitsDWNoCheck - no enough bits call..."), 1);
  bs.DumpBitsNoCheck(16);
  EXPECT_EQ(capture.Count("wex: Error in TBitStream4.DumpBitsNoCheck - no enough bits call..."), 1);
  EXPECT_EQ(bs.BitsLeft(), -40);
  EXPECT_FALSE(bs.Error());
  // Far past the margin the window is zeros, not memory behind the block.
  for (int i = 0; i < 64; ++i) bs.DumpBitsNoCheck(16);
  EXPECT_EQ(bs.NextBitsDWNoCheck(16), 0u);
}

TEST(BitStream4, OutputDebugStringNumBits) {
  auto b = Block({0xA0, 0x00});
  TBitStream4 bs;
  ASSERT_EQ(bs.SetData(b.Data(), 2), S_OK);
  ScopedLogCapture capture;
  bs.OutputDebugStringNumBits(5);
  ASSERT_EQ(capture.Lines().size(), 1u);
  EXPECT_EQ(capture.Lines()[0], "10100");  // no log prefix
  EXPECT_EQ(bs.BitPosition(), 0);
  bs.DumpBits(16 + 32);
  bs.OutputDebugStringNumBits(1);
  EXPECT_EQ(capture.Count("wex: Error in TBitStream4.OutputDebugStringNumBits - not enough bits"), 1);
}

TEST(BitStream4, NextStartCodeMatchesTheByteLoop) {
  // Prefix in the middle, misaligned start, and a prefix that only the padding completes.
  auto b = Block({0xFF, 0x00, 0x00, 0x00, 0x01, 0xB3, 0x00, 0x00});
  TBitStream4 bs;
  ASSERT_EQ(bs.SetData(b.Data(), 8), S_OK);
  bs.DumpBits(3);
  ASSERT_TRUE(NextStartCode(bs));
  EXPECT_EQ(bs.ByteIndex(), 2);
  EXPECT_EQ(bs.NextAligned32Bit(), 0x000001B3u);
  bs.DumpAligned32Bit();
  // 00 00 at the end, then padding zeros: no prefix; the loop runs to the margin and fails.
  EXPECT_FALSE(NextStartCode(bs));
  EXPECT_TRUE(bs.Error());
  EXPECT_EQ(bs.ByteIndex(), 8 + 3);
}
