#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "picture/StreamUnits.h"
#include "support/TreeSink.h"

namespace varlow {

class TByteSource;

// How a macroblock is predicted.
enum class TMacroblockKind : std::uint8_t { Intra, Forward, Backward, Bidirectional, Skipped, NoMotion };

// A reconstructed motion vector in half samples, and the reference field it points into (field
// prediction only).
struct TMotionVector {
  std::int32_t X = 0;
  std::int32_t Y = 0;
  std::int32_t FieldSelect = -1;  // -1: frame prediction
};

struct TMacroblockInfo {
  std::int32_t Address = 0;  // macroblock_address: row * macroblocks per row + column
  std::int32_t Column = 0;
  std::int32_t Row = 0;      // in macroblock rows of the picture (field rows in a field picture)
  TMacroblockKind Kind = TMacroblockKind::Intra;
  std::int32_t QuantiserScaleCode = 0;
  std::int32_t SliceIndex = 0;    // the slice, counted in file order from 0
  std::int32_t NumberInSlice = -1;  // the "MacroBlock %d" number when that slice is explained alone; -1 when skipped
  std::int32_t VectorCount[2] = {0, 0};  // forward, backward
  TMotionVector Vectors[2][2];           // [first/second][forward/backward]
};

struct TSliceInfo {
  std::int32_t Index = 0;
  std::int32_t FirstAddress = 0;
  std::int32_t LastAddress = -1;
  bool Damaged = false;  // an invalid code, or the slice ended before its row did
};

// What the slice analyser found in one picture, macroblock by macroblock.
struct TMacroblockMap {
  std::int32_t MacroblocksPerRow = 0;
  std::int32_t MacroblockRows = 0;
  std::int32_t PictureCodingType = 0;
  std::int32_t PictureStructure = 3;
  std::vector<TMacroblockInfo> Macroblocks;  // in address order of the slices, skipped ones included
  std::vector<TSliceInfo> Slices;

  // The macroblock covering (column, row), or null.
  const TMacroblockInfo* At(std::int32_t column, std::int32_t row) const;
};

// Collects macroblock records from the node texts the slice analyser writes while it explains
// every slice of one picture, and reconstructs the motion vectors from the codes it shows.
class TMacroblockSink final : public TTreeSink {
public:
  TMacroblockSink(const TPictureGeometry& sequence, const TPictureInfo& picture);

  NodeId AddChild(NodeId parent, std::string_view text, std::int64_t bitPos = kNoPosition,
                  std::int32_t bitWidth = 0) override;
  // Ends the last macroblock; then the map is complete.
  TMacroblockMap Finish();

private:
  enum class TNode : std::uint8_t { Other, Slice, Macroblock, Modes, Vectors, Vector };
  struct TPending {
    bool Open = false;
    std::int32_t Increment = 0;
    std::int32_t Type = 0;
    std::int32_t MotionType = -1;  // frame_motion_type or field_motion_type, -1 when not read
    std::int32_t Quant = -1;
    std::int32_t Number = 0;
    std::int32_t VectorsSeen[2] = {0, 0};
    std::int32_t FieldSelect[2][2] = {{-1, -1}, {-1, -1}};
    std::int32_t Code[2][2][2] = {};
    std::int32_t Residual[2][2][2] = {};
  };

  void StartSlice(std::int32_t index);
  void EndMacroblock();
  void AddSkipped(std::int32_t upTo);
  std::int32_t Reconstruct(std::int32_t r, std::int32_t s, std::int32_t t);
  void ResetPredictors();

  TPictureGeometry FSequence;
  TPictureInfo FPicture;
  TMacroblockMap FMap;
  std::vector<TNode> FNodes;
  NodeId FVectorsNode = kRoot;
  std::int32_t FVectorsS = 0;
  std::int32_t FVectorR = -1;
  std::int32_t FSliceQuant = 0;
  std::int32_t FSliceStartRow = 0;
  std::int32_t FSliceIndex = -1;
  std::int32_t FNumberInSlice = 0;
  std::int32_t FPreviousAddress = -1;
  TPending FMb;
  std::int32_t FPmv[2][2][2] = {};  // PMV[r][s][t]
  bool FFirstInSlice = true;
};

// Runs the slice analyser over every slice of the picture whose pack starts at `offset` and
// collects its macroblocks. Failures are logged; what was collected until then is returned.
TMacroblockMap AnalysePictureMacroblocks(const TByteSource& stream, std::int64_t offset);

} // namespace varlow
