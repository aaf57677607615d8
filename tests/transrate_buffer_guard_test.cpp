// The re-quantiser keeps the decoder's buffer: no picture's target exceeds what the buffer
// holds when it is due.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "TestStreams.h"
#include "TransrateRun.h"
#include "support/Log.h"
#include "support/PaddedBuffer.h"
#include "transrate/BufferGuard.h"
#include "transrate/MPEG2VideoTransrateClass.h"

using namespace varlow;
using namespace varlow::test;

namespace {

// The stream with every sequence header's vbv_buffer_size_value (10 bits, 83 bits from the
// start code's first bit) set to Value.
std::vector<std::uint8_t> WithBufferSize(std::vector<std::uint8_t> s, int Value) {
  for (std::size_t i = 0; i + 12 < s.size(); ++i) {
    if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1 || s[i + 3] != 0xB3) continue;
    for (int k = 0; k < 10; ++k) {
      const std::size_t bit = i * 8 + 83 + static_cast<std::size_t>(k);
      const auto mask = static_cast<std::uint8_t>(0x80 >> (bit % 8));
      if ((Value >> (9 - k)) & 1) {
        s[bit / 8] |= mask;
      } else {
        s[bit / 8] &= static_cast<std::uint8_t>(~mask);
      }
    }
  }
  return s;
}

}  // namespace

// The buffer starts full, fills at the rate for the time a picture is on show up to its size,
// and allows a picture what it holds less a tenth of its size; without a rate or a size it
// allows anything. A buffer first learnt later starts full; a smaller one clips what is held.
TEST(TransrateBufferGuard, FollowsTheBufferPictureByPicture) {
  TBufferGuard guard(1'000'000, 1'000'000);
  ASSERT_TRUE(guard.Active());
  EXPECT_EQ(guard.Allowed(), 900'000);
  guard.Remove(700'000, 0.04);  // 300,000 left, 40,000 come in
  EXPECT_DOUBLE_EQ(guard.Occupancy(), 340'000);
  EXPECT_EQ(guard.Allowed(), 240'000);
  guard.Remove(0, 10);  // full again, not more
  EXPECT_DOUBLE_EQ(guard.Occupancy(), 1'000'000);
  guard.SetBuffer(500'000);
  EXPECT_DOUBLE_EQ(guard.Occupancy(), 500'000);
  guard.Remove(600'000, 0.04);  // an underflow is owed by the bits to come
  EXPECT_DOUBLE_EQ(guard.Occupancy(), -60'000);
  EXPECT_EQ(guard.Allowed(), 0);

  TBufferGuard off(1'000'000, 0);
  EXPECT_FALSE(off.Active());
  EXPECT_EQ(off.Allowed(), std::numeric_limits<std::int64_t>::max());
  off.SetBuffer(400'000);
  EXPECT_TRUE(off.Active());
  EXPECT_DOUBLE_EQ(off.Occupancy(), 400'000);
}

// A stream whose buffer is small for the rate asked (measured: without the guard 10 of its
// pictures found the buffer short at 60%): re-quantised, none does, at any thread count, and
// the output decodes; the group budgets still hold.
TEST(TransrateBufferGuard, ASmallBufferIsKeptAtTheRateAsked) {
  const auto input = ReadFileBytes(OwnStream("i420_interlaced.m2v"));
  ASSERT_FALSE(input.empty());
  const auto stream = WithBufferSize(input, 10);
  const std::int32_t rate = OwnRate(stream) * 6 / 10;
  ScopedLogCapture quiet;
  std::vector<std::uint8_t> first;
  for (int threads : {1, 2}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    TMPEG2VideoTransrateClass transrate;
    transrate.SetThreads(threads);
    transrate.SetMaxOutputBitrate(rate);
    std::vector<std::uint8_t> out;
    std::int64_t over = 0;
    transrate.SetMPEGESTransReceiveFunctionObj([&](const std::uint8_t* d, std::int32_t n, std::int32_t) {
      out.insert(out.end(), d, d + n);
      return S_OK;
    });
    transrate.SetGroupReportFunction([&](const TGroupReport& r) { over += r.OutputBits > r.BudgetBits ? 1 : 0; });
    TPaddedBuffer block(stream.size());
    block.Assign(stream);
    transrate.AddData(block.Data(), static_cast<std::int32_t>(stream.size()));
    ASSERT_EQ(transrate.Flush(), S_OK);
    EXPECT_EQ(transrate.PicturesOut(), transrate.PicturesIn());
    EXPECT_EQ(over, 0);
    ASSERT_NE(transrate.OutputVbv(), nullptr);
    EXPECT_EQ(transrate.OutputVbv()->BufferBits, 10 * 16384);
    EXPECT_EQ(transrate.OutputVbv()->Underflows, 0);
    if (threads == 1) {
      first = out;
      EXPECT_TRUE(FfmpegDecodesCleanly(WriteTemp("buffer_guard.m2v", out)));
    } else {
      EXPECT_TRUE(out == first);
    }
  }
}
