// The macroblock records the overlay draws: collected from the slice analyser's nodes, checked
// against ffmpeg's macroblock-type map, and the motion vectors rebuilt from the codes shown.
#include <gtest/gtest.h>

#include "container/ByteSource.h"
#include "picture/MacroblockMap.h"
#include "picture/StreamUnits.h"
#include "picture_ffmpeg_support.h"
#include "support/FileStream.h"

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

// Feeds the sink the nodes the analyser writes for one macroblock.
struct SliceFeeder {
  TMacroblockSink& sink;
  TTreeSink::NodeId slice = 0, mb = 0, vectors = 0, vector = 0;
  void Slice(int index, int row) {
    slice = sink.AddChild(TTreeSink::kRoot, "Slice " + std::to_string(index));
    char text[64];
    std::snprintf(text, sizeof text, "slice_start_code = $%.8x (32 bits)", 0x101 + row);
    sink.AddChild(slice, text);
    sink.AddChild(slice, "quantiser_scale_code = 8 (5 bits)");
  }
  void Macroblock(int number, int increment, int type, int motionType = -1) {
    mb = sink.AddChild(slice, "MacroBlock " + std::to_string(number));
    sink.AddChild(mb, "macroblock_address_increment = " + std::to_string(increment) + " (1 bits)");
    const auto modes = sink.AddChild(mb, "MacroBlock Modes");
    sink.AddChild(modes, "macroblock_type = " + std::to_string(type) + " (3 bits)");
    if (motionType >= 0) sink.AddChild(modes, "frame_motion_type = " + std::to_string(motionType) + " (2 bit)");
  }
  void Vectors(int s) { vectors = sink.AddChild(mb, "Motion Vectors " + std::to_string(s)); }
  void FieldSelect(int r, int s, int v) {
    sink.AddChild(vectors, "motion_vertical_field_select[" + std::to_string(r) + "][" + std::to_string(s) +
                               "] = " + std::to_string(v) + " (1 bit)");
  }
  void Vector(int r, int s, int codeX, int residualX, int codeY, int residualY) {
    vector = sink.AddChild(vectors, "Motion Vector");
    auto code = [&](int t, int c, int res) {
      sink.AddChild(vector, "motion_code[" + std::to_string(r) + "][" + std::to_string(s) + "][" + std::to_string(t) +
                                "] = " + std::to_string(c) + " (3 bits)");
      if (c != 0)
        sink.AddChild(vector, "motion_residual[" + std::to_string(r) + "][" + std::to_string(s) + "][" +
                                  std::to_string(t) + "] = " + std::to_string(res) + " (1 bits)");
    };
    code(0, codeX, residualX);
    code(1, codeY, residualY);
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
  SliceFeeder feed{sink};
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
