// The decoded picture at a pack offset against ffmpeg's decode of the same frame, the walk back
// to the references it needs, the cache, and damaged input.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "picture/DecodePlan.h"
#include "picture/MacroblockMap.h"
#include "picture/PictureDecoder.h"
#include "picture/PictureLoader.h"
#include "picture/StreamUnits.h"
#include "picture_ffmpeg_support.h"
#include "support/FileStream.h"

using namespace varlow;

namespace {

using test::FileUnits;
using test::PicturesToCheck;

void ExpectMatchesFfmpeg(const std::string& path) {
  SCOPED_TRACE(path);
  if (!test::Exists(path)) GTEST_SKIP() << "missing " << path;
  const auto positions = test::FramePacketPositions(path);
  ASSERT_FALSE(positions.empty());
  const auto pictures = PicturesToCheck(FileUnits(path));
  ASSERT_GE(pictures.size(), 2u);
  TPictureDecoder decoder(path);
  for (const TStreamUnit& unit : pictures) {
    SCOPED_TRACE("offset " + std::to_string(unit.Offset) + " type " + std::to_string(unit.PictureCodingType));
    const TPictureResult result = decoder.Decode(unit.Offset);
    ASSERT_EQ(result.Status, TPictureResult::TStatus::Ok) << result.Message;
    const int index = test::DisplayIndexOf(positions, unit.Offset);
    ASSERT_GE(index, 0);
    const auto reference = test::FfmpegYPlane(path, index, result.Picture->Y.size());
    EXPECT_GT(test::PsnrY(result.Picture->Y, reference), 48.0);
    EXPECT_EQ(result.Picture->PictureType, "?IPB"[unit.PictureCodingType]);
  }
}

} // namespace

TEST(PictureDecode, IPAndBPicturesMatchFfmpegOnOwnStreams) {
  for (const auto& name : test::OwnStreamNames()) ExpectMatchesFfmpeg(test::OwnStream(name));
  ExpectMatchesFfmpeg(test::OwnStream("matrices.m2v"));
  ExpectMatchesFfmpeg(test::SampleStream());
}

TEST(PictureDecode, IPAndBPicturesMatchFfmpegOnThirdPartyStreams) {
  for (const char* name : {"lowrisc_test.m2v", "greyramp.mpg", "gen2brain_test.m1v", "idet_interlaced_bff.m2v",
                           "idet_soft_telecine.m2v", "cinecutie_test.m2v", "test_2.mpg"})
    ExpectMatchesFfmpeg(test::SharedStream(name));
}

namespace {

// The matrix ffmpeg is told: what the stream signals, else BT.709 above standard definition
// (ffmpeg itself would take BT.601 for every size) and BT.601 up to it.
std::string MatrixFor(const test::FfmpegVideo& video) {
  if (!video.colorSpace.empty() && video.colorSpace != "unknown") return "auto";
  return video.width >= 1280 || video.height > 576 ? "bt709" : "bt601";
}

// The command-line tool's PNG of each picture (or of its `field`) against ffmpeg's PNG of the
// same frame: PSNR of the two PNGs' luma.
void ExpectPngsMatchFfmpeg(const std::string& path, const std::vector<TStreamUnit>& pictures,
                           const std::string& field = "") {
  SCOPED_TRACE(path + (field.empty() ? "" : " field " + field));
  const auto positions = test::FramePacketPositions(path);
  ASSERT_FALSE(positions.empty());
  const std::string matrix = MatrixFor(test::ProbeVideo(path));
  const auto temporary = std::filesystem::temp_directory_path();
  const std::string stem = std::filesystem::path(path).filename().string() + (field.empty() ? "" : "_" + field);
  const std::string mine = (temporary / ("varlow_picture_" + stem + ".png")).string();
  const std::string reference = (temporary / ("varlow_picture_" + stem + "_ffmpeg.png")).string();
  for (const TStreamUnit& unit : pictures) {
    SCOPED_TRACE("offset " + std::to_string(unit.Offset) + " type " + "?IPB"[unit.PictureCodingType]);
    const std::string command = std::string(VARLOW_CLI_PATH) + " picture '" + path + "' --offset " +
                                std::to_string(unit.Offset) + " --png '" + mine + "'" +
                                (field.empty() ? "" : " --field " + field) + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const int index = test::DisplayIndexOf(positions, unit.Offset);
    ASSERT_GE(index, 0);
    ASSERT_EQ(test::FfmpegPng(path, index, field, matrix, reference), 0);
    const auto ours = test::FfmpegLuma(mine, -1), theirs = test::FfmpegLuma(reference, -1);
    ASSERT_FALSE(theirs.empty());
    const double psnr = test::PsnrY(ours, theirs);
    EXPECT_GT(psnr, 48.0);
    std::printf("[ psnr-y   ] %s %c @%lld: %.2f dB\n", stem.c_str(), "?IPB"[unit.PictureCodingType],
                static_cast<long long>(unit.Offset), psnr);
  }
  std::filesystem::remove(mine);
  std::filesystem::remove(reference);
}

void ExpectPngsMatchFfmpeg(const std::string& path) {
  if (!test::Exists(path)) {
    std::printf("[ skipped  ] missing %s\n", path.c_str());
    return;
  }
  const auto pictures = PicturesToCheck(FileUnits(path));
  ASSERT_GE(pictures.size(), 2u) << path;
  ExpectPngsMatchFfmpeg(path, pictures);
}

} // namespace

TEST(PictureDecode, WrittenPngMatchesFfmpegWithoutOverlays) {
  // I, P and B pictures of every stream of the project's own, 4:2:2 and 1080-line HD among them.
  for (const auto& name : test::OwnStreamNames()) ExpectPngsMatchFfmpeg(test::OwnStream(name));
  ExpectPngsMatchFfmpeg(test::OwnStream("matrices.m2v"));
  ExpectPngsMatchFfmpeg(test::SampleStream());
}

TEST(PictureDecode, WrittenPngMatchesFfmpegOnThirdPartyStreams) {
  // Signalled matrices (BT.470 B/G, SMPTE 170M), MPEG-1, bottom field first, soft telecine.
  for (const char* name : {"lowrisc_test.m2v", "greyramp.mpg", "gen2brain_test.m1v", "idet_interlaced_bff.m2v",
                           "idet_soft_telecine.m2v", "cinecutie_test.m2v", "test_2.mpg"})
    ExpectPngsMatchFfmpeg(test::SharedStream(name));
}

TEST(PictureDecode, WrittenFieldPngMatchesFfmpegsField) {
  // A field shown alone is converted with its own chroma lines, as ffmpeg's field filter takes
  // them: 4:2:0 and 4:2:2, top and bottom field first, SD and HD.
  for (const std::string& path : {test::OwnStream("i420_interlaced.m2v"), test::OwnStream("i422_interlaced.m2v"),
                                  test::OwnStream("hd1080.m2v"), test::SharedStream("idet_interlaced_bff.m2v")}) {
    if (!test::Exists(path)) continue;
    const auto pictures = PicturesToCheck(FileUnits(path));
    ASSERT_FALSE(pictures.empty()) << path;
    for (const char* field : {"top", "bottom"}) ExpectPngsMatchFfmpeg(path, {pictures.back()}, field);
  }
}

TEST(PictureDecode, OpenGroupLeadingBPictureWithoutEarlierGroupSaysReferenceMissing) {
  // The first group is open and nothing precedes it; the second group's leading B pictures are
  // decoded from the first group's pictures and match ffmpeg.
  const std::string path = test::SharedStream("gen2brain_test.m1v");
  if (!test::Exists(path)) GTEST_SKIP();
  const auto units = FileUnits(path);
  std::vector<const TStreamUnit*> leadingB;
  int groups = 0;
  bool afterI = false;
  for (const TStreamUnit& u : units) {
    if (u.Code == 0xB8) { ++groups; afterI = false; }
    if (!u.IsPicture()) continue;
    if (u.PictureCodingType == 1) afterI = true;
    else if (u.PictureCodingType == 2) afterI = false;
    else if (afterI && leadingB.size() < static_cast<std::size_t>(groups)) leadingB.push_back(&u);
  }
  ASSERT_GE(leadingB.size(), 2u);
  TPictureDecoder decoder(path);
  const TPictureResult first = decoder.Decode(leadingB[0]->Offset);
  EXPECT_EQ(first.Status, TPictureResult::TStatus::ReferenceMissing);
  EXPECT_FALSE(first.Picture);
  EXPECT_NE(first.Message.find("Reference picture missing"), std::string::npos);

  const TPictureResult second = decoder.Decode(leadingB[1]->Offset);
  ASSERT_EQ(second.Status, TPictureResult::TStatus::Ok) << second.Message;
  const auto positions = test::FramePacketPositions(path);
  EXPECT_GT(test::PsnrY(second.Picture->Y, test::FfmpegYPlane(path, test::DisplayIndexOf(positions, leadingB[1]->Offset),
                                                              second.Picture->Y.size())),
            48.0);
}

TEST(PictureDecode, PlanWalksBackToTheReferencesInCodingOrder) {
  auto picture = [](std::int64_t offset, int type) {
    TStreamUnit u;
    u.Offset = offset;
    u.Length = 1;
    u.Code = 0x00;
    u.PictureCodingType = static_cast<std::uint8_t>(type);
    return u;
  };
  auto header = [](std::int64_t offset, std::uint8_t code, bool closed = false, bool broken = false) {
    TStreamUnit u;
    u.Offset = offset;
    u.Length = 1;
    u.Code = code;
    u.ClosedGop = closed;
    u.BrokenLink = broken;
    return u;
  };
  // S G I P B B | G I B B P   (second group open)
  std::vector<TStreamUnit> units = {header(0, 0xB3), header(1, 0xB8), picture(2, 1), picture(3, 2), picture(4, 3),
                                    picture(5, 3),   header(6, 0xB8), picture(7, 1), picture(8, 3), picture(9, 3),
                                    picture(10, 2)};
  using O = TDecodePlan::TOutcome;
  // A B picture after a P: the I and the P, from the first group's headers.
  EXPECT_EQ(PlanDecode(units, 4, true).First, 0);
  // The open group's leading B needs the first group's P: start at the first group.
  TDecodePlan leading = PlanDecode(units, 8, true);
  EXPECT_EQ(leading.Outcome, O::Ready);
  EXPECT_EQ(leading.First, 0);
  // Closed, it needs only its own I; the sequence header is fetched from before.
  units[6].ClosedGop = true;
  leading = PlanDecode(units, 8, true);
  EXPECT_EQ(leading.First, 6);
  EXPECT_EQ(leading.Sequence, 0);
  // A broken link: the reference before the group is not the one it was coded against.
  units[6].ClosedGop = false;
  units[6].BrokenLink = true;
  EXPECT_EQ(PlanDecode(units, 8, true).Outcome, O::ReferenceMissing);
  // The P after the leading B pictures needs only the group's I.
  EXPECT_EQ(PlanDecode(units, 10, true).First, 6);
  // Units that start in the middle of the stream ask for more when they lack the references.
  std::vector<TStreamUnit> tail(units.begin() + 3, units.end());
  EXPECT_EQ(PlanDecode(tail, 1, false).Outcome, O::NeedMoreBefore);
  EXPECT_EQ(PlanDecode(tail, 1, true).Outcome, O::ReferenceMissing);
}

TEST(PictureDecode, NextPictureOfTheGroupComesFromTheCacheAfterPrefetch) {
  const std::string path = test::OwnStream("i420_interlaced.m2v");
  const auto units = FileUnits(path);
  std::vector<std::int64_t> pictures;
  for (const auto& u : units)
    if (u.IsPicture()) pictures.push_back(u.Offset);
  ASSERT_GE(pictures.size(), 6u);
  TPictureDecoder decoder(path);
  const TPictureResult first = decoder.Decode(pictures[2]);
  ASSERT_EQ(first.Status, TPictureResult::TStatus::Ok);
  EXPECT_FALSE(first.FromCache);
  decoder.Prefetch();
  for (std::size_t i = 3; i < 6; ++i) {
    const TPictureResult next = decoder.Decode(pictures[i]);
    ASSERT_EQ(next.Status, TPictureResult::TStatus::Ok);
    EXPECT_TRUE(next.FromCache) << i;
  }
  // What came from the cache is what a fresh decode gives.
  TPictureDecoder fresh(path);
  EXPECT_EQ(fresh.Decode(pictures[4]).Picture->Y, decoder.Decode(pictures[4]).Picture->Y);

  // The loader keeps the analyser's findings of the pictures it decoded ahead as well.
  TPictureLoader loader(path);
  const auto loaded = loader.Load(pictures[2]);
  ASSERT_TRUE(loaded.Map);
  EXPECT_EQ(loaded.Map->MacroblocksPerRow, 45);
  loader.Prefetch();
  const auto ahead = loader.Map(pictures[3]);
  EXPECT_EQ(loader.Map(pictures[3]), ahead);  // the same record, not a second analysis
  EXPECT_EQ(loader.Load(pictures[3]).Map, ahead);
}

TEST(PictureDecode, CacheDropsTheLeastRecentlyUsedOverItsBudget) {
  auto picture = [](std::size_t bytes) {
    auto p = std::make_shared<TDecodedPicture>();
    p->Y.resize(bytes);
    return TDecodedPicturePtr(p);
  };
  TPictureCache cache(250);
  cache.Insert(1, picture(100));
  cache.Insert(2, picture(100));
  EXPECT_TRUE(cache.Find(1));  // 1 is now the most recent
  cache.Insert(3, picture(100));
  EXPECT_TRUE(cache.Find(1));
  EXPECT_FALSE(cache.Find(2));
  EXPECT_TRUE(cache.Find(3));
  cache.Insert(4, picture(1000));  // over the budget alone: kept, everything else goes
  EXPECT_EQ(cache.Count(), 1u);
  EXPECT_TRUE(cache.Find(4));
}

TEST(PictureDecode, CancelledAndMisplacedRequests) {
  const std::string path = test::OwnStream("p420_plain.m2v");
  const auto units = FileUnits(path);
  TPictureDecoder decoder(path);
  std::atomic<bool> cancel{true};
  std::int64_t lastPicture = 0;
  for (const auto& u : units)
    if (u.IsPicture()) lastPicture = u.Offset;
  EXPECT_EQ(decoder.Decode(lastPicture, &cancel).Status, TPictureResult::TStatus::Cancelled);
  EXPECT_EQ(decoder.Decode(units.front().Offset).Status, TPictureResult::TStatus::NotAPicture);  // sequence header
  EXPECT_EQ(decoder.Decode(units[2].Offset + 1).Status, TPictureResult::TStatus::NotAPicture);
  EXPECT_EQ(decoder.Decode(std::int64_t{1} << 40).Status, TPictureResult::TStatus::NotAPicture);
  TPictureDecoder missing("/nonexistent/stream.m2v");
  EXPECT_EQ(missing.Decode(0).Status, TPictureResult::TStatus::Failed);
}

// A picture the list shows but longer than the pane reads (a huge picture in a sparse file):
// the pane says it is too large instead of that no picture starts there.
TEST(PictureDecode, APictureTooLongToReadIsSaidToBeTooLarge) {
  const auto stream = test::ReadFileBytes(test::OwnStream("p420_plain.m2v"));
  ASSERT_FALSE(stream.empty());
  const auto units = FileUnits(test::OwnStream("p420_plain.m2v"));
  std::int64_t second = -1;  // the second picture: the first is the I picture the rest need
  int pictures = 0;
  for (const auto& u : units)
    if (u.IsPicture() && ++pictures == 2) second = u.Offset;
  ASSERT_GT(second, 0);
  // The stream up to the second picture's slices, then 80 MiB of zeros (a hole: no start code).
  const std::string path = ::testing::TempDir() + "picture_too_large.m2v";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(stream.data()), second + 64);
  }
  std::filesystem::resize_file(path, static_cast<std::uintmax_t>(second) + (std::uintmax_t{80} << 20));
  TPictureDecoder decoder(path);
  const TPictureResult result = decoder.Decode(second);
  EXPECT_EQ(result.Status, TPictureResult::TStatus::Failed);
  EXPECT_NE(result.Message.find("too large"), std::string::npos) << result.Message;
  EXPECT_EQ(decoder.Decode(second + 1).Status, TPictureResult::TStatus::NotAPicture);
  std::filesystem::remove(path);
}

TEST(PictureDecode, DamagedStreamsGiveWhatTheDecoderRecovers) {
  // Every picture of the damaged streams, and the cut last picture of greyramp: no crash, and
  // either a picture or a message.
  for (const char* name : {"damaged/mwgoldsmith_test.m2v", "damaged/test.mpeg1video", "greyramp.mpg"}) {
    const std::string path = test::SharedStream(name);
    if (!test::Exists(path)) continue;
    SCOPED_TRACE(path);
    auto stream = TByteSource::OpenPlain(path, TFileStream::Mode::ReadOnly);
    ASSERT_TRUE(stream);
    TPictureDecoder decoder(path);
    const auto units = FileUnits(path);
    int decoded = 0, checked = 0, damaged = 0;
    for (std::size_t i = 0; i < units.size() && checked < 60; ++i) {
      if (!units[i].IsPicture()) continue;
      ++checked;
      const TPictureResult result = decoder.Decode(units[i].Offset);
      if (result.Status == TPictureResult::TStatus::Ok) {
        ++decoded;
        damaged += result.Picture->Damaged;
        EXPECT_EQ(result.Picture->Y.size(), std::size_t(result.Picture->Width) * std::size_t(result.Picture->Height));
      } else {
        EXPECT_FALSE(result.Message.empty());
      }
      const TMacroblockMap map = AnalysePictureMacroblocks(*stream, units[i].Offset);
      for (const auto& mb : map.Macroblocks) EXPECT_LT(mb.Column, map.MacroblocksPerRow);
    }
    EXPECT_GT(decoded, 0);
    if (std::string(name) != "greyramp.mpg") {
      EXPECT_GT(damaged, 0);
    }
  }
  // greyramp's last picture is cut short in its last macroblock: the picture still comes.
  const std::string grey = test::SharedStream("greyramp.mpg");
  if (test::Exists(grey)) {
    const auto units = FileUnits(grey);
    std::int64_t last = -1;
    for (const auto& u : units) {
      if (u.IsPicture()) last = u.Offset;
    }
    TPictureDecoder decoder(grey);
    const TPictureResult result = decoder.Decode(last);
    ASSERT_EQ(result.Status, TPictureResult::TStatus::Ok) << result.Message;
    EXPECT_EQ(result.Picture->Width, 720);
  }
}

TEST(PictureDecode, CommandLineWritesLayersAndRefusesBadRequests) {
  const std::string path = test::OwnStream("i420_interlaced.m2v");
  const auto pictures = PicturesToCheck(FileUnits(path));
  const std::string png = (std::filesystem::temp_directory_path() / "varlow_picture_layers.png").string();
  auto run = [&](const std::string& arguments) {
    const std::string command = std::string(VARLOW_CLI_PATH) + " picture " + arguments + " > /dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  const std::string base = "'" + path + "' --offset " + std::to_string(pictures.back().Offset) + " --png '" + png + "'";
  ASSERT_EQ(run(base + " --overlay types,quant,mv,slices"), 0);
  // The layers are drawn over the picture and the legend goes below it: a PNG taller than 576.
  const std::string size = test::Capture("ffprobe -v error -show_entries stream=width,height -of csv=p=0 '" + png + "'");
  EXPECT_EQ(size.substr(0, 4), "720,");
  EXPECT_GT(std::stoi(size.substr(4)), 576);
  EXPECT_EQ(run(base + " --field top"), 0);
  EXPECT_EQ(test::Capture("ffprobe -v error -show_entries stream=height -of csv=p=0 '" + png + "'"), "288\n");
  EXPECT_EQ(run(base + " --overlay types,colours"), 2);
  EXPECT_EQ(run(base + " --field middle"), 2);
  EXPECT_EQ(run("'" + path + "' --offset 0 --png '" + png + "'"), 1);  // a sequence header
  std::filesystem::remove(png);
  EXPECT_EQ(run("'" + path + "' --offset " + std::to_string(pictures.back().Offset) + " --png /nonexistent-dir/out.png"), 1);
}

TEST(PictureDecode, PictureCutByTheEndOfTheFileShowsWhatIsLeft) {
  // The stream cut in the middle of its fourth picture's slices.
  const std::string source = test::OwnStream("i420_interlaced.m2v");
  auto bytes = test::ReadFileBytes(source);
  const auto units = ScanStreamUnits(bytes, 0, true);
  std::vector<TStreamUnit> pictures;
  for (const auto& u : units)
    if (u.IsPicture()) pictures.push_back(u);
  ASSERT_GE(pictures.size(), 4u);
  const TStreamUnit& cut = pictures[3];
  bytes.resize(static_cast<std::size_t>(cut.Offset + cut.Length / 2));
  const std::string path = (std::filesystem::temp_directory_path() / "varlow_picture_cut.m2v").string();
  {
    auto out = TFileStream::Open(path, TFileStream::Mode::Create);
    ASSERT_TRUE(out);
    out->Append(bytes);
  }
  TPictureDecoder decoder(path);
  const TPictureResult result = decoder.Decode(cut.Offset);
  ASSERT_EQ(result.Status, TPictureResult::TStatus::Ok) << result.Message;
  EXPECT_EQ(result.Picture->Height, 576);
  // The analyser reaches about half of the macroblocks; the rest is what the overlay marks.
  auto stream = TByteSource::OpenPlain(path, TFileStream::Mode::ReadOnly);
  const TMacroblockMap map = AnalysePictureMacroblocks(*stream, cut.Offset);
  EXPECT_EQ(map.MacroblocksPerRow, 45);
  EXPECT_GT(map.Macroblocks.size(), 45u * 4u);
  EXPECT_LT(map.Macroblocks.size(), 45u * 36u);
  std::filesystem::remove(path);
}
