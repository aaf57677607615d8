#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ContainerDemux.h"
#include "TestStreams.h"
#include "transrate/TransrateFile.h"

namespace varlow {
namespace {

// A transport stream as a test-side walker sees it: every packet's PID, counter, whether it
// carries a payload, and its PCR when it has one.
struct TPacket {
  std::int64_t Offset = 0;
  int Pid = 0;
  int Counter = 0;
  bool Payload = false;
  bool Discontinuity = false;
  std::int64_t Pcr = -1;
  std::vector<std::uint8_t> Bytes;  // the 188 bytes
};

std::vector<TPacket> Packets(const std::vector<std::uint8_t>& file, std::size_t size, std::size_t sync) {
  std::vector<TPacket> out;
  for (std::size_t at = 0; at + size <= file.size(); at += size) {
    const std::uint8_t* p = file.data() + at + sync;
    TPacket k;
    k.Offset = static_cast<std::int64_t>(at);
    k.Pid = (p[1] & 0x1F) << 8 | p[2];
    k.Counter = p[3] & 0x0F;
    const int control = p[3] >> 4 & 3;
    k.Payload = (control & 1) != 0;
    if ((control & 2) && p[4] > 0) {
      k.Discontinuity = (p[5] & 0x80) != 0;
      if (p[5] & 0x10) {
        const std::int64_t base = std::int64_t{p[6]} << 25 | p[7] << 17 | p[8] << 9 | p[9] << 1 | p[10] >> 7;
        k.Pcr = base * 300 + ((p[10] & 1) << 8 | p[11]);
      }
    }
    k.Bytes.assign(p, p + 188);
    out.push_back(std::move(k));
  }
  return out;
}

std::string Temp(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("varlow-ctr-" + std::to_string(::getpid()) + "-" + name)).string();
}

struct TCase {
  std::string Container;
  std::string Elementary;
  std::size_t PacketSize;
  std::int32_t Bitrate;
};

std::vector<TCase> Cases() {
  std::vector<TCase> cases = {
      {test::OwnStream("i420_interlaced.ts"), test::OwnStream("i420_interlaced.m2v"), 188, 3'000'000},
      {test::OwnStream("i422_interlaced.m2ts"), test::OwnStream("i422_interlaced.m2v"), 192, 4'000'000},
      {test::OwnStream("mpeg1.ts"), test::OwnStream("mpeg1.m1v"), 188, 1'500'000},
      {test::OwnStream("p420_tools.m2ts"), test::OwnStream("p420_tools.m2v"), 192, 1'600'000},
      {test::SharedStream("containers/bt601-525_480_interlaced_bff.ts"), test::SharedStream("idet_interlaced_bff.m2v"), 188, 1'640'000},
      {test::SharedStream("containers/bt601-525_480_telecined_soft.ts"), test::SharedStream("idet_soft_telecine.m2v"), 188, 1'500'000},
  };
  return cases;
}

TEST(ContainerTransrate, VideoIsTheElementaryTransrateAndEverythingElseIsKept) {
  for (const TCase& c : Cases()) {
    if (!test::Exists(c.Container)) continue;
    for (const bool keep : {false, true}) {
      SCOPED_TRACE(c.Container + (keep ? " --keep-mux-rate" : ""));
      TTransrateOptions options;
      options.Bitrate = c.Bitrate;
      options.KeepMuxRate = keep;
      const std::string out = Temp("out.ts");
      const std::string es = Temp("out.m2v");
      const TTransrateResult r = TransrateFile(c.Container, out, options);
      ASSERT_TRUE(r.Succeeded()) << r.Message;
      ASSERT_TRUE(TransrateFile(c.Elementary, es, options).Succeeded());
      EXPECT_FALSE(r.Carried.empty());

      const std::vector<std::uint8_t> in = test::ReadFileBytes(c.Container);
      const std::vector<std::uint8_t> bytes = test::ReadFileBytes(out);
      const std::size_t sync = c.PacketSize == 192 ? 4 : 0;
      // The video payload is the elementary-stream transrate's output, byte for byte.
      EXPECT_TRUE(test::DemuxTransport(bytes, c.PacketSize, sync).Video == test::ReadFileBytes(es));

      const std::vector<TPacket> before = Packets(in, c.PacketSize, sync);
      const std::vector<TPacket> after = Packets(bytes, c.PacketSize, sync);
      int video = -1;
      for (const TPacket& p : before)
        if (p.Payload && p.Bytes[1] & 0x40 && p.Bytes[4] == 0 && p.Bytes[5] == 0 && p.Bytes[6] == 1 && (p.Bytes[7] & 0xF0) == 0xE0) {
          video = p.Pid;
          break;
        }
      ASSERT_GE(video, 0);
      // Every other packet, in order, unchanged; with --keep-mux-rate at its own offset too.
      std::vector<const TPacket*> othersIn, othersOut;
      for (const TPacket& p : before) if (p.Pid != video && p.Pid != 0x1FFF) othersIn.push_back(&p);
      for (const TPacket& p : after) if (p.Pid != video && p.Pid != 0x1FFF) othersOut.push_back(&p);
      ASSERT_EQ(othersIn.size(), othersOut.size());
      for (std::size_t i = 0; i < othersIn.size(); ++i) {
        ASSERT_EQ(othersIn[i]->Bytes, othersOut[i]->Bytes);
        if (keep) {
          EXPECT_EQ(othersIn[i]->Offset, othersOut[i]->Offset);
        }
      }
      if (keep) {
        EXPECT_EQ(bytes.size(), in.size());
      } else {
        // The file shrinks by at least 90% of what the video lost.
        EXPECT_GE(static_cast<double>(in.size()) - static_cast<double>(bytes.size()),
                  0.9 * static_cast<double>(r.VideoBytesIn - r.VideoBytesOut));
      }

      // Counters run on in every PID, PCRs increase and as many are left as there were.
      std::map<int, int> last;
      std::int64_t pcr = -1;
      std::size_t pcrsIn = 0, pcrsOut = 0;
      for (const TPacket& p : before) pcrsIn += p.Pcr >= 0;
      for (const TPacket& p : after) {
        if (p.Pcr >= 0) {
          EXPECT_GT(p.Pcr, pcr);
          pcr = p.Pcr;
          ++pcrsOut;
        }
        if (p.Pid == 0x1FFF) continue;
        if (auto it = last.find(p.Pid); it != last.end() && !p.Discontinuity) {
          EXPECT_EQ(p.Counter, p.Payload ? (it->second + 1) & 15 : it->second) << "PID " << p.Pid << " at " << p.Offset;
        }
        last[p.Pid] = p.Counter;
      }
      EXPECT_EQ(pcrsIn, pcrsOut);
      std::filesystem::remove(out);
      std::filesystem::remove(es);
    }
  }
}

// The third-party containers at 60% and 40% of their video's own rate (0.4 to 1.6 Mbit/s), and
// with every place kept: the video is what the elementary stream's transrate makes, and ffmpeg
// decodes every stream of the output without an error.
TEST(ContainerTransrate, ThirdPartyContainersAtTheirOwnRates) {
  const bool ffmpeg = std::system("ffmpeg -version > /dev/null 2>&1") == 0;
  struct TThirdParty {
    std::string Container, Elementary;
    double Seconds;  // playing time of the video
  };
  const std::vector<TThirdParty> streams = {
      {test::SharedStream("containers/bt601-525_480_interlaced_bff.ts"), test::SharedStream("idet_interlaced_bff.m2v"), 10.01},
      {test::SharedStream("containers/bt601-525_480_telecined_soft.ts"), test::SharedStream("idet_soft_telecine.m2v"), 10.01},
      {test::SharedStream("negative/gen2brain_test.mpg"), test::SharedStream("gen2brain_test.m1v"), 9.3},
  };
  for (const TThirdParty& t : streams) {
    if (!test::Exists(t.Container)) continue;
    const double rate = static_cast<double>(std::filesystem::file_size(t.Elementary)) * 8 / t.Seconds;
    for (const double share : {0.6, 0.4}) {
      for (const bool keep : {false, true}) {
        SCOPED_TRACE(t.Container + " at " + std::to_string(share) + (keep ? " --keep-mux-rate" : ""));
        TTransrateOptions options;
        options.Bitrate = std::max(kMinTransrateBitrate, static_cast<std::int32_t>(rate * share));
        options.KeepMuxRate = keep;
        const std::string out = Temp("third.bin");
        const std::string es = Temp("third.m2v");
        const TTransrateResult r = TransrateFile(t.Container, out, options);
        ASSERT_TRUE(r.Succeeded()) << r.Message;
        ASSERT_TRUE(TransrateFile(t.Elementary, es, options).Succeeded());
        EXPECT_LT(r.VideoBytesOut, r.VideoBytesIn);
        const std::vector<std::uint8_t> bytes = test::ReadFileBytes(out);
        const test::TDemuxed video = bytes[0] == 0x47 ? test::DemuxTransport(bytes, 188, 0) : test::DemuxProgram(bytes);
        EXPECT_TRUE(video.Video == test::ReadFileBytes(es));
        if (ffmpeg) {
          EXPECT_EQ(std::system(("ffmpeg -nostdin -v error -xerror -i '" + out + "' -f null - 2>/dev/null").c_str()), 0);
        }
        std::filesystem::remove(out);
        std::filesystem::remove(es);
      }
    }
  }
}

TEST(ContainerTransrate, FfmpegPlaysTheOutputWithTheSameTimes) {
  if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg";
  const TCase c = Cases()[4];
  if (!test::Exists(c.Container)) GTEST_SKIP();
  TTransrateOptions options;
  options.Bitrate = c.Bitrate;
  const std::string out = Temp("play.ts");
  ASSERT_TRUE(TransrateFile(c.Container, out, options).Succeeded());
  const auto run = [](const std::string& command) { return std::system(command.c_str()); };
  EXPECT_EQ(run("ffmpeg -nostdin -v error -xerror -i '" + out + "' -f null - 2>/dev/null"), 0);
  const auto times = [&](const std::string& file) {
    const std::string listing = Temp("times.txt");
    run("ffprobe -v error -select_streams v -show_entries packet=pts,dts -of csv '" + file + "' > '" + listing + "'");
    const auto bytes = test::ReadFileBytes(listing);
    std::filesystem::remove(listing);
    return bytes;
  };
  EXPECT_EQ(times(out), times(c.Container));
  const auto audio = [&](const std::string& file) {
    const std::string a = Temp("audio.raw");
    run("ffmpeg -nostdin -v error -i '" + file + "' -map 0:a -c copy -f data -y '" + a + "'");
    const auto bytes = test::ReadFileBytes(a);
    std::filesystem::remove(a);
    return bytes;
  };
  EXPECT_EQ(audio(out), audio(c.Container));
  std::filesystem::remove(out);
}

// The units of a program stream as a test-side walker sees them: pack headers with their SCR
// (in 90 kHz units, MPEG-1 and MPEG-2 alike) and PES packets.
struct TProgramUnit {
  std::int64_t Offset = 0;
  std::uint8_t Code = 0;
  std::int64_t Scr = -1;
  std::vector<std::uint8_t> Bytes;
};

std::vector<TProgramUnit> ProgramUnits(const std::vector<std::uint8_t>& file) {
  std::vector<TProgramUnit> out;
  for (std::size_t at = 0; at + 6 <= file.size();) {
    const std::uint8_t* p = file.data() + at;
    EXPECT_TRUE(p[0] == 0 && p[1] == 0 && p[2] == 1) << "at " << at;
    if (!(p[0] == 0 && p[1] == 0 && p[2] == 1)) break;
    TProgramUnit u;
    u.Offset = static_cast<std::int64_t>(at);
    u.Code = p[3];
    std::size_t size = 0;
    if (p[3] == 0xBA) {
      const bool mpeg2 = (p[4] & 0xC0) == 0x40;
      u.Scr = (std::int64_t{p[4]} >> 1 & 7) << 30 | std::int64_t{p[5]} << 22 | (p[6] >> 1) << 15 | p[7] << 7 | p[8] >> 1;
      if (mpeg2) u.Scr = (std::int64_t{p[4]} >> 3 & 7) << 30 | (std::int64_t{p[4]} & 3) << 28 | std::int64_t{p[5]} << 20 |
                         (p[6] >> 3) << 15 | (p[6] & 3) << 13 | p[7] << 5 | p[8] >> 3;
      size = mpeg2 ? 14 + (p[13] & 7) : 12;
    } else if (p[3] == 0xB9) {
      size = 4;
    } else {
      size = 6 + (std::size_t{p[4]} << 8 | p[5]);
    }
    u.Bytes.assign(p, p + std::min(size, file.size() - at));
    out.push_back(std::move(u));
    at += size;
  }
  return out;
}

TEST(ContainerTransrate, ProgramStreamsKeepTheirPacksAndEveryOtherPacket) {
  struct TProgramCase {
    std::string Container, Elementary;
    std::int32_t Bitrate;
  };
  const std::vector<TProgramCase> cases = {
      {test::OwnStream("i420_interlaced.vob"), test::OwnStream("i420_interlaced.m2v"), 3'000'000},
      {test::OwnStream("hd1080.vob"), test::OwnStream("hd1080.m2v"), 8'000'000},
      {test::OwnStream("i422_interlaced.mpg"), test::OwnStream("i422_interlaced.m2v"), 4'000'000},
      {test::OwnStream("mpeg1.mpg"), test::OwnStream("mpeg1.m1v"), 1'500'000},
  };
  for (const TProgramCase& c : cases) {
    for (const bool keep : {false, true}) {
      SCOPED_TRACE(c.Container + (keep ? " --keep-mux-rate" : ""));
      TTransrateOptions options;
      options.Bitrate = c.Bitrate;
      options.KeepMuxRate = keep;
      const std::string out = Temp("out.vob");
      const std::string es = Temp("out.m2v");
      const TTransrateResult r = TransrateFile(c.Container, out, options);
      ASSERT_TRUE(r.Succeeded()) << r.Message;
      ASSERT_TRUE(TransrateFile(c.Elementary, es, options).Succeeded());
      const std::vector<std::uint8_t> in = test::ReadFileBytes(c.Container);
      const std::vector<std::uint8_t> bytes = test::ReadFileBytes(out);
      EXPECT_TRUE(test::DemuxProgram(bytes).Video == test::ReadFileBytes(es));
      EXPECT_EQ(r.Carried.find("added"), std::string::npos) << r.Carried;

      const std::vector<TProgramUnit> before = ProgramUnits(in);
      const std::vector<TProgramUnit> after = ProgramUnits(bytes);
      // Every packet but the video's and padding, in order and unchanged; packs keep their
      // sizes, so with --keep-mux-rate everything stays where it was.
      std::vector<const TProgramUnit*> a, b;
      for (const TProgramUnit& u : before) if (u.Code != 0xE0 && u.Code != 0xBE && u.Code != 0xBA) a.push_back(&u);
      for (const TProgramUnit& u : after) if (u.Code != 0xE0 && u.Code != 0xBE && u.Code != 0xBA) b.push_back(&u);
      ASSERT_EQ(a.size(), b.size());
      for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i]->Bytes, b[i]->Bytes);
        if (keep) {
          EXPECT_EQ(a[i]->Offset, b[i]->Offset);
        }
      }
      if (keep) {
        EXPECT_EQ(bytes.size(), in.size());
      } else {
        EXPECT_GE(static_cast<double>(in.size()) - static_cast<double>(bytes.size()),
                  0.9 * static_cast<double>(r.VideoBytesIn - r.VideoBytesOut) - 2048);
      }
      // The pack headers that are left are those of the input, SCRs increasing.
      std::int64_t scr = -1;
      for (const TProgramUnit& u : after) {
        if (u.Scr < 0) continue;
        EXPECT_GE(u.Scr, scr);
        scr = u.Scr;
      }
      std::filesystem::remove(out);
      std::filesystem::remove(es);
    }
  }
}

TEST(ContainerTransrate, AContainerThatMeetsTheRateComesOutByteForByte) {
  TTransrateOptions options;
  options.Bitrate = 50'000'000;
  for (const char* name : {"p420_tools.ts", "i420_interlaced.m2ts", "mpeg1.vob", "p420_plain.mpg"}) {
    SCOPED_TRACE(name);
    const std::string out = Temp("same");
    ASSERT_TRUE(TransrateFile(test::OwnStream(name), out, options).Succeeded());
    EXPECT_TRUE(test::ReadFileBytes(out) == test::ReadFileBytes(test::OwnStream(name)));
    std::filesystem::remove(out);
  }
  const std::string system = test::SharedStream("negative/gen2brain_test.mpg");
  if (test::Exists(system)) {
    const std::string out = Temp("same");
    ASSERT_TRUE(TransrateFile(system, out, options).Succeeded());
    EXPECT_TRUE(test::ReadFileBytes(out) == test::ReadFileBytes(system));
    std::filesystem::remove(out);
  }
}

TEST(ContainerTransrate, RefusalsAndCancelLeaveNothing) {
  TTransrateOptions options;
  options.Bitrate = 1'500'000;
  const std::string out = Temp("refused.mpg");
  options.Stream = 1;  // the audio
  const TTransrateResult audio = TransrateFile(test::OwnStream("p420_plain.ts"), out, options);
  EXPECT_FALSE(audio.Succeeded());
  EXPECT_NE(audio.Message.find("not MPEG-1/2 video"), std::string::npos) << audio.Message;
  options.Stream = -1;
  const TTransrateResult cancelled = TransrateFile(test::OwnStream("hd1080.ts"), out, options, [&](const TTransrateProgress& p) {
    EXPECT_LE(p.Share(), 1.0);
    return false;
  });
  EXPECT_EQ(cancelled.Status, TTransrateStatus::Cancelled);
  EXPECT_FALSE(std::filesystem::exists(out));
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path()))
    EXPECT_EQ(entry.path().filename().string().find(".varlow-video-" + std::to_string(::getpid())), std::string::npos);
}

TEST(ContainerTransrate, DamagedTransportStreamsTransrateWithoutCrashing) {
  std::vector<std::uint8_t> ts = test::ReadFileBytes(test::OwnStream("p420_plain.ts"));
  ts.insert(ts.begin() + 188 * 300, 77, 0x47);                                                   // bytes between packets
  ts.erase(ts.begin() + 188 * 500, ts.begin() + 188 * 501);                                      // a lost packet
  for (std::size_t at = 188 * 700 + 77; at < 188 * 705 + 77; at += 188) ts[at + 3] |= 0x80;      // scrambled
  ts.resize(ts.size() - 100);                                                                     // cut inside a packet
  const std::string in = Temp("damaged.ts");
  {
    FILE* f = std::fopen(in.c_str(), "wb");
    std::fwrite(ts.data(), 1, ts.size(), f);
    std::fclose(f);
  }
  TTransrateOptions options;
  options.Bitrate = 1'500'000;
  const std::string out = Temp("damaged-out.ts");
  const TTransrateResult r = TransrateFile(in, out, options);
  if (r.Succeeded()) {
    EXPECT_NE(r.Carried.find("damaged"), std::string::npos) << r.Carried;
    EXPECT_GT(std::filesystem::file_size(out), 0u);
  } else {
    EXPECT_FALSE(r.Message.empty());
    EXPECT_FALSE(std::filesystem::exists(out));
  }
  std::filesystem::remove(in);
  std::filesystem::remove(out);
}

} // namespace
} // namespace varlow
