// The Container branch of the header tree: transport packets, pack headers and PES headers of a
// unit, judged by ffprobe and by a walker of this test's own over the file's bytes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TestStreams.h"
#include "browser/PackDetails.h"
#include "browser/PackIndex.h"
#include "container/ContainerTree.h"
#include "container/OpenSource.h"
#include "support/MemoryTree.h"

namespace varlow {
namespace {

const std::string kTs = "containers/bt601-525_480_interlaced_bff.ts";
const std::string kMpg = "negative/gen2brain_test.mpg";

std::string Capture(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return out;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) out.append(buffer, n);
  return out;
}

bool HaveFfprobe() { return std::system("ffprobe -version > /dev/null 2>&1") == 0; }

struct TStamps {
  long long pts = -1, dts = -1;
};

// ffprobe's video packets by file position: "pts,dts,pos" lines (side-data lines skipped).
std::map<long long, TStamps> FfprobePackets(const std::string& path) {
  std::map<long long, TStamps> packets;
  const std::string text =
      Capture("ffprobe -v error -show_packets -select_streams v -show_entries packet=pts,dts,pos -of csv=p=0 '" + path + "'");
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    long long pts = 0, dts = 0, pos = 0;
    if (std::sscanf(line.c_str(), "%lld,%lld,%lld", &pts, &dts, &pos) == 3) packets[pos] = {pts, dts};
  }
  return packets;
}

// Varlow's view of a unit: the tree UpdatePack builds for it.
struct TShown {
  TMemoryTree tree;
  TPackDetails details;
  bool ok = false;
};

std::unique_ptr<TPackIndex> OpenIndex(const std::string& path) {
  auto opened = OpenVideoSource(path, TFileStream::Mode::ReadOnly);
  if (!opened.Source) return nullptr;
  auto index = std::make_unique<TPackIndex>();
  index->SetStream(std::move(opened.Source));
  index->SetRowsPerPage(256);
  index->RefreshPosition(0);
  return index;
}

TShown Show(TPackIndex& index, std::int64_t offset) {
  TShown s;
  s.ok = UpdatePack(index, offset, s.tree, s.details);
  return s;
}

TTreeSink::NodeId Child(const TMemoryTree& tree, TTreeSink::NodeId parent, const std::string& prefix) {
  for (TTreeSink::NodeId id : tree.Children(parent))
    if (tree.At(id).text.rfind(prefix, 0) == 0) return id;
  return -2;
}

std::vector<std::string> ChildTexts(const TMemoryTree& tree, TTreeSink::NodeId parent) {
  std::vector<std::string> texts;
  for (TTreeSink::NodeId id : tree.Children(parent)) texts.push_back(tree.At(id).text);
  return texts;
}

bool Has(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

std::string Hex8(long long v) {
  char b[16];
  std::snprintf(b, sizeof b, "$%08llX", v);
  return b;
}

std::string Secs(double s) {
  char b[32];
  std::snprintf(b, sizeof b, "%.6f", s);
  return b;
}

// The test's own reading of 188-byte transport packets: plain byte arithmetic.
struct TPlainPacket {
  int pid = 0;
  bool start = false;
  int payload = 188;  // offset of the payload in the packet
  long long pcr = -1;
};

TPlainPacket PlainPacket(const std::vector<std::uint8_t>& f, std::size_t at) {
  TPlainPacket p;
  p.pid = (f[at + 1] & 0x1F) << 8 | f[at + 2];
  p.start = (f[at + 1] & 0x40) != 0;
  const int afc = f[at + 3] >> 4 & 3;
  p.payload = 4;
  if (afc & 2) {
    const int len = f[at + 4];
    p.payload = 5 + len;
    if (len >= 7 && (f[at + 5] & 0x10)) {
      const std::uint8_t* c = &f[at + 6];
      const long long base = (static_cast<long long>(c[0]) << 25) | (c[1] << 17) | (c[2] << 9) | (c[3] << 1) | (c[4] >> 7);
      const long long ext = (c[4] & 1) << 8 | c[5];
      p.pcr = base * 300 + ext;
    }
  }
  if (!(afc & 1)) p.payload = 188;
  return p;
}

long long PlainStamp(const std::uint8_t* b) {
  return (static_cast<long long>(b[0] >> 1 & 7) << 30) | (b[1] << 22) | (b[2] >> 1 << 15) | (b[3] << 7) | (b[4] >> 1);
}

TEST(ContainerTree, TransportUnitsAgreeWithFfprobeAndAPlainWalk) {
  const std::string path = test::SharedStream(kTs);
  if (!test::Exists(path) || !HaveFfprobe()) GTEST_SKIP() << "needs " << path << " and ffprobe";
  const auto file = test::ReadFileBytes(path);
  const auto probed = FfprobePackets(path);
  auto index = OpenIndex(path);
  ASSERT_TRUE(index);
  ASSERT_GT(index->PackCount(), 20);

  int pictures = 0, withPcr = 0;
  for (std::int32_t i = 0; i < index->PackCount() && pictures < 12; ++i) {
    const TPackRec rec = index->Pack(i);
    if (rec.StartCode[3] != 0x00) continue;
    ++pictures;
    SCOPED_TRACE("picture at " + std::to_string(rec.Offset));
    const TShown s = Show(*index, rec.Offset);
    ASSERT_TRUE(s.ok);
    const auto container = Child(s.tree, TTreeSink::kRoot, "Container");
    ASSERT_GE(container, 0);
    EXPECT_TRUE(s.tree.Damage().empty());

    const long long packetAt = rec.Offset / 188 * 188;
    const auto packet = Child(s.tree, container, "transport_packet at " + Hex8(packetAt));
    ASSERT_GE(packet, 0);
    const auto fields = ChildTexts(s.tree, packet);
    EXPECT_TRUE(Has(fields, "sync_byte = 71 (8 bits)"));
    EXPECT_TRUE(Has(fields, "PID = 256 (13 bits)"));
    const auto pid = Child(s.tree, packet, "PID = ");
    EXPECT_EQ(s.tree.At(pid).bitPos, 11);
    EXPECT_EQ(s.tree.At(pid).bitWidth, 13);

    const TPlainPacket plain = PlainPacket(file, static_cast<std::size_t>(packetAt));
    if (plain.pcr >= 0) {
      ++withPcr;
      EXPECT_TRUE(Has(fields, "PCR = " + std::to_string(plain.pcr) + " (" + Secs(plain.pcr / 27e6) + " s)"));
      EXPECT_TRUE(Has(fields, "program_clock_reference_base = " + std::to_string(plain.pcr / 300) + " (33 bits)"));
    } else {
      EXPECT_EQ(Child(s.tree, packet, "PCR = "), -2);
    }

    // The PES start: the last packet of the PID with payload_unit_start_indicator at or before.
    long long pesPacket = packetAt;
    while (pesPacket >= 0) {
      const TPlainPacket p = PlainPacket(file, static_cast<std::size_t>(pesPacket));
      if (p.pid == 0x100 && p.start) break;
      pesPacket -= 188;
    }
    ASSERT_GE(pesPacket, 0);
    const long long pesAt = pesPacket + PlainPacket(file, static_cast<std::size_t>(pesPacket)).payload;
    const auto pes = Child(s.tree, container, "PES_packet at " + Hex8(pesAt));
    ASSERT_GE(pes, 0);
    const auto pesLines = ChildTexts(s.tree, pes);
    EXPECT_TRUE(Has(pesLines, "stream_id = 224 (8 bits)"));
    EXPECT_TRUE(Has(pesLines, "begins in the transport packet at " + Hex8(pesPacket)));
    ASSERT_TRUE(probed.count(pesPacket)) << "ffprobe lists no packet at " << pesPacket;
    const TStamps judge = probed.at(pesPacket);
    EXPECT_TRUE(Has(pesLines, "PTS = " + std::to_string(judge.pts) + " (" + Secs(judge.pts / 90000.0) + " s)"));
    if (judge.dts != judge.pts) {
      EXPECT_TRUE(Has(pesLines, "DTS = " + std::to_string(judge.dts) + " (" + Secs(judge.dts / 90000.0) + " s)"));
    }
    const auto ptsNode = Child(s.tree, pes, "PTS = " + std::to_string(judge.pts) + " (36 bits)");
    ASSERT_GE(ptsNode, 0);
    EXPECT_EQ(s.tree.At(ptsNode).bitPos, 9 * 8 + 4);
    EXPECT_EQ(PlainStamp(&file[static_cast<std::size_t>(pesAt) + 9]), judge.pts);
  }
  EXPECT_EQ(pictures, 12);
  EXPECT_GT(withPcr, 0) << "no picture packet with a PCR was looked at";
}

TEST(ContainerTree, SystemStreamPackAndPes) {
  const std::string path = test::SharedStream(kMpg);
  if (!test::Exists(path) || !HaveFfprobe()) GTEST_SKIP() << "needs " << path << " and ffprobe";
  const auto file = test::ReadFileBytes(path);
  const auto probed = FfprobePackets(path);
  auto index = OpenIndex(path);
  ASSERT_TRUE(index);

  int pictures = 0;
  for (std::int32_t i = 0; i < index->PackCount() && pictures < 6; ++i) {
    const TPackRec rec = index->Pack(i);
    if (rec.StartCode[3] != 0x00) continue;
    ++pictures;
    SCOPED_TRACE("picture at " + std::to_string(rec.Offset));
    const TShown s = Show(*index, rec.Offset);
    ASSERT_TRUE(s.ok);
    const auto container = Child(s.tree, TTreeSink::kRoot, "Container");
    ASSERT_GE(container, 0);
    EXPECT_TRUE(s.tree.Damage().empty());

    // The nearest 00 00 01 BA before the unit, read here as an MPEG-1 pack header.
    long long pack = rec.Offset - 4;
    while (pack >= 0 && !(file[pack] == 0 && file[pack + 1] == 0 && file[pack + 2] == 1 && file[pack + 3] == 0xBA)) --pack;
    ASSERT_GE(pack, 0);
    const std::uint8_t* p = &file[static_cast<std::size_t>(pack)];
    ASSERT_EQ(p[4] >> 4, 2) << "an MPEG-1 pack header";
    const long long scr = PlainStamp(p + 4);
    const long long mux = (p[9] & 0x7F) << 15 | p[10] << 7 | p[11] >> 1;
    const auto packNode = Child(s.tree, container, "pack_header at " + Hex8(pack));
    ASSERT_GE(packNode, 0);
    const auto packLines = ChildTexts(s.tree, packNode);
    EXPECT_TRUE(Has(packLines, "SCR = " + std::to_string(scr) + " (" + Secs(scr / 90000.0) + " s)"));
    EXPECT_TRUE(Has(packLines, "mux_rate = " + std::to_string(mux) + " (22 bits)"));
    EXPECT_TRUE(Has(packLines, "mux rate = 50 x " + std::to_string(mux) + " = " + std::to_string(50 * mux) + " bytes/s"));

    // The PES packet holding the unit: walked from the pack header here too.
    long long at = pack + 12;
    while (at < rec.Offset) {
      const long long length = 6 + (file[at + 4] << 8 | file[at + 5]);
      if (at + length > rec.Offset) break;
      at += length;
    }
    const auto pes = Child(s.tree, container, "PES_packet at " + Hex8(at));
    ASSERT_GE(pes, 0);
    const auto pesLines = ChildTexts(s.tree, pes);
    EXPECT_TRUE(Has(pesLines, "stream_id = 224 (8 bits)"));
    const auto judged = probed.find(pack);
    const auto judgedPes = probed.find(at);
    const auto found = judged != probed.end() ? judged : judgedPes;
    if (found != probed.end() && found->second.pts >= 0) {
      EXPECT_TRUE(Has(pesLines, "PTS = " + std::to_string(found->second.pts) + " (" +
                                    Secs(found->second.pts / 90000.0) + " s)"));
    }
  }
  EXPECT_EQ(pictures, 6);
}

// A copy of the transport stream's first packets with one change, opened as Varlow opens it.
class DamagedTransport : public ::testing::Test {
protected:
  void SetUp() override {
    source_ = test::SharedStream(kTs);
    if (!test::Exists(source_)) GTEST_SKIP() << "needs " << source_;
    bytes_ = test::ReadFileBytes(source_);
    bytes_.resize(std::min<std::size_t>(bytes_.size(), 188 * 2000));
    path_ = (std::filesystem::temp_directory_path() /
             ("varlow_container_tree_" + std::to_string(::getpid()) + ".ts")).string();
  }
  void TearDown() override {
    if (!path_.empty()) std::filesystem::remove(path_);
  }
  void Write() {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
  }
  // The n-th picture unit's offset in the undamaged copy.
  std::int64_t PictureOffset(int n) {
    Write();
    auto index = OpenIndex(path_);
    EXPECT_TRUE(index);
    for (std::int32_t i = 0; index && i < index->PackCount(); ++i)
      if (index->Pack(i).StartCode[3] == 0x00 && n-- == 0) return index->Pack(i).Offset;
    return -1;
  }
  // The damage texts of the Container branch for the unit at `offset`, in the file as it is now.
  std::vector<std::string> DamageAt(std::int64_t offset) {
    Write();
    auto opened = OpenVideoSource(path_, TFileStream::Mode::ReadOnly);
    EXPECT_TRUE(opened.Source);
    if (!opened.Source) return {};
    TMemoryTree tree;
    BuildContainerTree(*opened.Source, offset, tree);
    EXPECT_EQ(Child(tree, TTreeSink::kRoot, "Container"), 0);
    std::vector<std::string> texts;
    for (TTreeSink::NodeId id : tree.Damage()) texts.push_back(tree.At(id).text);
    return texts;
  }
  bool AnyContains(const std::vector<std::string>& texts, const std::string& part) {
    for (const auto& t : texts)
      if (t.find(part) != std::string::npos) return true;
    return false;
  }

  std::string source_, path_;
  std::vector<std::uint8_t> bytes_;
};

TEST_F(DamagedTransport, LostSyncByte) {
  const std::int64_t unit = PictureOffset(3);
  ASSERT_GT(unit, 0);
  bytes_[static_cast<std::size_t>(unit / 188 * 188)] = 0x48;
  const auto damage = DamageAt(unit);
  EXPECT_TRUE(AnyContains(damage, "no sync byte")) << (damage.empty() ? "" : damage.front());
}

TEST_F(DamagedTransport, CounterJumpBeforeTheUnitsPesPacket) {
  const std::int64_t unit = PictureOffset(3);
  ASSERT_GT(unit, 0);
  // The counter of the packet that starts the unit's PES packet no longer follows the PID's
  // packet before it: packets were lost there.
  std::size_t pes = static_cast<std::size_t>(unit / 188 * 188);
  while (!(PlainPacket(bytes_, pes).pid == 0x100 && PlainPacket(bytes_, pes).start)) pes -= 188;
  bytes_[pes + 3] = static_cast<std::uint8_t>((bytes_[pes + 3] & 0xF0) | ((bytes_[pes + 3] + 5) & 0x0F));
  const auto damage = DamageAt(unit);
  EXPECT_TRUE(AnyContains(damage, "continuity_counter jumps")) << (damage.empty() ? "" : damage.front());
  // A duplicate packet (the same counter again) is allowed and no damage.
  bytes_[pes + 3] = static_cast<std::uint8_t>((bytes_[pes + 3] & 0xF0) | ((bytes_[pes + 3] - 5 - 1) & 0x0F));
  EXPECT_FALSE(AnyContains(DamageAt(unit), "continuity_counter"));
}

TEST_F(DamagedTransport, FileCutInsideTheUnitsPacket) {
  const std::int64_t unit = PictureOffset(3);
  ASSERT_GT(unit, 0);
  bytes_.resize(static_cast<std::size_t>(unit + 4));
  const auto damage = DamageAt(unit);
  EXPECT_TRUE(AnyContains(damage, "the file ends inside this packet")) << (damage.empty() ? "" : damage.front());
}

TEST_F(DamagedTransport, BrokenPesHeaderAndScrambledPacket) {
  const std::int64_t unit = PictureOffset(3);
  ASSERT_GT(unit, 0);
  std::size_t pes = static_cast<std::size_t>(unit / 188 * 188);
  while (!(PlainPacket(bytes_, pes).pid == 0x100 && PlainPacket(bytes_, pes).start)) pes -= 188;
  const std::size_t pesAt = pes + static_cast<std::size_t>(PlainPacket(bytes_, pes).payload);
  bytes_[pesAt + 2] = 0x02;  // no packet_start_code_prefix
  const std::size_t packet = static_cast<std::size_t>(unit / 188 * 188);
  bytes_[packet + 3] |= 0xC0;  // transport_scrambling_control
  const auto damage = DamageAt(unit);
  EXPECT_TRUE(AnyContains(damage, "does not parse"));
  EXPECT_TRUE(AnyContains(damage, "scrambled"));
}

TEST_F(DamagedTransport, EveryOffsetOfGarbageEndsWithoutACrash) {
  const std::int64_t unit = PictureOffset(0);
  ASSERT_GE(unit, 0);
  // Overwrite all but the first packets (which the probe reads) with a pattern full of false
  // sync bytes and start codes, then ask for trees all over it.
  for (std::size_t i = 188 * 60; i < bytes_.size(); ++i) bytes_[i] = static_cast<std::uint8_t>(i % 7 == 0 ? 0x47 : i % 5);
  Write();
  auto opened = OpenVideoSource(path_, TFileStream::Mode::ReadOnly);
  ASSERT_TRUE(opened.Source);
  for (std::int64_t at = 0; at < static_cast<std::int64_t>(bytes_.size()) + 10; at += 997) {
    TMemoryTree tree;
    BuildContainerTree(*opened.Source, at, tree);
    EXPECT_GE(tree.Size(), 2u);
  }
}

TEST(ContainerTree, ElementaryStreamGetsNoContainerBranch) {
  TPackIndex index;
  index.SetStream(TByteSource::OpenPlain(test::SampleStream(), TFileStream::Mode::ReadOnly));
  TMemoryTree tree;
  TPackDetails details;
  ASSERT_TRUE(UpdatePack(index, 0, tree, details));
  EXPECT_EQ(Child(tree, TTreeSink::kRoot, "Container"), -2);
  TMemoryTree direct;
  BuildContainerTree(*index.Stream(), 0, direct);
  EXPECT_EQ(direct.Size(), 0u);
}

} // namespace
} // namespace varlow
