#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "DecodedLuma.h"
#include "TestStreams.h"
#include "TransrateRun.h"
#include "support/PaddedBuffer.h"
#include "transrate/MPEG2VideoTransrateClass.h"
#include "transrate/TransrateMethod.h"

// What a decoder makes of transrated streams, for each method: every output of every clean
// stream decodes without an error in ffmpeg and the same in libmpeg2, keeps its pictures in
// their order, and lies no further from the decoded input than a coarser quantiser explains.

using namespace varlow;
using namespace varlow::test;

namespace {

struct TMethodRun {
  std::vector<std::uint8_t> Output;
  std::int64_t PicturesIn = 0;
  std::int64_t PicturesOut = 0;
  double Fps = 0;
  double FramePeriods = 0;
};

TMethodRun TransrateWith(TTransrateMethod method, const std::vector<std::uint8_t>& stream, std::int32_t bitrate,
                         std::size_t blockSize = 1 << 20) {
  TMethodRun run;
  TMPEG2VideoTransrateClass transrate;
  transrate.SetMethod(method);
  transrate.SetMPEGESTransReceiveFunctionObj([&](const std::uint8_t* Data, std::int32_t Size, std::int32_t) {
    run.Output.insert(run.Output.end(), Data, Data + Size);
    return S_OK;
  });
  transrate.SetMaxOutputBitrate(bitrate);
  TPaddedBuffer block(blockSize);
  for (std::size_t at = 0; at < stream.size(); at += blockSize) {
    const std::size_t n = std::min(blockSize, stream.size() - at);
    block.Assign({stream.data() + at, n});
    transrate.AddData(block.Data(), static_cast<std::int32_t>(n));
  }
  transrate.Flush();
  run.PicturesIn = transrate.PicturesIn();
  run.PicturesOut = transrate.PicturesOut();
  run.Fps = transrate.Fps();
  run.FramePeriods = transrate.FramePeriodsOut();
  return run;
}

// picture_coding_type and temporal_reference of every picture, in stream order.
std::vector<int> PictureTags(const std::vector<std::uint8_t>& s) {
  std::vector<int> tags;
  for (std::size_t at : PictureOffsets(s)) tags.push_back((s[at + 4] << 8 | s[at + 5]) >> 3);
  return tags;
}

// The stream up to the first group that starts after `minPictures` pictures: whole groups only,
// so the shortened stream decodes as the start of the long one does.
std::vector<std::uint8_t> FirstGroups(const std::vector<std::uint8_t>& s, std::size_t minPictures) {
  std::size_t pictures = 0;
  for (std::size_t i = 0; i + 3 < s.size(); ++i) {
    if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1) continue;
    if (s[i + 3] == 0) ++pictures;
    if ((s[i + 3] == 0xB3 || s[i + 3] == 0xB8) && pictures >= minPictures)
      return {s.begin(), s.begin() + static_cast<std::ptrdiff_t>(i)};
  }
  return s;
}

// The B pictures that lead an open first group: they predict from a picture before the stream
// starts, so ffmpeg leaves them out where libmpeg2 shows them concealed.
std::size_t LeadingPicturesFfmpegDrops(const std::vector<std::uint8_t>& s) {
  bool open = false;
  std::size_t leading = 0;
  bool afterIntra = false;
  for (std::size_t i = 0; i + 7 < s.size(); ++i) {
    if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1) continue;
    if (s[i + 3] == 0xB8 && !afterIntra) open = (s[i + 7] & 0x40) == 0;
    if (s[i + 3] != 0) continue;
    const int type = (s[i + 5] >> 3) & 7;
    if (!afterIntra) {
      afterIntra = type == 1;
    } else if (type == 3) {
      ++leading;
    } else {
      break;
    }
  }
  return open ? leading : 0;
}

struct TStreamCase {
  const char* Name;  // a test stream, or a shared stream when Shared
  bool Shared;
  bool DropLastPicture;  // the file's last picture is cut short
};

// Every clean stream there is: each kind of picture the transrater may meet. Long streams are
// cut to their first groups (30 pictures or more) to keep the suite's time bounded; the pictures
// that follow are more of the same. VARLOW_LONG_TESTS=1 in the environment runs them whole.
constexpr TStreamCase kStreams[] = {
    {"i420_interlaced.m2v", false, false},
    {"i422_interlaced.m2v", false, false},
    {"p420_plain.m2v", false, false},
    {"p420_tools.m2v", false, false},
    {"mpeg1.m1v", false, false},
    {"hd1080.m2v", false, false},
    {"matrices.m2v", false, false},
    {"lowrisc_test.m2v", true, false},
    {"test_2.mpg", true, false},
    {"cinecutie_test.m2v", true, false},
    {"greyramp.mpg", true, true},
    {"gen2brain_test.m1v", true, false},
    {"idet_soft_telecine.m2v", true, false},
    {"idet_interlaced_bff.m2v", true, false},
};
std::size_t MaxPictures() { return std::getenv("VARLOW_LONG_TESTS") ? SIZE_MAX : 30; }

// Floors of the decoded output's distance from the decoded input, per picture and per band of
// 16 lines, by the share of the stream's rate kept. A slice decoded with the wrong quantiser,
// table or vectors falls far below them. Re-quantising must stay within what its coarser
// quantiser explains (a detailed 128x128 picture at 60% comes to 25 dB); cutting codes loses
// more (21 dB there), so the cut has floors of its own.
struct TFloor {
  double Picture;
  double Band;
};
TFloor FloorFor(bool cutting, double share) {
  if (share >= 1.0) return cutting ? TFloor{28, 20} : TFloor{30, 22};
  if (share >= 0.55) return cutting ? TFloor{20, 16} : TFloor{24, 18};
  if (share >= 0.35) return cutting ? TFloor{18, 14} : TFloor{21, 15};
  return cutting ? TFloor{18, 13} : TFloor{20, 15};
}

bool IsMpeg1(const std::vector<std::uint8_t>& s) {
  for (std::size_t i = 0; i + 3 < s.size(); ++i)
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1 && s[i + 3] == 0xB5) return false;
  return true;
}

std::string CaseName(std::string name) {
  std::replace_if(
      name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
  return name;
}

// One stream through one method at each rate.
void CheckStream(TTransrateMethod method, const TStreamCase& stream) {
  const std::string path = stream.Shared ? SharedStream(stream.Name) : OwnStream(stream.Name);
  if (!Exists(path)) GTEST_SKIP() << "no " << path;
  std::vector<std::uint8_t> whole = ReadFileBytes(path);
  if (stream.DropLastPicture) whole.resize(PictureOffsets(whole).back());
  const std::vector<std::uint8_t> cut = FirstGroups(whole, MaxPictures());
  const std::vector<std::uint8_t> input(cut.begin() + static_cast<std::ptrdiff_t>(FirstIntraUnitStart(cut)), cut.end());
  ASSERT_FALSE(input.empty());
  const int width = (input[4] << 4) | (input[5] >> 4);
  const int height = ((input[5] & 0x0F) << 8) | input[6];
  const std::string inPath = WriteTemp("decode_" + CaseName(stream.Name) + "_in.m2v", input);
  const TDecodedLuma original = DecodeLumaWithFfmpeg(inPath, width, height);
  ASSERT_TRUE(original.Clean) << original.Errors;
  ASSERT_FALSE(original.Pictures.empty());

  // At the top rate the input meets the rate already and comes out as it went in; the run
  // also gives the duration the rate control counts, hence the stream's own rate.
  const TMethodRun copy = TransrateWith(method, input, 50'000'000);
  ASSERT_GT(copy.FramePeriods, 0);
  EXPECT_TRUE(copy.Output == input);
  const double rate = double(input.size()) * 8 * copy.Fps / copy.FramePeriods;

  std::vector<double> shares = {0.6, 0.4, 1'500'000 / rate};
  if (shares.back() < 1.0) shares.push_back(1.25);
  const auto tags = PictureTags(input);
  const bool mpeg1 = IsMpeg1(input);
  const std::size_t skipped = LeadingPicturesFfmpegDrops(input);
  for (double share : shares) {
    const auto bitrate = static_cast<std::int32_t>(rate * share);
    std::ostringstream label;
    label << stream.Name << " at " << bitrate << " bit/s (" << int(share * 100 + 0.5) << "% of its rate)";
    SCOPED_TRACE(label.str());
    const TMethodRun run = TransrateWith(method, input, bitrate);
    // Until the controller re-quantises it answers the requant setting with the cut: judge
    // such output as the cut's.
    const bool cutting =
        method == TTransrateMethod::Cut || run.Output == TransrateWith(TTransrateMethod::Cut, input, bitrate).Output;
    EXPECT_EQ(run.PicturesIn, static_cast<std::int64_t>(tags.size()));
    EXPECT_EQ(run.PicturesOut, run.PicturesIn);
    EXPECT_EQ(PictureTags(run.Output), tags) << "pictures lost, added or reordered";
    EXPECT_LE(run.Output.size(), input.size());
    // The cut leaves MPEG-1 as it is; everything else must shrink when the rate asks for it.
    if (share < 0.9 && !(cutting && mpeg1)) {
      EXPECT_LT(run.Output.size(), input.size()) << "nothing was taken out";
    }
    if (run.Output == input) continue;  // the rate was met already: nothing more to judge

    const std::string outPath = WriteTemp(
        "decode_" + CaseName(stream.Name) + "_" + std::string(TransrateMethodName(method)) + "_out.m2v", run.Output);
    const TDecodedLuma ffmpeg = DecodeLumaWithFfmpeg(outPath, width, height);
    EXPECT_TRUE(ffmpeg.Clean) << ffmpeg.Errors;
    ASSERT_EQ(ffmpeg.Pictures.size(), original.Pictures.size());
    const TFloor floor = FloorFor(cutting, share);
    double worstPicture = 99, worstBand = 99;
    for (std::size_t p = 0; p < ffmpeg.Pictures.size(); ++p) {
      const TPictureDistance d = Distance(ffmpeg.Pictures[p], original.Pictures[p], width, height);
      EXPECT_GE(d.Psnr, floor.Picture) << "picture " << p;
      EXPECT_GE(d.WorstBand, floor.Band) << "picture " << p;
      worstPicture = std::min(worstPicture, d.Psnr);
      worstBand = std::min(worstBand, d.WorstBand);
    }
    ::testing::Test::RecordProperty(
        CaseName(label.str()), std::to_string(worstPicture) + " dB picture, " + std::to_string(worstBand) + " dB band");

    // libmpeg2 sees the same pictures: it conceals damage silently, so it must agree with
    // ffmpeg to within IDCT rounding on every picture but the last two it may hold back.
    const TDecodedLuma libmpeg2 = DecodeLumaWithMpeg2dec(outPath, width, height);
    EXPECT_TRUE(libmpeg2.Clean);
    EXPECT_GE(libmpeg2.Pictures.size() + 2, ffmpeg.Pictures.size() + skipped);
    for (std::size_t p = 0; p + skipped < libmpeg2.Pictures.size() && p < ffmpeg.Pictures.size(); ++p)
      EXPECT_GE(Distance(libmpeg2.Pictures[p + skipped], ffmpeg.Pictures[p], width, height).WorstBand, 40)
          << "picture " << p;
  }
}

using TDecodeCase = std::tuple<TTransrateMethod, std::size_t>;
class TransrateDecode : public ::testing::TestWithParam<TDecodeCase> {};

std::string DecodeCaseName(const ::testing::TestParamInfo<TDecodeCase>& info) {
  return std::string(TransrateMethodName(std::get<0>(info.param))) + "_" +
         CaseName(kStreams[std::get<1>(info.param)].Name);
}

}  // namespace

TEST_P(TransrateDecode, DecodesCleanlyInOrderAndCloseToTheInput) {
  CheckStream(std::get<0>(GetParam()), kStreams[std::get<1>(GetParam())]);
}

INSTANTIATE_TEST_SUITE_P(Streams, TransrateDecode,
                         ::testing::Combine(::testing::Values(TTransrateMethod::Requant, TTransrateMethod::Cut),
                                            ::testing::Range<std::size_t>(0, std::size(kStreams))),
                         DecodeCaseName);

class TransrateBadInput : public ::testing::TestWithParam<TTransrateMethod> {};

INSTANTIATE_TEST_SUITE_P(Methods, TransrateBadInput,
                         ::testing::Values(TTransrateMethod::Requant, TTransrateMethod::Cut),
                         [](const auto& info) { return std::string(TransrateMethodName(info.param)); });

// Noise, cut pictures and flipped bits never crash the engine nor make it read or write outside
// a buffer (the sanitizer build checks that half); every picture it takes in comes out, and
// never bigger than the input.
TEST_P(TransrateBadInput, SurvivesNoiseCutPicturesAndFlippedBits) {
  std::mt19937 random(77);
  std::vector<std::vector<std::uint8_t>> cases;
  std::vector<std::uint8_t> noise(200'000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  cases.push_back(noise);

  for (const char* name : {"i420_interlaced.m2v", "p420_tools.m2v", "mpeg1.m1v", "matrices.m2v"}) {
    const auto clean = ReadFileBytes(OwnStream(name));
    ASSERT_FALSE(clean.empty()) << name;
    const auto pictures = PictureOffsets(clean);
    const std::size_t firstPicture = pictures.front();

    // Noise in place of every picture's slices after its first few bytes.
    std::vector<std::uint8_t> noisy = clean;
    for (std::size_t p = 0; p < pictures.size(); ++p) {
      const std::size_t end = p + 1 < pictures.size() ? pictures[p + 1] : noisy.size();
      for (std::size_t i = pictures[p] + 40; i + 4 < end; ++i) noisy[i] = static_cast<std::uint8_t>(random() | 1);
    }
    cases.push_back(noisy);

    // Every picture cut short at a different place, the headers between them kept.
    std::vector<std::uint8_t> cut(clean.begin(), clean.begin() + static_cast<std::ptrdiff_t>(firstPicture));
    for (std::size_t p = 0; p < pictures.size(); ++p) {
      const std::size_t end = p + 1 < pictures.size() ? pictures[p + 1] : clean.size();
      const std::size_t keep = pictures[p] + (end - pictures[p]) * ((p * 37) % 100) / 100;
      cut.insert(cut.end(), clean.begin() + static_cast<std::ptrdiff_t>(pictures[p]),
                 clean.begin() + static_cast<std::ptrdiff_t>(std::max(keep, pictures[p] + 6)));
    }
    cases.push_back(cut);

    // Single bit errors all over the slices.
    std::vector<std::uint8_t> flipped = clean;
    for (int i = 0; i < 300; ++i) {
      const std::size_t at = firstPicture + random() % (flipped.size() - firstPicture);
      flipped[at] ^= static_cast<std::uint8_t>(1u << (random() % 8));
    }
    cases.push_back(flipped);
  }

  for (std::size_t c = 0; c < cases.size(); ++c)
    for (std::int32_t rate : {1'500'000, 3'000'000, 50'000'000}) {
      SCOPED_TRACE("case " + std::to_string(c) + " at " + std::to_string(rate));
      const TMethodRun run = TransrateWith(GetParam(), cases[c], rate, 4099);
      EXPECT_EQ(run.PicturesOut, run.PicturesIn);
      EXPECT_LE(run.PicturesIn, static_cast<std::int64_t>(PictureOffsets(cases[c]).size()));
      EXPECT_LE(run.Output.size(), cases[c].size());
    }
}

// Real damaged files, whose headers are intact: every picture comes out, in its place.
TEST_P(TransrateBadInput, DamagedStreamsKeepEveryPicture) {
  for (const char* name : {"damaged/mwgoldsmith_test.m2v", "damaged/test.mpeg1video", "greyramp.mpg"}) {
    const std::string path = SharedStream(name);
    if (!Exists(path)) continue;
    SCOPED_TRACE(name);
    const auto whole = ReadFileBytes(path);
    const std::vector<std::uint8_t> input(whole.begin() + static_cast<std::ptrdiff_t>(FirstIntraUnitStart(whole)),
                                          whole.end());
    const TMethodRun copy = TransrateWith(GetParam(), input, 50'000'000);
    ASSERT_GT(copy.FramePeriods, 0);
    for (double share : {0.4, 0.6}) {
      const auto rate = static_cast<std::int32_t>(double(input.size()) * 8 * copy.Fps / copy.FramePeriods * share);
      const TMethodRun run = TransrateWith(GetParam(), input, rate);
      EXPECT_EQ(run.PicturesIn, static_cast<std::int64_t>(PictureOffsets(input).size()));
      EXPECT_EQ(run.PicturesOut, run.PicturesIn);
      EXPECT_EQ(PictureTags(run.Output), PictureTags(input));
      EXPECT_LE(run.Output.size(), input.size());
    }
  }
}

// The twin of a clean stream with bytes changed in its slices: the pictures that ffmpeg finds
// damaged are carried as they came in, the clean one is transrated as in the clean stream.
TEST_P(TransrateBadInput, DamagedPicturesAreCarriedUnchanged) {
  const std::string damagedPath = SharedStream("damaged/mwgoldsmith_test.m2v");
  const std::string cleanPath = SharedStream("lowrisc_test.m2v");
  if (!Exists(damagedPath) || !Exists(cleanPath)) GTEST_SKIP() << "no shared streams";
  const auto damaged = ReadFileBytes(damagedPath);
  const auto clean = ReadFileBytes(cleanPath);
  const TMethodRun fromDamaged = TransrateWith(GetParam(), damaged, 200'000);
  const TMethodRun fromClean = TransrateWith(GetParam(), clean, 200'000);
  const auto inPictures = PictureOffsets(damaged);
  const auto outPictures = PictureOffsets(fromDamaged.Output);
  const auto cleanOutPictures = PictureOffsets(fromClean.Output);
  ASSERT_EQ(inPictures.size(), outPictures.size());
  ASSERT_EQ(inPictures, PictureOffsets(clean));
  EXPECT_LT(fromClean.Output.size(), clean.size()) << "the rate does not bite";
  auto picture = [](const std::vector<std::uint8_t>& s, const std::vector<std::size_t>& at, std::size_t p) {
    const std::size_t end = p + 1 < at.size() ? at[p + 1] : s.size();
    return std::vector<std::uint8_t>(s.begin() + static_cast<std::ptrdiff_t>(at[p]),
                                     s.begin() + static_cast<std::ptrdiff_t>(end));
  };
  for (std::size_t p = 0; p < inPictures.size(); ++p) {
    const auto in = picture(damaged, inPictures, p);
    if (in == picture(clean, inPictures, p))
      EXPECT_EQ(picture(fromDamaged.Output, outPictures, p), picture(fromClean.Output, cleanOutPictures, p)) << p;
    else
      EXPECT_EQ(picture(fromDamaged.Output, outPictures, p), WithVariableDelays(in)) << "picture " << p;
  }
}
