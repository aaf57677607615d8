// The slice request: the walk back to the governing sequence header, the reads and the tree.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "TestStreams.h"
#include "browser/SliceRequest.h"
#include "support/Log.h"
#include "support/MemoryTree.h"

using namespace varlow;

namespace {

// A stream of one sequence header and group, then `copies` copies of the first picture pack.
std::string RepeatedPictureFile(int copies, std::int64_t* header, std::int64_t* picturePack) {
  auto raw = test::ReadFileBytes(test::OwnStream("p420_plain.m2v"));
  std::vector<std::size_t> pictures;
  for (std::size_t i = 0; i + 3 < raw.size() && pictures.size() < 2; ++i)
    if (raw[i] == 0 && raw[i + 1] == 0 && raw[i + 2] == 1 && raw[i + 3] == 0) pictures.push_back(i);
  *header = static_cast<std::int64_t>(pictures[0]);
  *picturePack = static_cast<std::int64_t>(pictures[1] - pictures[0]);
  std::string path = std::filesystem::temp_directory_path() / ("varlow_slice_request_" + std::to_string(copies) + ".m2v");
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(raw.data()), static_cast<std::streamsize>(pictures[0]));
  for (int i = 0; i < copies; ++i)
    out.write(reinterpret_cast<const char*>(raw.data() + pictures[0]), *picturePack);
  return path;
}

}  // namespace

TEST(SliceRequest, ExplainsTheChosenSliceInFileOrder) {
  TPackIndex index;
  index.SetStream(TByteSource::OpenPlain(test::OwnStream("i420_interlaced.m2v"), TFileStream::Mode::ReadOnly));
  auto raw = test::ReadFileBytes(test::OwnStream("i420_interlaced.m2v"));
  std::int64_t picture = -1;
  for (std::size_t i = 0; i + 3 < raw.size(); ++i)
    if (raw[i] == 0 && raw[i + 1] == 0 && raw[i + 2] == 1 && raw[i + 3] == 0) {
      picture = static_cast<std::int64_t>(i);
      break;
    }
  ScopedLogCapture capture;
  TMemoryTree tree;
  TTreeSink::NodeId node = -5;
  UpdataSliceDetails(index, picture, 2, tree, &node);
  ASSERT_EQ(tree.Roots().size(), 1u);
  EXPECT_EQ(node, tree.Roots()[0]);
  EXPECT_EQ(tree.At(node).text, "Slice 2");
  EXPECT_EQ(tree.At(tree.Children(node)[0]).text, "slice_start_code = $00000103 (32 bits)");
  EXPECT_EQ(tree.FindAll("MacroBlock 44").size(), 1u);  // a full row of 720 pixels
  EXPECT_TRUE(tree.FindAll("MacroBlock 45").empty());
  EXPECT_TRUE(capture.Lines().empty());
}

TEST(SliceRequest, SequenceHeaderAtMost52PacksBack) {
  std::int64_t first = 0, pack = 0;
  const std::string path = RepeatedPictureFile(53, &first, &pack);
  TPackIndex index;
  index.SetStream(TByteSource::OpenPlain(path, TFileStream::Mode::ReadOnly));
  ScopedLogCapture capture;
  // Picture k is k + 2 packs after the sequence header (the group lies between).
  TMemoryTree nearTree;
  UpdataSliceDetails(index, first + 50 * pack, 0, nearTree, nullptr);
  EXPECT_EQ(nearTree.Roots().size(), 1u);
  TMemoryTree farTree;
  TTreeSink::NodeId node = 0;
  UpdataSliceDetails(index, first + 51 * pack, 0, farTree, &node);
  EXPECT_EQ(farTree.Size(), 0u);
  EXPECT_EQ(node, TTreeSink::kRoot);
  EXPECT_TRUE(capture.Lines().empty());
  std::filesystem::remove(path);
}

TEST(SliceRequest, NoStreamAndNothingToRead) {
  TPackIndex index;
  TMemoryTree tree;
  UpdataSliceDetails(index, 0, 0, tree, nullptr);
  EXPECT_EQ(tree.Size(), 0u);
}
