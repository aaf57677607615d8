#include <gtest/gtest.h>

#include <vector>

#include "TestStreams.h"
#include "TransrateCraft.h"
#include "support/Log.h"
#include "transrate/MPEGESFrameSeparator.h"

using namespace varlow;
using varlow::test::TCraft;

namespace {

struct TUnit {
  std::vector<std::uint8_t> Bytes;
  int Type;
  bool GOPStart;
  bool operator==(const TUnit&) const = default;
};

// Feeds a stream in blocks of `step` bytes (then flushes) and records every delivered unit.
std::vector<TUnit> Separate(const std::vector<std::uint8_t>& stream, std::size_t step, bool flush = true) {
  std::vector<TUnit> units;
  TMPEGESVideoFrameSeparatorEx separator;
  separator.SetMPEGESReceiveFunctionObj(
      [&](std::int32_t StreamId, std::int32_t Reserved, const std::uint8_t* Data, std::int32_t Size) {
        EXPECT_EQ(StreamId, 224);
        EXPECT_EQ(Reserved, 0);
        units.push_back({{Data, Data + Size}, separator.FrameCodingType(), separator.GOPStart()});
        return S_OK;
      });
  for (std::size_t at = 0; at < stream.size(); at += step) {
    const std::size_t n = std::min(step, stream.size() - at);
    EXPECT_EQ(separator.AddData(stream.data() + at, static_cast<std::int32_t>(n)), S_OK);
  }
  if (flush) separator.Flush();
  return units;
}

} // namespace

TEST(TMPEGESVideoFrameSeparatorEx, HeadersStayWithTheFirstPictureAndTheLastPictureWaitsForTheFlush) {
  TCraft s;
  s.SequenceHeader(3).SequenceExtension().Gop().Picture(1);
  const std::size_t firstEnd = s.Size();
  s.Picture(3).Picture(2);
  const std::size_t thirdStart = s.Size() - TCraft().Picture(2).Size();

  const auto held = Separate(s.Data(), s.Size(), false);
  ASSERT_EQ(held.size(), 2u);  // without a flush the last picture stays held
  EXPECT_EQ(held[0].Bytes.size(), firstEnd);
  EXPECT_EQ(held[0].Type, 1);
  EXPECT_TRUE(held[0].GOPStart);
  EXPECT_EQ(held[1].Type, 3);
  EXPECT_FALSE(held[1].GOPStart);

  // A sequence end code cuts the last picture; the code itself only comes out with the flush.
  s.SequenceEnd();
  EXPECT_EQ(Separate(s.Data(), s.Size(), false).size(), 3u);
  const auto all = Separate(s.Data(), s.Size());
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[2].Type, 2);
  EXPECT_EQ(all[2].Bytes.size(), s.Size() - 4 - thirdStart);
  // The sequence end code comes out as a remainder without a picture.
  EXPECT_EQ(all[3].Type, 0);
  EXPECT_EQ(all[3].Bytes, (std::vector<std::uint8_t>{0, 0, 1, 0xB7}));
}

TEST(TMPEGESVideoFrameSeparatorEx, ByteAtATimeCutsTheSameUnitsAsOneBlock) {
  const auto stream = test::ReadFileBytes(test::OwnStream("p420_tools.m2v"));
  ASSERT_FALSE(stream.empty());
  const auto whole = Separate(stream, stream.size());
  EXPECT_EQ(whole.size(), 25u);
  EXPECT_EQ(Separate(stream, 1), whole);
  EXPECT_EQ(Separate(stream, 4093), whole);  // blocks that split start codes anywhere
}

TEST(TMPEGESVideoFrameSeparatorEx, StartCodeSplitAcrossBlocksAndLateCodingType) {
  TCraft s;
  s.SequenceHeader(3).Gop().Picture(1).Raw({0x12, 0x34}).Picture(2).Picture(3);
  const auto whole = Separate(s.Data(), s.Size());
  ASSERT_EQ(whole.size(), 3u);
  // Every split position of the stream into two blocks gives the same units, including the
  // ones that leave a picture start code in the last five bytes of the first block.
  for (std::size_t cut = 1; cut < s.Size(); ++cut) {
    std::vector<TUnit> units;
    TMPEGESVideoFrameSeparatorEx separator;
    separator.SetMPEGESReceiveFunctionObj([&](std::int32_t, std::int32_t, const std::uint8_t* d, std::int32_t n) {
      units.push_back({{d, d + n}, separator.FrameCodingType(), separator.GOPStart()});
      return S_OK;
    });
    separator.AddData(s.Data().data(), static_cast<std::int32_t>(cut));
    separator.AddData(s.Data().data() + cut, static_cast<std::int32_t>(s.Size() - cut));
    separator.Flush();
    EXPECT_EQ(units, whole) << "split at " << cut;
  }
  EXPECT_EQ(whole[1].Type, 2);
  EXPECT_EQ(whole[2].Type, 3);
}

TEST(TMPEGESVideoFrameSeparatorEx, TwoGopHeadersInARowMakeNoEmptyUnit) {
  TCraft s;
  s.SequenceHeader(3).Gop().Picture(1).Gop().Gop().Picture(1).Picture(2);
  const auto units = Separate(s.Data(), s.Size());
  ASSERT_EQ(units.size(), 3u);
  for (const auto& u : units) EXPECT_GE(u.Bytes.size(), TCraft().Picture(1).Size());
  EXPECT_TRUE(units[1].GOPStart);
  EXPECT_EQ(units[1].Bytes.size(), TCraft().Gop().Gop().Picture(1).Size());
  EXPECT_FALSE(units[2].GOPStart);
}

TEST(TMPEGESVideoFrameSeparatorEx, BadArgumentsAndFailingReceivers) {
  TMPEGESVideoFrameSeparatorEx separator;
  std::uint8_t byte = 0;
  EXPECT_EQ(separator.AddData(nullptr, 10), E_FAIL);
  EXPECT_EQ(separator.AddData(&byte, 0), E_FAIL);
  EXPECT_EQ(separator.Process(), E_FAIL);  // nothing held

  // A receiver that fails (or throws) does not stop the stream.
  TCraft s;
  s.SequenceHeader(3).Picture(1).Picture(2).Picture(2);
  int calls = 0;
  separator.SetMPEGESReceiveFunctionObj([&](std::int32_t, std::int32_t, const std::uint8_t*, std::int32_t) {
    ++calls;
    return E_FAIL;
  });
  EXPECT_EQ(separator.AddData(s.Data().data(), static_cast<std::int32_t>(s.Size())), S_OK);
  EXPECT_EQ(calls, 2);

  ScopedLogCapture capture;
  TMPEGESVideoFrameSeparatorEx throwing;
  throwing.SetMPEGESReceiveFunctionObj(
      [&](std::int32_t, std::int32_t, const std::uint8_t*, std::int32_t) -> HRESULT { throw 1; });
  EXPECT_EQ(throwing.AddData(s.Data().data(), static_cast<std::int32_t>(s.Size())), E_FAIL);
  EXPECT_EQ(capture.Count("wex: Error in TMPEGESVideoFrameSeparatorEx.SendFrame call..."), 1);
  EXPECT_EQ(capture.Count("wex: Error in TMPEGESVideoFrameSeparatorEx.Process - SendFrame Result = $80004005"), 1);
  EXPECT_EQ(capture.Count("wex: Error in TMPEGESVideoFrameSeparatorEx.AddData - Process Result = $80004005"), 1);
}

TEST(TMPEGESVideoFrameSeparatorEx, GarbageWithoutPicturesIsNotHeldForever) {
  // 70 MiB without any start code: dropped once it passes the unit limit, memory stays bounded.
  TMPEGESVideoFrameSeparatorEx separator;
  int calls = 0;
  separator.SetMPEGESReceiveFunctionObj([&](std::int32_t, std::int32_t, const std::uint8_t*, std::int32_t) {
    ++calls;
    return S_OK;
  });
  ScopedLogCapture capture;
  std::vector<std::uint8_t> block(2 * 1024 * 1024, 0xAB);
  for (int i = 0; i < 35; ++i) separator.AddData(block.data(), static_cast<std::int32_t>(block.size()));
  EXPECT_LE(separator.HeldBytes(), TMPEGESVideoFrameSeparatorEx::kMaxUnitSize + static_cast<std::int32_t>(block.size()));
  EXPECT_EQ(calls, 0);
}
