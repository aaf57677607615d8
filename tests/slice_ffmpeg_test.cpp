// The macroblocks the analyser explains, row by row, against Debian's ffmpeg as judge: its
// "-debug mb_type" grid shows one cell per macroblock, "S" for a skipped one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>

#include "TestStreams.h"
#include "slice/MPEGVideoViewer.h"
#include "support/Log.h"
#include "support/MemoryTree.h"
#include "support/PaddedBuffer.h"

using namespace varlow;

namespace {

struct FfmpegPicture {
  char type = '?';
  std::vector<int> codedPerRow;  // non-skipped macroblocks in each row
};

// Pictures in display order with their grids (ffmpeg prints a picture as it outputs it, and not
// the last reference picture that the end of the stream flushes).
std::vector<FfmpegPicture> FfmpegMacroblockGrid(const std::string& path) {
  std::vector<FfmpegPicture> pictures;
  std::string command = "ffmpeg -nostdin -hide_banner -nostats -threads 1 -debug mb_type -i '" + path +
                        "' -f null - 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return pictures;
  char line[8192];
  while (std::fgets(line, sizeof line, pipe.get())) {
    std::string text(line);
    auto bracket = text.find("] ");
    if (text.rfind("[mpeg", 0) != 0 || bracket == std::string::npos) continue;
    std::string body = text.substr(bracket + 2);
    if (body.rfind("New frame, type: ", 0) == 0) {
      pictures.push_back({body[17], {}});
      continue;
    }
    if (pictures.empty()) continue;
    while (!body.empty() && (body.back() == '\n' || body.back() == ' ')) body.pop_back();
    // Cells of three characters: type, segmentation, interlacing.
    int coded = 0, cells = 0;
    for (std::size_t i = 0; i < body.size(); i += 3, ++cells)
      if (body[i] != 'S') ++coded;
    if (cells > 0) pictures.back().codedPerRow.push_back(coded);
  }
  return pictures;
}

void CompareWithFfmpeg(const std::string& name) {
  const std::string path = test::OwnStream(name);
  ASSERT_TRUE(test::Exists(path));
  auto grid = FfmpegMacroblockGrid(path);
  auto raw = test::ReadFileBytes(path);
  TPaddedBuffer bytes(raw.size());
  bytes.Assign(raw);
  // Pictures in display order: by group, then temporal_reference.
  struct Picture {
    std::size_t offset;
    int group, temporalReference;
    char type;
  };
  std::vector<Picture> pictures;
  std::size_t sequence = 0;
  int group = 0;
  for (std::size_t i = 0; i + 5 < raw.size(); ++i) {
    if (raw[i] != 0 || raw[i + 1] != 0 || raw[i + 2] != 1) continue;
    if (raw[i + 3] == 0xB8) ++group;
    if (raw[i + 3] != 0) continue;
    int temporalReference = (raw[i + 4] << 2) | (raw[i + 5] >> 6);
    pictures.push_back({i, group, temporalReference, "?IPB"[(raw[i + 5] >> 3) & 7]});
  }
  std::stable_sort(pictures.begin(), pictures.end(), [](const Picture& a, const Picture& b) {
    return a.group != b.group ? a.group < b.group : a.temporalReference < b.temporalReference;
  });
  ASSERT_GE(grid.size() + 1, pictures.size()) << "ffmpeg reported fewer pictures";
  ASSERT_LE(grid.size(), pictures.size());
  ScopedLogCapture quiet;
  std::string typesSeen;
  for (std::size_t p = 0; p < grid.size(); ++p) {
    ASSERT_EQ(grid[p].type, pictures[p].type) << "picture " << p;
    TMemoryTree tree;
    TMPEGVideoViewer viewer;
    viewer.FTreeView = &tree;
    ASSERT_EQ(viewer.DecodeFrame(bytes.Data() + sequence, static_cast<std::int32_t>(raw.size())), S_OK);
    viewer.SetSlice(bytes.Data() + pictures[p].offset, static_cast<std::int32_t>(raw.size() - pictures[p].offset), -1);
    const auto& rows = grid[p].codedPerRow;
    ASSERT_EQ(viewer.SliceTraces().size(), rows.size()) << "picture " << p;
    // The "MacroBlock" nodes under each slice node, against ffmpeg's coded cells of that row.
    const auto& roots = tree.Roots();
    ASSERT_EQ(roots.size(), rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
      int macroblocks = 0;
      for (auto child : tree.Children(roots[r]))
        if (tree.At(child).text.rfind("MacroBlock ", 0) == 0) ++macroblocks;
      EXPECT_EQ(macroblocks, rows[r]) << name << " picture " << p << " (" << grid[p].type << ") row " << r;
    }
    if (typesSeen.find(grid[p].type) == std::string::npos) typesSeen += grid[p].type;
  }
  // I, P and B pictures were all compared.
  EXPECT_NE(typesSeen.find('I'), std::string::npos);
  EXPECT_NE(typesSeen.find('P'), std::string::npos);
  EXPECT_NE(typesSeen.find('B'), std::string::npos);
}

}  // namespace

TEST(SliceAgainstFfmpeg, CodedMacroblocksPerRowInterlaced420) { CompareWithFfmpeg("i420_interlaced.m2v"); }

TEST(SliceAgainstFfmpeg, CodedMacroblocksPerRow422) { CompareWithFfmpeg("i422_interlaced.m2v"); }
