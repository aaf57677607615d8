// B macroblocks that the re-quantiser turns into skipped ones must decode exactly as the
// macroblocks they stand for: whole streams re-quantised at a fixed step with and without
// skipping decode to the same pictures, bit for bit, and skipping never costs bits.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "DecodedLuma.h"
#include "TestStreams.h"
#include "support/PaddedBuffer.h"
#include "transrate/MPEGESFrameSeparator.h"
#include "transrate/MPEGVideoTranscoder.h"

namespace varlow {
namespace {

// Every picture re-quantised at `scale` times its step, with no rate control; a picture the
// transcoder cannot parse is kept as it is.
std::vector<std::uint8_t> RequantiseAtFixedStep(const std::vector<std::uint8_t>& stream, double scale, bool skipB) {
  TMPEGESVideoFrameSeparatorEx separator;
  TMPEGVideoTranscoder transcoder;
  transcoder.SetMpeg1(true);
  std::vector<std::uint8_t> out;
  separator.SetMPEGESReceiveFunctionObj([&](std::int32_t, std::int32_t, const std::uint8_t* data, std::int32_t size) {
    const std::int32_t type = separator.FrameCodingType();
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(size) * 2 + 1024);
    auto written = static_cast<std::int32_t>(picture.size());
    TMPEGVideoTranscoder::TRequantSettings settings;
    settings.Scale = scale;
    settings.Lambda = 0.2;
    settings.SkipBMacroblocks = skipB;
    if (type >= 1 && type <= 3 &&
        transcoder.Requantise(type, data, picture.data(), size, written, settings) == S_OK && !transcoder.Damaged())
      out.insert(out.end(), picture.begin(), picture.begin() + written);
    else
      out.insert(out.end(), data, data + size);
    return S_OK;
  });
  TPaddedBuffer block(stream.size());
  block.Assign(stream);
  separator.AddData(block.Data(), static_cast<std::int32_t>(stream.size()));
  separator.Flush();
  return out;
}

// ffmpeg's MD5 of every decoded picture (all planes), or the errors it reported.
std::string DecodedPictureDigests(const std::vector<std::uint8_t>& stream, const std::string& name) {
  const std::string path = ::testing::TempDir() + "varlow_bskip_" + std::to_string(::getpid()) + "_" + name;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(stream.data()),
                                              static_cast<std::streamsize>(stream.size()));
  int status = 0;
  const auto digests =
      test::CaptureOutput("ffmpeg -nostdin -v error -xerror -i '" + path + "' -f framemd5 - 2>&1", status);
  std::remove(path.c_str());
  return std::string(digests.begin(), digests.end()) + (status == 0 ? "" : "ffmpeg failed");
}

TEST(RequantBSkip, SkippedBMacroblocksDecodeExactlyAsTheMacroblocksTheyReplace) {
  struct TCase {
    std::string Path;
    double Scale;
  };
  const std::vector<TCase> cases = {
      {test::OwnStream("i420_interlaced.m2v"), 2.5}, {test::OwnStream("i422_interlaced.m2v"), 3.0},
      {test::OwnStream("mpeg1.m1v"), 2.5},           {test::OwnStream("p420_plain.m2v"), 4.0},
      {test::SharedStream("gen2brain_test.m1v"), 2.0}, {test::SharedStream("idet_interlaced_bff.m2v"), 3.0}};
  std::size_t saved = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Path);
    const std::vector<std::uint8_t> input = test::ReadFileBytes(c.Path);
    ASSERT_FALSE(input.empty());
    const auto skipped = RequantiseAtFixedStep(input, c.Scale, true);
    const auto coded = RequantiseAtFixedStep(input, c.Scale, false);
    EXPECT_LE(skipped.size(), coded.size());
    saved += coded.size() - std::min(coded.size(), skipped.size());
    const std::string name = c.Path.substr(c.Path.find_last_of('/') + 1);
    const std::string digests = DecodedPictureDigests(skipped, "skipped_" + name);
    EXPECT_EQ(digests, DecodedPictureDigests(coded, "coded_" + name));
    EXPECT_EQ(digests.find("failed"), std::string::npos) << digests;
  }
  EXPECT_GT(saved, 0u) << "no macroblock was skipped: the comparison proves nothing";
}

} // namespace
} // namespace varlow
