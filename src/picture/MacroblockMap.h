#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "picture/StreamUnits.h"
#include "slice/MacroblockRecords.h"

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

// Collects the slice analyser's macroblock records while it reads every slice of one picture,
// places each macroblock (skipped ones included) and reconstructs its motion vectors.
class TMacroblockSink final : public TMacroblockListener {
 public:
  TMacroblockSink(const TPictureGeometry& sequence, const TPictureInfo& picture);

  void Slice(const TSliceHeaderRecord& slice) override;
  void Macroblock(const TMacroblockRecord& macroblock) override;
  // The map of every record received.
  TMacroblockMap Finish();

 private:
  void AddSkipped(std::int32_t upTo);
  std::int32_t Reconstruct(const TMacroblockRecord& mb, std::int32_t r, std::int32_t s, std::int32_t t);
  void ResetPredictors();

  TPictureGeometry FSequence;
  TPictureInfo FPicture;
  TMacroblockMap FMap;
  std::int32_t FSliceQuant = 0;
  std::int32_t FSliceStartRow = 0;
  std::int32_t FSliceIndex = -1;
  std::int32_t FPreviousAddress = -1;
  std::int32_t FPmv[2][2][2] = {};  // PMV[r][s][t]
  bool FFirstInSlice = true;
};

// Runs the slice analyser over every slice of the picture whose pack starts at `offset` and
// collects its macroblocks. Failures are logged; what was collected until then is returned.
TMacroblockMap AnalysePictureMacroblocks(const TByteSource& stream, std::int64_t offset);

} // namespace varlow
