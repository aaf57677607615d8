// Header values, widths and bit positions checked against an independent parser: ffmpeg's
// trace_headers bitstream filter prints every syntax element with its position and bits.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "BrowseTestFiles.h"
#include "TestStreams.h"
#include "browser/PackDetails.h"
#include "support/MemoryTree.h"

namespace varlow {
namespace {

struct Element {
  std::string name;
  std::int64_t bitPos = 0;  // ffmpeg: from the start-code byte (after 00 00 01) of the unit
  int width = 0;
  long long value = 0;
};

struct Unit {
  std::string kind;  // "Sequence Header", "Sequence Extension", "Group of Pictures Header", ...
  std::vector<Element> elements;
};

const std::vector<std::string> kKinds = {"Sequence Header", "Sequence Extension", "Group of Pictures Header",
                                         "Picture Header", "Picture Coding Extension"};

bool Wanted(const std::string& kind) { return std::find(kKinds.begin(), kKinds.end(), kind) != kKinds.end(); }

// The headers of every packet in file order (the codec parameters printed first are skipped).
std::vector<Unit> FfmpegUnits(const std::string& path) {
  const std::string command = "ffmpeg -nostdin -hide_banner -i '" + path +
                              "' -c copy -bsf:v trace_headers -f null - 2>&1 >/dev/null";
  std::vector<Unit> units;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return units;
  static const std::regex title(R"(^\[trace_headers @ [^\]]+\] ([A-Za-z][A-Za-z ]+)$)");
  static const std::regex field(R"(^\[trace_headers @ [^\]]+\] (\d+)\s+(\S+)\s+([01]+) = (-?\d+)$)");
  bool inPackets = false;
  char buffer[4096];
  std::smatch m;
  while (std::fgets(buffer, sizeof buffer, pipe)) {
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.find("] Packet: ") != std::string::npos) {
      inPackets = true;
      continue;
    }
    if (!inPackets) continue;
    if (std::regex_match(line, m, title)) {
      const std::string kind = m[1];
      // "Extension Data" carries the code and identifier; the title after it names the extension.
      if (!units.empty() && units.back().kind == "Extension Data" && kind.find("Extension") != std::string::npos)
        units.back().kind = kind;
      else
        units.push_back({kind, {}});
    } else if (std::regex_match(line, m, field) && !units.empty()) {
      units.back().elements.push_back(
          {m[2], std::stoll(m[1]), static_cast<int>(m[3].length()), std::stoll(m[4])});
    }
  }
  ::pclose(pipe);
  std::erase_if(units, [](const Unit& u) { return !Wanted(u.kind); });
  return units;
}

struct Shown {
  long long value = 0;
  std::int64_t bitPos = 0;
  int width = 0;
};

// Our header tree of one pack, as units of element name -> value, position and width.
struct OurUnit {
  std::string kind;
  std::int64_t start = 0;  // bit position of the unit's start code in the pack
  std::map<std::string, Shown> elements;
};

void CollectLines(const TMemoryTree& tree, TTreeSink::NodeId header, OurUnit& unit) {
  static const std::regex line(R"(^(\S+) = \$?([0-9A-F]+).* \((\d+) bits?\)$)");
  std::smatch m;
  for (auto id : tree.Children(header)) {
    const auto& node = tree.At(id);
    if (!std::regex_match(node.text, m, line)) continue;
    const bool hex = node.text.find("= $") != std::string::npos;
    unit.elements[m[1]] = {std::stoll(m[2], nullptr, hex ? 16 : 10), node.bitPos, node.bitWidth};
  }
}

std::vector<OurUnit> OurUnits(const std::string& path, std::vector<TPackRec>* packs) {
  TPackIndex index;
  index.SetStream(TByteSource::OpenPlain(path, TFileStream::Mode::ReadOnly));
  index.SetRowsPerPage(64);
  // Every pack of the file, paging down through it as the list does.
  std::vector<std::int64_t> offsets;
  index.Home();
  for (;;) {
    for (std::int32_t i = 0; i < index.PackCount(); ++i) {
      const std::int64_t offset = index.Pack(i).Offset;
      if (offsets.empty() || offset > offsets.back()) offsets.push_back(offset);
    }
    if (!index.PageDown()) break;
  }
  std::vector<OurUnit> units;
  for (std::int64_t offset : offsets) {
    TMemoryTree tree;
    TPackDetails details;
    EXPECT_TRUE(UpdatePack(index, offset, tree, details));
    packs->push_back(details.Pack);
    const std::pair<const char*, const char*> kinds[] = {{"sequence_header", "Sequence Header"},
                                                         {"sequence_extension", "Sequence Extension"},
                                                         {"group_of_pictures_header", "Group of Pictures Header"},
                                                         {"picture_header", "Picture Header"},
                                                         {"picture_coding_extension", "Picture Coding Extension"}};
    for (auto id : tree.Preorder()) {
      for (auto [node, kind] : kinds) {
        if (tree.At(id).text != node) continue;
        OurUnit unit{kind, tree.At(id).bitPos, {}};
        CollectLines(tree, id, unit);
        units.push_back(std::move(unit));
      }
    }
  }
  return units;
}

void CompareWithFfmpeg(const std::string& path) {
  SCOPED_TRACE(path);
  const auto theirs = FfmpegUnits(path);
  std::vector<TPackRec> packs;
  const auto ours = OurUnits(path, &packs);
  ASSERT_FALSE(theirs.empty());
  ASSERT_EQ(ours.size(), theirs.size());
  std::size_t sequenceHeaders = 0, pictures = 0;
  for (std::size_t u = 0; u < theirs.size(); ++u) {
    ASSERT_EQ(ours[u].kind, theirs[u].kind) << "unit " << u;
    for (const auto& e : theirs[u].elements) {
      SCOPED_TRACE(theirs[u].kind + " " + std::to_string(u) + ": " + e.name);
      std::string name = e.name == "frame_pred_frame_dct" ? "frame_pred_frame_dtc" : e.name;
      if (name.find("_code") != std::string::npos && e.bitPos == 0) {
        // Start codes: ffmpeg shows the last byte, the tree all 32 bits.
        ASSERT_TRUE(ours[u].elements.count(name));
        EXPECT_EQ(ours[u].elements.at(name).value & 0xFF, e.value);
        EXPECT_EQ(ours[u].elements.at(name).value >> 8, 1);
        continue;
      }
      if (name.find("quantiser_matrix[") != std::string::npos || name == "extra_bit_picture") continue;
      ASSERT_TRUE(ours[u].elements.count(name)) << "not in the tree";
      const Shown& s = ours[u].elements.at(name);
      EXPECT_EQ(s.value, e.value);
      EXPECT_EQ(s.width, e.width);
      // ffmpeg counts from the byte after 00 00 01.
      EXPECT_EQ(s.bitPos - ours[u].start, e.bitPos + 24);
    }
    sequenceHeaders += theirs[u].kind == "Sequence Header";
    pictures += theirs[u].kind == "Picture Header";
  }
  EXPECT_GT(sequenceHeaders, 0u);
  EXPECT_GT(pictures, 0u);

  // The matrices and the closing extra_bit_picture are compared with the records.
  std::size_t u = 0;
  for (const auto& pack : packs) {
    while (u < theirs.size() && theirs[u].kind != "Sequence Header" && theirs[u].kind != "Group of Pictures Header" &&
           theirs[u].kind != "Picture Header")
      ++u;
    if (u >= theirs.size() || pack.StartCode[3] == 0xB7) continue;
    for (const auto& e : theirs[u].elements) {
      int i = 0;
      if (std::sscanf(e.name.c_str(), "intra_quantiser_matrix[%d]", &i) == 1) {
        EXPECT_EQ(pack.SequenceHeader.intra_quantiser_matrix.at(static_cast<std::size_t>(i)), e.value) << e.name;
      } else if (std::sscanf(e.name.c_str(), "non_intra_quantiser_matrix[%d]", &i) == 1) {
        EXPECT_EQ(pack.SequenceHeader.non_intra_quantiser_matrix.at(static_cast<std::size_t>(i)), e.value) << e.name;
      } else if (e.name == "extra_bit_picture") {
        EXPECT_EQ(pack.PictureHeader.extra_bit_picture, e.value);
      }
    }
    ++u;
  }
}

TEST(HeadersAgainstFfmpeg, ProjectStreams) {
  for (const auto& name : test::OwnStreamNames()) {
    if (name == "mpeg1.m1v") continue;  // trace_headers reads MPEG-2 video only
    CompareWithFfmpeg(test::OwnStream(name));
  }
  CompareWithFfmpeg(test::OwnStream("matrices.m2v"));
  CompareWithFfmpeg(test::SampleStream());
}

TEST(HeadersAgainstFfmpeg, ThirdPartyStreams) {
  for (const char* name : {"lowrisc_test.m2v", "test_2.mpg", "cinecutie_test.m2v", "greyramp.mpg",
                           "damaged/mwgoldsmith_test.m2v"}) {
    const std::string path = test::SharedStream(name);
    if (!test::Exists(path)) GTEST_SKIP() << path << " is not on this machine";
    CompareWithFfmpeg(path);
  }
}

} // namespace
} // namespace varlow
