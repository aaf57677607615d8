// The macroblock records the overlay draws: collected from the slice analyser's records, checked
// against ffmpeg's macroblock-type map and against the slice tree's elements, and the motion
// vectors rebuilt from the codes read.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "browser/SliceRequest.h"
#include "container/ByteSource.h"
#include "picture/MacroblockMap.h"
#include "picture/StreamUnits.h"
#include "picture_ffmpeg_support.h"
#include "support/FileStream.h"
#include "support/MemoryTree.h"

using namespace varlow;

namespace {

char FfmpegKind(TMacroblockKind kind) {
  switch (kind) {
    case TMacroblockKind::Intra: return 'i';
    case TMacroblockKind::Forward:
    case TMacroblockKind::NoMotion: return '>';
    case TMacroblockKind::Backward: return '<';
    case TMacroblockKind::Bidirectional: return 'X';
    case TMacroblockKind::Skipped: return 'S';
  }
  return '?';
}

// Feeds the sink the records the analyser makes, slice by slice and macroblock by macroblock.
struct SliceFeeder {
  explicit SliceFeeder(TMacroblockSink& target) : sink(target) {}
  TMacroblockSink& sink;
  TMacroblockRecord mb;
  bool open = false;
  int s = 0;
  void Flush() {
    if (open) sink.Macroblock(mb);
    open = false;
  }
  void Slice(int index, int row) {
    Flush();
    TSliceHeaderRecord slice;
    slice.SliceIndex = index;
    slice.Header.slice_start_code = static_cast<std::uint32_t>(0x101 + row);
    slice.Header.quantiser_scale_code = 8;
    slice.Complete = true;
    sink.Slice(slice);
  }
  void Macroblock(int number, int increment, int type, int motionType = -1) {
    Flush();
    mb = TMacroblockRecord{};
    open = true;
    mb.NumberInSlice = number;
    mb.macroblock_address_increment = increment;
    mb.macroblock_type = type;
    mb.MotionType = motionType;
  }
  void Vectors(int direction) { s = direction; }
  void FieldSelect(int r, int direction, int v) { mb.motion_vertical_field_select[r][direction] = v; }
  void Vector(int r, int direction, int codeX, int residualX, int codeY, int residualY) {
    mb.VectorCount[direction] = r + 1;
    mb.motion_code[r][direction][0] = codeX;
    mb.motion_residual[r][direction][0] = codeX != 0 ? residualX : 0;
    mb.motion_code[r][direction][1] = codeY;
    mb.motion_residual[r][direction][1] = codeY != 0 ? residualY : 0;
  }
};

} // namespace

TEST(PictureOverlay, MacroblockTypesAgreeWithFfmpegOnAnInterlacedStream) {
  const std::string path = test::OwnStream("i420_interlaced.m2v");
  const auto grids = test::FfmpegTypeGrids(path);
  const auto positions = test::FramePacketPositions(path);
  ASSERT_FALSE(grids.empty());
  auto stream = TByteSource::OpenPlain(path, TFileStream::Mode::ReadOnly);
  ASSERT_TRUE(stream);
  const auto bytes = test::ReadFileBytes(path);
  int checked[4] = {};
  for (const TStreamUnit& unit : ScanStreamUnits(bytes, 0, true)) {
    if (!unit.IsPicture() || checked[unit.PictureCodingType] >= 2) continue;
    const int index = test::DisplayIndexOf(positions, unit.Offset);
    ASSERT_GE(index, 0);
    ASSERT_LT(index, static_cast<int>(grids.size()));
    const auto& grid = grids[static_cast<std::size_t>(index)];
    ASSERT_EQ(grid.type, "?IPB"[unit.PictureCodingType]);
    const TMacroblockMap map = AnalysePictureMacroblocks(*stream, unit.Offset);
    ASSERT_EQ(map.MacroblocksPerRow, 45);
    ASSERT_EQ(static_cast<int>(grid.rows.size()), map.MacroblockRows);
    ASSERT_EQ(map.Macroblocks.size(), 45u * 36u);
    int differences = 0;
    for (const TMacroblockInfo& mb : map.Macroblocks) {
      const std::string& row = grid.rows[static_cast<std::size_t>(mb.Row)];
      const char theirs = mb.Column < static_cast<int>(row.size()) ? row[static_cast<std::size_t>(mb.Column)] : ' ';
      if (theirs != FfmpegKind(mb.Kind)) ++differences;
    }
    EXPECT_EQ(differences, 0) << "picture at " << unit.Offset;
    ++checked[unit.PictureCodingType];
  }
  EXPECT_EQ(checked[1] + checked[2] + checked[3], 6);
}

TEST(PictureOverlay, VectorsAreRebuiltFromCodesWithPredictionAndWrap) {
  TPictureGeometry sequence;
  sequence.Width = 64;
  sequence.Height = 32;
  TPictureInfo picture;
  picture.PictureCodingType = 2;
  picture.FCode[0][0] = picture.FCode[0][1] = 2;  // f = 2: range -32..31 half samples
  TMacroblockSink sink(sequence, picture);
  SliceFeeder feed(sink);
  feed.Slice(0, 0);
  // Forward, frame prediction: code 3 residual 1 -> delta (3-1)*2+1+1 = 6; code 8 residual 1 -> 16.
  feed.Macroblock(0, 1, 8 | 2);
  feed.Vectors(0);
  feed.Vector(0, 0, 3, 1, 8, 1);
  // Predicted from the first: x 6 + 16 = 22; y 16 + 30 = 46 leaves the range and wraps to -18.
  feed.Macroblock(1, 1, 8);
  feed.Vectors(0);
  feed.Vector(0, 0, 8, 1, 15, 1);
  // Skipped macroblock (increment 2), then a forward one predicted from zero again.
  feed.Macroblock(2, 2, 8);
  feed.Vectors(0);
  feed.Vector(0, 0, 1, 0, 0, 0);
  feed.Slice(1, 1);
  // Intra, then P with no motion vector, then field prediction in a frame picture.
  feed.Macroblock(0, 1, 1);
  feed.Macroblock(1, 1, 2);
  feed.Macroblock(2, 1, 8, 1);
  feed.Vectors(0);
  feed.FieldSelect(0, 0, 1);
  feed.Vector(0, 0, 1, 0, 2, 0);  // y: delta (2-1)*2+0+1 = 3 field lines
  feed.FieldSelect(1, 0, 0);
  feed.Vector(1, 0, 0, 0, -1, 1);  // y: -((1-1)*2+1+1) = -2
  // Dual prime: one vector, no field select, predicted in field lines from the first vector.
  feed.Macroblock(3, 1, 8, 3);
  feed.Vectors(0);
  feed.Vector(0, 0, 0, 0, 1, 0);  // y: 6 frame lines kept -> 3 field lines + 1 = 4
  feed.Flush();
  const TMacroblockMap map = sink.Finish();

  ASSERT_EQ(map.Macroblocks.size(), 8u);
  const auto& m = map.Macroblocks;
  EXPECT_EQ(m[0].Kind, TMacroblockKind::Forward);
  EXPECT_EQ(m[0].Vectors[0][0].X, 6);
  EXPECT_EQ(m[0].Vectors[0][0].Y, 16);
  EXPECT_EQ(m[1].Vectors[0][0].X, 22);
  EXPECT_EQ(m[1].Vectors[0][0].Y, -18);
  EXPECT_EQ(m[2].Kind, TMacroblockKind::Skipped);
  EXPECT_EQ(m[2].Address, 2);
  EXPECT_EQ(m[2].Vectors[0][0].X, 0);
  EXPECT_EQ(m[3].Address, 3);
  EXPECT_EQ(m[3].Vectors[0][0].X, 1);  // the skipped macroblock reset the prediction
  EXPECT_EQ(m[3].NumberInSlice, 2);
  EXPECT_EQ(m[4].Kind, TMacroblockKind::Intra);
  EXPECT_EQ(m[4].Address, 4);
  EXPECT_EQ(m[4].Row, 1);
  EXPECT_EQ(m[4].SliceIndex, 1);
  EXPECT_EQ(m[4].NumberInSlice, 0);
  EXPECT_EQ(m[5].Kind, TMacroblockKind::NoMotion);
  EXPECT_EQ(m[6].VectorCount[0], 2);
  EXPECT_EQ(m[6].Vectors[0][0].FieldSelect, 1);
  EXPECT_EQ(m[6].Vectors[0][0].Y, 6);   // 3 field lines = 6 frame half samples
  EXPECT_EQ(m[6].Vectors[1][0].Y, -4);  // -2 field lines
  EXPECT_EQ(m[6].QuantiserScaleCode, 8);
  EXPECT_EQ(m[7].VectorCount[0], 1);
  EXPECT_EQ(m[7].Vectors[0][0].X, 1);
  EXPECT_EQ(m[7].Vectors[0][0].Y, 8);  // 4 field lines
  ASSERT_EQ(map.Slices.size(), 2u);
  EXPECT_EQ(map.Slices[0].FirstAddress, 0);
  EXPECT_EQ(map.Slices[0].LastAddress, 3);
  EXPECT_EQ(map.Slices[1].FirstAddress, 4);
}

TEST(PictureOverlay, DamagedSlicesAreMarkedAndCleanOnesAreNot) {
  auto damagedSlices = [](const std::string& path) {
    auto stream = TByteSource::OpenPlain(path, TFileStream::Mode::ReadOnly);
    const auto bytes = test::ReadFileBytes(path);
    int damaged = 0, slices = 0;
    for (const TStreamUnit& unit : ScanStreamUnits(bytes, 0, true)) {
      if (!unit.IsPicture()) continue;
      const TMacroblockMap map = AnalysePictureMacroblocks(*stream, unit.Offset);
      for (const auto& slice : map.Slices) {
        ++slices;
        damaged += slice.Damaged;
      }
    }
    return std::pair{damaged, slices};
  };
  const std::string clean = test::SharedStream("lowrisc_test.m2v");
  const std::string broken = test::SharedStream("damaged/mwgoldsmith_test.m2v");
  if (!test::Exists(clean) || !test::Exists(broken)) GTEST_SKIP();
  EXPECT_EQ(damagedSlices(clean), std::pair(0, 24));
  const auto [damaged, slices] = damagedSlices(broken);
  EXPECT_EQ(slices, 24);
  EXPECT_GT(damaged, 0);
}

// The map's coded macroblocks, read from the analyser's records, against what the slice tree of
// the same picture shows as elements: one map entry per macroblock node, each placed by the
// escapes and increments shown, with the type's intra flag, the quantiser in force and the
// field selects of its vectors.
TEST(PictureOverlay, RecordsAgreeWithTheSliceTreesElements) {
  const std::string path = test::OwnStream("i420_interlaced.m2v");
  auto stream = TByteSource::OpenPlain(path, TFileStream::Mode::ReadOnly);
  ASSERT_TRUE(stream);
  TPackIndex index;
  index.SetStream(TByteSource::OpenPlain(path, TFileStream::Mode::ReadOnly));
  const auto bytes = test::ReadFileBytes(path);
  int pictures = 0, fieldSelects = 0;
  for (const TStreamUnit& unit : ScanStreamUnits(bytes, 0, true)) {
    if (!unit.IsPicture() || pictures >= 4) continue;
    ++pictures;
    const TMacroblockMap map = AnalysePictureMacroblocks(*stream, unit.Offset);
    TMemoryTree tree;
    ASSERT_EQ(UpdataSliceDetails(index, unit.Offset, -1, tree, nullptr), TSliceRequestResult::Explained);
    std::vector<const TMacroblockInfo*> coded;
    for (const TMacroblockInfo& mb : map.Macroblocks)
      if (mb.Kind != TMacroblockKind::Skipped) coded.push_back(&mb);
    std::size_t k = 0;
    for (TTreeSink::NodeId slice : tree.Roots()) {
      ASSERT_EQ(tree.At(slice).name, "slice");
      std::int64_t quant = -1, previous = -1;
      for (TTreeSink::NodeId child : tree.Children(slice)) {
        const TMemoryTree::Node& node = tree.At(child);
        if (node.name == "quantiser_scale_code") quant = node.value;
        if (node.name != "macroblock") continue;
        std::int64_t increment = 0, type = 0;
        std::vector<std::int64_t> selects;
        std::function<void(TTreeSink::NodeId)> walk = [&](TTreeSink::NodeId id) {
          for (TTreeSink::NodeId e : tree.Children(id)) {
            const TMemoryTree::Node& n = tree.At(e);
            if (n.name == "macroblock_escape") increment += 33;
            if (n.name == "macroblock_address_increment") increment += n.value;
            if (n.name == "macroblock_type") type = n.value;
            if (n.name == "quantiser_scale_code") quant = n.value;
            if (n.name == "motion_vertical_field_select") selects.push_back(n.value);
            if (n.name != "block") walk(e);
          }
        };
        walk(child);
        ASSERT_LT(k, coded.size()) << "picture at " << unit.Offset;
        const TMacroblockInfo& mb = *coded[k++];
        if (previous >= 0) {
          EXPECT_EQ(mb.Address - previous, increment);
        }
        previous = mb.Address;
        EXPECT_EQ(mb.QuantiserScaleCode, quant);
        EXPECT_EQ(mb.Kind == TMacroblockKind::Intra, (type & 1) != 0 || unit.PictureCodingType == 1);
        std::vector<std::int64_t> mapped;
        for (int s = 0; s < 2; ++s)
          for (int r = 0; r < mb.VectorCount[s]; ++r)
            if (mb.Vectors[r][s].FieldSelect >= 0) mapped.push_back(mb.Vectors[r][s].FieldSelect);
        if (mb.Kind != TMacroblockKind::Intra) {
          EXPECT_EQ(std::multiset<std::int64_t>(mapped.begin(), mapped.end()),
                    std::multiset<std::int64_t>(selects.begin(), selects.end()));
        }
        fieldSelects += static_cast<int>(selects.size());
      }
    }
    EXPECT_EQ(k, coded.size()) << "picture at " << unit.Offset;
  }
  EXPECT_EQ(pictures, 4);
  EXPECT_GT(fieldSelects, 0);  // the stream's field prediction was compared
}
