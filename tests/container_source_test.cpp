#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BrowseTestFiles.h"
#include "ContainerDemux.h"
#include "TestStreams.h"
#include "browser/PackDetails.h"
#include "browser/PackIndex.h"
#include "browser/SliceRequest.h"
#include "container/ContainerLayout.h"
#include "container/OpenSource.h"
#include "overview/OverviewScanner.h"
#include "overview/OverviewStatistics.h"
#include "support/MemoryTree.h"

namespace varlow {
namespace {

struct TWrapped {
  std::string Container;
  std::string Elementary;
};

// Every project stream in each container kind, and the third-party containers with the
// elementary streams taken out of them.
std::vector<TWrapped> WrappedStreams() {
  std::vector<TWrapped> list;
  for (const std::string& name : test::OwnStreamNames()) {
    const std::string stem = name.substr(0, name.rfind('.'));
    for (const char* ext : {".ts", ".m2ts", ".vob", ".mpg"})
      list.push_back({test::OwnStream(stem + ext), test::OwnStream(name)});
  }
  list.push_back({test::SharedStream("containers/bt601-525_480_interlaced_bff.ts"), test::SharedStream("idet_interlaced_bff.m2v")});
  list.push_back({test::SharedStream("containers/bt601-525_480_telecined_soft.ts"), test::SharedStream("idet_soft_telecine.m2v")});
  list.push_back({test::SharedStream("negative/gen2brain_test.mpg"), test::SharedStream("gen2brain_test.m1v")});
  return list;
}

std::unique_ptr<TByteSource> Open(const std::string& path, std::int32_t stream = kFirstVideoStream) {
  return OpenVideoSource(path, TFileStream::Mode::ReadOnly, stream).Source;
}

// The whole video of a source, read in pieces that each continue where the last one ended, with
// the file offset of every byte.
test::TDemuxed ReadAllVideo(const TByteSource& source, std::size_t piece) {
  test::TDemuxed all;
  std::vector<std::uint8_t> buffer(piece);
  TSourcePlaces places;
  for (std::int64_t at = 0;;) {
    const std::int64_t n = source.ReadAt(at, buffer, &places);
    if (n <= 0) break;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
      all.Video.push_back(buffer[i]);
      all.Offsets.push_back(places.OffsetOf(i));
    }
    at = places.OffsetOf(static_cast<std::size_t>(n));
  }
  return all;
}

test::TDemuxed Independent(const std::string& path) {
  const std::vector<std::uint8_t> file = test::ReadFileBytes(path);
  if (!file.empty() && file[0] == 0x47) return test::DemuxTransport(file, 188, 0);
  if (file.size() > 4 && file[4] == 0x47) return test::DemuxTransport(file, 192, 4);
  return test::DemuxProgram(file);
}

// The pack list of a whole stream, page by page, as (offset, length, code, type, frame) rows.
std::vector<TPackRec> AllPacks(std::unique_ptr<TByteSource> source) {
  TPackIndex index;
  index.SetStream(std::move(source));
  index.SetRowsPerPage(64);
  index.Home();
  std::vector<TPackRec> packs;
  for (int page = 0; page < 10000; ++page) {
    for (std::int32_t i = 0; i < index.PackCount(); ++i) {
      const TPackRec rec = index.Pack(i);
      if (packs.empty() || rec.Offset > packs.back().Offset) packs.push_back(rec);
    }
    const std::int64_t before = index.WindowStart();
    if (!index.PageDown() || index.WindowStart() == before) break;
  }
  return packs;
}

std::string TreeText(TPackIndex& index, std::int64_t offset) {
  TMemoryTree tree;
  TPackDetails details;
  UpdatePack(index, offset, tree, details);
  // The container's own branch has no counterpart in an elementary stream.
  std::string text;
  for (const TMemoryTree::NodeId id : tree.Preorder()) {
    TMemoryTree::NodeId top = id;
    while (tree.At(top).parent != TTreeSink::kRoot) top = tree.At(top).parent;
    if (tree.At(top).text == "Container") continue;
    text += std::string(static_cast<std::size_t>(2 * tree.Depth(id)), ' ') + tree.At(id).text + "\n";
  }
  return text;
}

TEST(ContainerSource, VideoBytesAndTheirFileOffsetsAreThoseOfAnIndependentDemultiplexer) {
  for (const TWrapped& w : WrappedStreams()) {
    if (!test::Exists(w.Container)) continue;
    SCOPED_TRACE(w.Container);
    const auto source = Open(w.Container);
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->IsContainer());
    const test::TDemuxed expected = Independent(w.Container);
    // The payload is the elementary stream byte for byte.
    EXPECT_EQ(expected.Video, test::ReadFileBytes(w.Elementary));
    for (const std::size_t piece : {std::size_t{16384}, std::size_t{5} << 20}) {
      const test::TDemuxed got = ReadAllVideo(*source, piece);
      ASSERT_EQ(got.Video.size(), expected.Video.size());
      EXPECT_TRUE(got.Video == expected.Video);
      EXPECT_TRUE(got.Offsets == expected.Offsets);
    }
  }
}

TEST(ContainerSource, AReadFromAnyPositionTakesUpThePacketItFallsIn) {
  for (const TWrapped& w : WrappedStreams()) {
    if (!test::Exists(w.Container)) continue;
    SCOPED_TRACE(w.Container);
    const auto source = Open(w.Container);
    ASSERT_TRUE(source);
    const test::TDemuxed expected = Independent(w.Container);
    std::vector<std::uint8_t> buffer(3000);
    TSourcePlaces places;
    const std::int64_t size = source->Size();
    for (std::int64_t at = 0; at < size; at += std::max<std::int64_t>(size / 40, 1) + 13) {
      // The first video byte at or after `at`, and with an end 5,000 file bytes on.
      const auto first = std::lower_bound(expected.Offsets.begin(), expected.Offsets.end(), at) - expected.Offsets.begin();
      const std::int64_t end = at + 5000;
      const auto last = std::lower_bound(expected.Offsets.begin(), expected.Offsets.end(), end) - expected.Offsets.begin();
      const std::int64_t n = source->ReadAt(at, buffer, &places, end);
      const auto want = std::min<std::int64_t>(last - first, static_cast<std::int64_t>(buffer.size()));
      ASSERT_EQ(n, want) << "at " << at;
      for (std::int64_t i = 0; i < n; i += 97) {
        ASSERT_EQ(buffer[static_cast<std::size_t>(i)], expected.Video[static_cast<std::size_t>(first + i)]);
        ASSERT_EQ(places.OffsetOf(static_cast<std::size_t>(i)), expected.Offsets[static_cast<std::size_t>(first + i)]);
      }
      if (n > 0) {
        EXPECT_EQ(places.IndexAt(at), 0u);
        EXPECT_EQ(places.IndexAt(expected.Offsets[static_cast<std::size_t>(first + n - 1)]), static_cast<std::size_t>(n - 1));
      }
    }
  }
}

TEST(ContainerSource, PackListsTreesSlicesAndStatisticsEqualThoseOfTheElementaryStream) {
  for (const TWrapped& w : WrappedStreams()) {
    if (!test::Exists(w.Container)) continue;
    SCOPED_TRACE(w.Container);
    const std::vector<TPackRec> inner = AllPacks(Open(w.Container));
    const std::vector<TPackRec> plain = AllPacks(TByteSource::OpenPlain(w.Elementary, TFileStream::Mode::ReadOnly));
    ASSERT_EQ(inner.size(), plain.size());
    ASSERT_FALSE(inner.empty());
    const test::TDemuxed demuxed = Independent(w.Container);
    for (std::size_t i = 0; i < inner.size(); ++i) {
      EXPECT_EQ(inner[i].Length, plain[i].Length);
      EXPECT_EQ(inner[i].StartCode, plain[i].StartCode);
      EXPECT_EQ(inner[i].PictureHeader.picture_coding_type, plain[i].PictureHeader.picture_coding_type);
      EXPECT_EQ(inner[i].PictureHeader.temporal_reference, plain[i].PictureHeader.temporal_reference);
      // Each listed offset is where that start code's first byte lies in the file.
      EXPECT_EQ(inner[i].Offset, demuxed.Offsets[static_cast<std::size_t>(plain[i].Offset)]);
    }

    TPackIndex a;
    a.SetStream(Open(w.Container));
    TPackIndex b;
    b.SetStream(TByteSource::OpenPlain(w.Elementary, TFileStream::Mode::ReadOnly));
    std::size_t pictures = 0;
    for (std::size_t i = 0; i < inner.size() && pictures < 2; ++i) {
      EXPECT_EQ(TreeText(a, inner[i].Offset), TreeText(b, plain[i].Offset));
      if (inner[i].StartCode[3] != 0x00) continue;
      ++pictures;
      TMemoryTree sa, sb;
      EXPECT_EQ(UpdataSliceDetails(a, inner[i].Offset, -1, sa, nullptr), UpdataSliceDetails(b, plain[i].Offset, -1, sb, nullptr));
      EXPECT_EQ(sa.ToText(), sb.ToText());
    }

    TOverviewData da, db;
    TOverviewScanner(64 << 10).Scan(*Open(w.Container), da);
    TOverviewScanner(64 << 10).Scan(*TByteSource::OpenPlain(w.Elementary, TFileStream::Mode::ReadOnly), db);
    ASSERT_EQ(da.Pictures.size(), db.Pictures.size());
    for (std::size_t i = 0; i < da.Pictures.size(); ++i) {
      EXPECT_EQ(da.Pictures[i].Size(), db.Pictures[i].Size());
      EXPECT_EQ(da.UnitBytes(i), db.UnitBytes(i));
    }
    const TOverviewStatistics sa = ComputeStatistics(da);
    const TOverviewStatistics sb = ComputeStatistics(db);
    EXPECT_EQ(sa.StreamBytes, sb.StreamBytes);
    EXPECT_DOUBLE_EQ(sa.AverageBitRate, sb.AverageBitRate);
    EXPECT_DOUBLE_EQ(sa.PeakBitRateSecond, sb.PeakBitRateSecond);
    EXPECT_DOUBLE_EQ(sa.PeakBitRateGroup, sb.PeakBitRateGroup);
    EXPECT_EQ(sa.Groups, sb.Groups);
    EXPECT_EQ(sa.I.MaxBytes, sb.I.MaxBytes);
    EXPECT_EQ(da.Report.DamagedUnits, 0);
  }
}

// ---- recognition and refusal ----

std::vector<std::uint8_t> Transport() {
  return test::ReadFileBytes(test::OwnStream("p420_plain.ts"));
}

std::string Written(const std::string& tag, const std::vector<std::uint8_t>& bytes) {
  const auto path = (std::filesystem::temp_directory_path() /
                     ("varlow-container-" + tag + "-" + std::to_string(::getpid()) + ".bin")).string();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

TEST(ContainerOpen, RecognisesEachPacketSizeAndPackHeader) {
  const std::vector<std::uint8_t> ts = Transport();
  ASSERT_GT(ts.size(), 188u * 20);
  // 204-byte packets: 16 parity bytes after each.
  std::vector<std::uint8_t> rs;
  for (std::size_t at = 0; at + 188 <= ts.size(); at += 188) {
    rs.insert(rs.end(), ts.begin() + static_cast<std::ptrdiff_t>(at), ts.begin() + static_cast<std::ptrdiff_t>(at + 188));
    rs.insert(rs.end(), 16, 0xA5);
  }
  const std::string path = Written("rs", rs);
  const auto opened = OpenVideoSource(path, TFileStream::Mode::ReadOnly);
  ASSERT_TRUE(opened.Source) << opened.Refusal;
  EXPECT_EQ(opened.Source->Layout()->Format.PacketSize, 204);
  EXPECT_EQ(ReadAllVideo(*opened.Source, 1 << 16).Video, test::ReadFileBytes(test::OwnStream("p420_plain.m2v")));
  std::filesystem::remove(path);

  for (const auto& [name, size] : {std::pair{"p420_plain.ts", 188}, std::pair{"p420_plain.m2ts", 192}}) {
    const auto f = TFileStream::Open(test::OwnStream(name), TFileStream::Mode::ReadOnly);
    const auto format = ProbeContainer(*f);
    ASSERT_TRUE(format);
    EXPECT_EQ(format->PacketSize, size);
  }
  const auto vob = ProbeContainer(*TFileStream::Open(test::OwnStream("p420_plain.vob"), TFileStream::Mode::ReadOnly));
  ASSERT_TRUE(vob);
  EXPECT_EQ(vob->Kind, TContainerKind::Program);
  EXPECT_FALSE(vob->Mpeg1System);
  const auto system = ProbeContainer(*TFileStream::Open(test::SharedStream("negative/gen2brain_test.mpg"), TFileStream::Mode::ReadOnly));
  ASSERT_TRUE(system);
  EXPECT_TRUE(system->Mpeg1System);
  // Elementary streams are no containers, even one whose first byte happens to be 0x47.
  EXPECT_FALSE(ProbeContainer(*TFileStream::Open(test::SampleStream(), TFileStream::Mode::ReadOnly)));
  std::vector<std::uint8_t> es = test::ReadFileBytes(test::SampleStream());
  es.insert(es.begin(), 0x47);
  const std::string g = Written("g", es);
  const auto plain = OpenVideoSource(g, TFileStream::Mode::ReadOnly);
  ASSERT_TRUE(plain.Source);
  EXPECT_FALSE(plain.Source->IsContainer());
  std::filesystem::remove(g);
}

TEST(ContainerOpen, StreamsAreListedAndChosenAndOtherVideoIsRefusedByName) {
  const auto f = TFileStream::Open(test::SharedStream("containers/bt601-525_480_interlaced_bff.ts"), TFileStream::Mode::ReadOnly);
  const auto streams = ListContainerStreams(*f, *ProbeContainer(*f));
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].Pid, 0x100);
  EXPECT_EQ(streams[0].Codec, "MPEG-2 video");
  EXPECT_EQ(streams[1].Pid, 0x101);
  EXPECT_EQ(streams[1].Codec, "AC-3 audio");
  const auto chosen = OpenVideoSource(test::SharedStream("containers/bt601-525_480_interlaced_bff.ts"), TFileStream::Mode::ReadOnly, 0);
  ASSERT_TRUE(chosen.Source);
  const auto audio = OpenVideoSource(test::SharedStream("containers/bt601-525_480_interlaced_bff.ts"), TFileStream::Mode::ReadOnly, 1);
  EXPECT_FALSE(audio.Source);
  EXPECT_NE(audio.Refusal.find("AC-3 audio"), std::string::npos) << audio.Refusal;
  EXPECT_FALSE(OpenVideoSource(test::SampleStream(), TFileStream::Mode::ReadOnly, 0).Source);

  // The same transport stream with its video declared H.264 in the PMT (PID 0x1000).
  std::vector<std::uint8_t> ts = Transport();
  bool patched = false;
  for (std::size_t at = 0; at + 188 <= ts.size() && !patched; at += 188) {
    const int pid = (ts[at + 1] & 0x1F) << 8 | ts[at + 2];
    if (pid != 0x1000) continue;
    const std::size_t section = at + 5 + ts[at + 4];
    const std::size_t info = (std::size_t{ts[section + 10]} & 0x0F) << 8 | ts[section + 11];
    std::size_t es = section + 12 + info;
    ASSERT_EQ(ts[es], 0x02);
    ts[es] = 0x1B;
    patched = true;
  }
  ASSERT_TRUE(patched);
  const std::string path = Written("h264", ts);
  const auto refused = OpenVideoSource(path, TFileStream::Mode::ReadOnly);
  EXPECT_FALSE(refused.Source);
  EXPECT_NE(refused.Refusal.find("H.264 video"), std::string::npos) << refused.Refusal;
  std::filesystem::remove(path);
}

// ---- damage ----

TEST(ContainerDamage, BrowsingGoesOnPastBrokenPackets) {
  const std::vector<std::uint8_t> clean = Transport();
  const std::size_t cleanPacks = AllPacks(Open(test::OwnStream("p420_plain.ts"))).size();
  struct TCase {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
  };
  std::vector<TCase> cases;
  {
    std::vector<std::uint8_t> b = clean;  // 50 stray bytes between two packets in the middle
    b.insert(b.begin() + static_cast<std::ptrdiff_t>(188 * 400), 50, 0x47);
    cases.push_back({"bytes between packets", b});
  }
  {
    std::vector<std::uint8_t> b = clean;  // a packet lost: the continuity counter jumps
    b.erase(b.begin() + static_cast<std::ptrdiff_t>(188 * 300), b.begin() + static_cast<std::ptrdiff_t>(188 * 301));
    cases.push_back({"lost packet", b});
  }
  {
    std::vector<std::uint8_t> b = clean;  // cut in the middle of a packet
    b.resize(188 * 500 + 77);
    cases.push_back({"cut", b});
  }
  {
    std::vector<std::uint8_t> b = clean;  // short packets: 100 bytes of one packet missing
    b.erase(b.begin() + static_cast<std::ptrdiff_t>(188 * 200 + 20), b.begin() + static_cast<std::ptrdiff_t>(188 * 200 + 120));
    cases.push_back({"short packet", b});
  }
  {
    std::vector<std::uint8_t> b = clean;  // every video packet of a stretch scrambled
    for (std::size_t at = 188 * 100; at < 188 * 110; at += 188) b[at + 3] |= 0x80;
    cases.push_back({"scrambled", b});
  }
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = Written("damage", c.Bytes);
    const auto source = Open(path);
    ASSERT_TRUE(source);
    std::vector<std::uint8_t> buffer(1 << 20);
    TSourcePlaces places;
    bool damageSeen = false;
    for (std::int64_t at = 0; at < source->Size();) {
      const std::int64_t n = source->ReadAt(at, buffer, &places);
      damageSeen = damageSeen || !places.Damage().empty();
      if (n <= 0) break;
      at = places.OffsetOf(static_cast<std::size_t>(n));
    }
    EXPECT_TRUE(damageSeen || std::string(c.Name) == "cut");
    const std::size_t packs = AllPacks(Open(path)).size();
    EXPECT_GT(packs, std::string(c.Name) == "cut" ? 10u : cleanPacks - 3);
    TOverviewData data;
    TOverviewScanner(1 << 16).Scan(*Open(path), data);
    EXPECT_EQ(data.Report.State, TScanReport::End::Complete);
    std::filesystem::remove(path);
  }
}

TEST(ContainerDamage, ProgramStreamWithGarbageAndACutEnd) {
  std::vector<std::uint8_t> ps = test::ReadFileBytes(test::OwnStream("p420_plain.vob"));
  ASSERT_GT(ps.size(), 2048u * 40);
  // A whole pack overwritten with noise, and the file cut inside a packet.
  for (std::size_t i = 2048 * 20; i < 2048 * 21; ++i) ps[i] = static_cast<std::uint8_t>(i * 37);
  ps.resize(2048 * 35 + 900);
  const std::string path = Written("ps", ps);
  const auto source = Open(path);
  ASSERT_TRUE(source);
  const test::TDemuxed got = ReadAllVideo(*source, 1 << 14);
  EXPECT_GT(got.Video.size(), 2000u * 30);
  EXPECT_TRUE(std::is_sorted(got.Offsets.begin(), got.Offsets.end()));
  const std::vector<TPackRec> packs = AllPacks(Open(path));
  EXPECT_GT(packs.size(), 5u);
  EXPECT_TRUE(std::any_of(packs.begin(), packs.end(), [](const TPackRec& p) { return p.Offset > 2048 * 21; }));
  std::filesystem::remove(path);
}

} // namespace
} // namespace varlow
