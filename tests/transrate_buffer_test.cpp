#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "support/PaddedBuffer.h"
#include "transrate/BitStreamWriter.h"
#include "transrate/Buffer.h"

using namespace varlow;

namespace {
std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}
} // namespace

TEST(TBuffer, GrowsFromNothingByTheLargerOfCountAndStep) {
  TBuffer empty(0, 0);
  EXPECT_EQ(empty.Capacity(), 0);
  const auto data = Bytes({1, 2, 3});
  empty.Append(data.data(), 3);
  EXPECT_EQ(empty.Capacity(), 3);
  EXPECT_EQ(empty.DataSize(), 3);

  TBuffer stepped(0, 100);
  stepped.Append(data.data(), 3);
  EXPECT_EQ(stepped.Capacity(), 100);
  TBuffer negative(0, -5);  // a negative step counts as 0
  negative.Append(data.data(), 3);
  EXPECT_EQ(negative.Capacity(), 3);
}

TEST(TBuffer, ReadPositionAndCompaction) {
  TBuffer b(8, 0);
  const auto data = Bytes({10, 11, 12, 13, 14, 15});
  b.Append(data.data(), 6);
  b.SetReadPos(b.ReadPos() + 2);
  EXPECT_EQ(b.DataSize(), 4);
  EXPECT_EQ(b.DataPtr()[0], 12);

  // The tail has room for 2 more bytes only: appending 4 reallocates and compacts in one step.
  const std::uint8_t* before = b.DataPtr();
  const auto more = Bytes({16, 17, 18, 19});
  b.Append(more.data(), 4);
  EXPECT_NE(b.DataPtr(), before);
  EXPECT_EQ(b.ReadPos(), 0);
  EXPECT_EQ(b.DataSize(), 8);
  EXPECT_EQ(std::memcmp(b.DataPtr(), Bytes({12, 13, 14, 15, 16, 17, 18, 19}).data(), 8), 0);

  b.SetReadPos(3);
  b.Compact();
  EXPECT_EQ(b.ReadPos(), 0);
  EXPECT_EQ(b.DataPtr()[0], 15);
  EXPECT_EQ(b.DataSize(), 5);

  // A read position at the write position empties the buffer.
  b.SetReadPos(5);
  EXPECT_EQ(b.DataSize(), 0);
  EXPECT_EQ(b.ReadPos(), 0);
  EXPECT_EQ(b.FreeSpace(), b.Capacity());
}

TEST(TBuffer, DataIsFollowedByZeroedReaderPadding) {
  TBuffer b(4, 0);
  const auto ones = Bytes({0xFF, 0xFF, 0xFF, 0xFF});
  b.Append(ones.data(), 4);  // fills the block to its capacity
  b.Clear();
  b.Append(ones.data(), 1);
  for (std::size_t i = 1; i <= kReaderPadding; ++i) EXPECT_EQ(b.DataPtr()[i], 0) << i;
}

TEST(TBitStreamWriter, PacksFieldsMostSignificantBitFirst) {
  std::uint8_t out[16];
  TBitStreamWriter w;
  ASSERT_EQ(w.SetDestination(out, sizeof out), S_OK);
  w.PutBits(0x3, 2);
  w.PutBits(0x1, 7);
  EXPECT_EQ(out[0], 0xC0);
  EXPECT_EQ(out[1], 0x80);
  EXPECT_EQ(w.BytesWritten(), 1);
  EXPECT_EQ(w.BitPos(), 1);
  EXPECT_TRUE(w.ByteAlign());
  EXPECT_EQ(w.BytesWritten(), 2);
  EXPECT_TRUE(w.ByteAlign());  // already aligned: nothing more
  EXPECT_EQ(w.BytesWritten(), 2);
  // Only the low Count bits of the value are written.
  w.PutBits(0xFFFFFF0Au, 4);
  EXPECT_EQ(out[2], 0xA0);
}

TEST(TBitStreamWriter, WholeWordsAndWideFieldsAtAnyBitPosition) {
  std::uint8_t out[16];
  TBitStreamWriter w;
  w.SetDestination(out, sizeof out);
  w.PutBits(0x000001B3u, 32);
  w.PutBits(1, 1);
  w.PutBits(0x1FFFFFFu, 32);  // wider than the current word allows: written in two parts
  w.ByteAlign();
  EXPECT_EQ(std::memcmp(out, Bytes({0x00, 0x00, 0x01, 0xB3, 0x80, 0xFF, 0xFF, 0xFF, 0x80}).data(), 9), 0);
  EXPECT_EQ(w.BytesWritten(), 9);
}

TEST(TBitStreamWriter, RefusesWritesWithinFourBytesOfTheEnd) {
  std::uint8_t out[8];
  TBitStreamWriter w;
  w.SetDestination(out, 8);
  EXPECT_TRUE(w.PutBits(0xAB, 8));
  EXPECT_TRUE(w.PutBits(0xCD, 8));
  EXPECT_TRUE(w.PutBits(0xEF, 8));
  EXPECT_TRUE(w.PutBits(0x01, 8));
  EXPECT_FALSE(w.Overflow());
  EXPECT_FALSE(w.PutBits(0x12, 8));  // would start at byte 4: the four-byte reserve
  EXPECT_TRUE(w.Overflow());
  EXPECT_FALSE(w.ByteAlign());
  EXPECT_EQ(w.BytesWritten(), 4);
  // A new destination clears the flag and zero-fills.
  std::memset(out, 0x55, sizeof out);
  EXPECT_EQ(w.SetDestination(out, 8), S_OK);
  EXPECT_FALSE(w.Overflow());
  EXPECT_EQ(out[7], 0);
}

TEST(TBitStreamWriter, RejectsMissingDestinations) {
  std::uint8_t out[4];
  TBitStreamWriter w;
  EXPECT_FALSE(w.PutBits(1, 1));  // no destination yet
  EXPECT_EQ(w.SetDestination(nullptr, 100), E_FAIL);
  EXPECT_EQ(w.SetDestination(out, 0), E_FAIL);
  EXPECT_EQ(w.SetDestination(out, -1), E_FAIL);
}

TEST(TBitStreamWriter, CopyBitsMatchesBitByBitWrites) {
  std::vector<std::uint8_t> source(64 + kReaderPadding);
  for (std::size_t i = 0; i < 64; ++i) source[i] = static_cast<std::uint8_t>(i * 37 + 11);
  for (int lead : {0, 3, 7}) {
    for (std::int64_t from : {0, 5, 13}) {
      for (std::int64_t count : {0, 1, 31, 32, 33, 200, 64 * 8 - 13}) {
        if (from + count > 64 * 8) continue;
        std::uint8_t a[128];
        std::uint8_t b[128];
        TBitStreamWriter fast;
        TBitStreamWriter slow;
        fast.SetDestination(a, sizeof a);
        slow.SetDestination(b, sizeof b);
        fast.PutBits(0x55, lead);
        slow.PutBits(0x55, lead);
        EXPECT_TRUE(fast.CopyBits(source.data(), from, count));
        for (std::int64_t i = from; i < from + count; ++i) slow.PutBits((source[i >> 3] >> (7 - (i & 7))) & 1u, 1);
        EXPECT_EQ(fast.BytesWritten(), slow.BytesWritten());
        EXPECT_EQ(fast.BitPos(), slow.BitPos());
        EXPECT_EQ(std::memcmp(a, b, sizeof a), 0) << lead << " " << from << " " << count;
      }
    }
  }
}

TEST(TBitStreamWriter, TheWideFastPathAndTheTailPathWriteTheSameBits) {
  // The same fields of every width at every bit position, once into a roomy block (written
  // word-wide) and once bit by bit as a reference; then the last bytes of a tight block,
  // which go through the checked path and must stop at the same overflow point.
  std::vector<std::pair<std::uint32_t, int>> fields;
  std::uint32_t seed = 12345;
  for (int i = 0; i < 400; ++i) {
    seed = seed * 1664525u + 1013904223u;
    fields.emplace_back(seed, 1 + static_cast<int>((seed >> 7) % 32));
  }
  std::vector<std::uint8_t> fast(2048), reference(2048);
  TBitStreamWriter w;
  ASSERT_EQ(w.SetDestination(fast.data(), static_cast<std::int32_t>(fast.size())), S_OK);
  std::int64_t bit = 0;
  for (const auto& [value, count] : fields) {
    ASSERT_TRUE(w.PutBits(value, count));
    for (int k = count - 1; k >= 0; --k, ++bit)
      if ((value >> k) & 1u) reference[static_cast<std::size_t>(bit >> 3)] |= static_cast<std::uint8_t>(0x80u >> (bit & 7));
  }
  EXPECT_EQ(w.BytesWritten(), bit >> 3);
  EXPECT_EQ(w.BitPos(), bit & 7);
  EXPECT_EQ(fast, reference);

  std::vector<std::uint8_t> tight(64);
  ASSERT_EQ(w.SetDestination(tight.data(), static_cast<std::int32_t>(tight.size())), S_OK);
  std::size_t written = 0;
  while (written < fields.size() && w.PutBits(fields[written].first, fields[written].second)) ++written;
  EXPECT_TRUE(w.Overflow());
  EXPECT_GE(w.BytesWritten() + 4, static_cast<std::int32_t>(tight.size()));  // it stopped only at the end
  EXPECT_EQ(0, std::memcmp(tight.data(), reference.data(), static_cast<std::size_t>(w.BytesWritten())));
}
