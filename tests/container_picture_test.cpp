#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestStreams.h"
#include "browser/PackIndex.h"
#include "container/OpenSource.h"
#include "picture/MacroblockMap.h"
#include "picture/PictureDecoder.h"

namespace varlow {
namespace {

// The picture units of a stream's first page, as (offset) in each of its two forms.
std::vector<std::int64_t> PictureOffsets(std::unique_ptr<TByteSource> source) {
  TPackIndex index;
  index.SetStream(std::move(source));
  index.SetRowsPerPage(48);
  index.Home();
  std::vector<std::int64_t> offsets;
  for (std::int32_t i = 0; i < index.PackCount(); ++i)
    if (index.Pack(i).StartCode[3] == 0x00) offsets.push_back(index.Pack(i).Offset);
  return offsets;
}

// Decoded inside its container, a picture is the one decoded from the elementary stream, and the
// analyser finds the same macroblocks in it: the picture view and `picture` see the same video.
TEST(ContainerPicture, DecodedPicturesAndMacroblocksEqualThoseOfTheElementaryStream) {
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {test::OwnStream("i420_interlaced.ts"), test::OwnStream("i420_interlaced.m2v")},
      {test::OwnStream("mpeg1.mpg"), test::OwnStream("mpeg1.m1v")},
      {test::OwnStream("p420_tools.vob"), test::OwnStream("p420_tools.m2v")},
      {test::SharedStream("containers/bt601-525_480_telecined_soft.ts"), test::SharedStream("idet_soft_telecine.m2v")},
  };
  for (const auto& [container, elementary] : pairs) {
    if (!test::Exists(container)) continue;
    SCOPED_TRACE(container);
    const auto inner = PictureOffsets(OpenVideoSource(container, TFileStream::Mode::ReadOnly).Source);
    const auto plain = PictureOffsets(TByteSource::OpenPlain(elementary, TFileStream::Mode::ReadOnly));
    ASSERT_EQ(inner.size(), plain.size());
    ASSERT_GE(inner.size(), 4u);
    TPictureDecoder a(container);
    TPictureDecoder b(elementary);
    const auto sa = OpenVideoSource(container, TFileStream::Mode::ReadOnly).Source;
    const auto sb = TByteSource::OpenPlain(elementary, TFileStream::Mode::ReadOnly);
    for (const std::size_t i : {std::size_t{0}, std::size_t{1}, std::size_t{3}, inner.size() - 1}) {
      const TPictureResult ra = a.Decode(inner[i]);
      const TPictureResult rb = b.Decode(plain[i]);
      ASSERT_EQ(ra.Status, rb.Status) << ra.Message;
      if (ra.Status != TPictureResult::TStatus::Ok) continue;
      EXPECT_EQ(ra.Picture->Width, rb.Picture->Width);
      EXPECT_TRUE(ra.Picture->Y == rb.Picture->Y);
      EXPECT_TRUE(ra.Picture->Cb == rb.Picture->Cb);
      const TMacroblockMap ma = AnalysePictureMacroblocks(*sa, inner[i]);
      const TMacroblockMap mb = AnalysePictureMacroblocks(*sb, plain[i]);
      EXPECT_EQ(ma.Macroblocks.size(), mb.Macroblocks.size());
      EXPECT_FALSE(ma.Macroblocks.empty());
    }
  }
}

} // namespace
} // namespace varlow
