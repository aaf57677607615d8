#include <gtest/gtest.h>

#include <vector>

#include "support/Log.h"
#include "syntax/BitStream3.h"

namespace varlow {
namespace {

TEST(BitStream3, SetDataRefusesEmptyBlocksAndKeepsThePreviousOne) {
  const std::uint8_t data[] = {0xA5, 0x00, 0x00, 0x00, 0x00, 0x00};
  TBitStream3 r;
  ASSERT_EQ(r.SetData(data, 6), S_OK);
  EXPECT_EQ(r.SetData(nullptr, 4), E_FAIL);
  EXPECT_EQ(r.SetData(data, 0), E_FAIL);
  EXPECT_EQ(r.SetData(data, -1), E_FAIL);
  EXPECT_EQ(r.DataSize(), 6);
  EXPECT_EQ(r.ReadBit(), 1u);
  EXPECT_EQ(r.ReadBit(), 0u);
}

TEST(BitStream3, BitReadsAcrossByteBoundaries) {
  const std::uint8_t data[] = {0b10110011, 0b01011100, 0xFF, 0x00, 0x12, 0x34, 0x56, 0x78};
  TBitStream3 r;
  ASSERT_EQ(r.SetData(data, 8), S_OK);
  EXPECT_EQ(r.Read3Bits(), 0b101u);
  EXPECT_EQ(r.Read7Bits(), 0b1001101u);  // straddles bytes 0 and 1
  EXPECT_EQ(r.BytePos(), 1);
  EXPECT_EQ(r.BitIndex(), 2);
  EXPECT_EQ(r.Read10Bits(), 0b0111001111u);
  EXPECT_EQ(r.BitPos(), 20);
  r.ByteAlign();
  EXPECT_EQ(r.BitPos(), 24);
  r.ByteAlign();  // already aligned: stays
  EXPECT_EQ(r.BitPos(), 24);
  EXPECT_FALSE(r.Error());
}

TEST(BitStream3, ThirtyBitReadFromAnAlignedPosition) {
  const std::uint8_t data[] = {0xFF, 0xFF, 0xFF, 0xFC, 0x00};
  TBitStream3 r;
  ASSERT_EQ(r.SetData(data, 5), S_OK);
  EXPECT_EQ(r.ReadBits(30), 0x3FFFFFFFu);
  EXPECT_EQ(r.BitPos(), 30);
}

TEST(BitStream3, AWindowWiderThanThirtyTwoBitsIsAFailureNotAnOverread) {
  const std::uint8_t data[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  TBitStream3 r;
  ASSERT_EQ(r.SetData(data, 6), S_OK);
  r.ReadBit();
  EXPECT_THROW(r.ReadBits(32), std::out_of_range);
}

// The availability tests are strict: a 32-bit window needs five bytes up to the end of the block.
TEST(BitStream3, AvailabilityRulesAtTheEndOfTheBlock) {
  const std::uint8_t data[] = {0x00, 0x00, 0x01, 0xB5, 0x80, 0x00, 0x00, 0x00};
  TBitStream3 r;

  ASSERT_EQ(r.SetData(data, 4), S_OK);
  EXPECT_EQ(r.NextAligned32Bit(), 0u);
  EXPECT_TRUE(r.Error());
  EXPECT_EQ(r.BytePos(), 0);  // a shortage does not move

  ASSERT_EQ(r.SetData(data, 5), S_OK);  // SetData clears the flag
  EXPECT_FALSE(r.Error());
  EXPECT_EQ(r.NextAligned32Bit(), 0x000001B5u);
  EXPECT_EQ(r.ReadAligned32Bit(), 0x000001B5u);
  EXPECT_FALSE(r.Error());
  // One byte left: ReadBit still works, bit windows and aligned byte reads do not.
  EXPECT_EQ(r.Read8Bits(), 0u);
  EXPECT_TRUE(r.Error());
  ASSERT_EQ(r.SetData(data + 4, 1), S_OK);
  EXPECT_EQ(r.ReadAligned8Bit(), 0u);
  EXPECT_TRUE(r.Error());
  ASSERT_EQ(r.SetData(data + 4, 1), S_OK);
  EXPECT_EQ(r.ReadBit(), 1u);
  EXPECT_FALSE(r.Error());
  for (int i = 0; i < 7; ++i) r.ReadBit();
  EXPECT_FALSE(r.Error());
  EXPECT_EQ(r.ReadBit(), 0u);  // past the last byte
  EXPECT_TRUE(r.Error());

  // NextBit needs the full window, ReadBit only the current byte.
  ASSERT_EQ(r.SetData(data + 4, 4), S_OK);
  EXPECT_EQ(r.NextBit(), 0u);
  EXPECT_TRUE(r.Error());

  // Aligned 16-bit peek needs three bytes, aligned 8-bit read two.
  ASSERT_EQ(r.SetData(data, 2), S_OK);
  EXPECT_EQ(r.NextAligned16Bit(), 0u);
  EXPECT_TRUE(r.Error());
  ASSERT_EQ(r.SetData(data + 2, 3), S_OK);
  EXPECT_EQ(r.NextAligned16Bit(), 0x01B5u);
  EXPECT_EQ(r.ReadAligned8Bit(), 0x01u);
  EXPECT_EQ(r.ReadAligned8Bit(), 0xB5u);
  EXPECT_EQ(r.ReadAligned8Bit(), 0u);
  EXPECT_TRUE(r.Error());
}

TEST(BitStream3, ErrorStaysUntilTheNextSetData) {
  const std::uint8_t data[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  TBitStream3 r;
  ASSERT_EQ(r.SetData(data, 3), S_OK);
  r.ReadAligned32Bit();
  EXPECT_TRUE(r.Error());
  EXPECT_EQ(r.ReadBit(), 1u);  // a later read that fits still reads
  EXPECT_TRUE(r.Error());
  ASSERT_EQ(r.SetData(data, 10), S_OK);
  EXPECT_FALSE(r.Error());
}

TEST(BitStream3, AlignedByteReadIgnoresTheBitIndex) {
  const std::uint8_t data[] = {0x80, 0x42, 0x00, 0x00};
  TBitStream3 r;
  ASSERT_EQ(r.SetData(data, 4), S_OK);
  r.ReadBit();
  EXPECT_EQ(r.ReadAligned8Bit(), 0x80u);  // the whole current byte
  EXPECT_EQ(r.BitIndex(), 1);
  EXPECT_EQ(r.BytePos(), 1);
}

} // namespace
} // namespace varlow
