#pragma once
#include <cstdint>
#include <span>
#include <vector>

namespace varlow {

// One stretch of the stream from an indexed start code (picture, sequence header, group, sequence
// end) to the next, with the few header values that decide how pictures depend on each other.
struct TStreamUnit {
  std::int64_t Offset = 0;
  std::int64_t Length = 0;
  std::uint8_t Code = 0;                 // the byte after 00 00 01: 0x00, 0xB3, 0xB7 or 0xB8
  std::uint8_t PictureCodingType = 0;    // pictures: 1 = I, 2 = P, 3 = B
  std::uint8_t PictureStructure = 3;     // pictures: 1 top field, 2 bottom field, 3 frame
  bool ClosedGop = false;                // groups
  bool BrokenLink = false;               // groups
  bool SecondField = false;              // pictures: the second field of a field pair

  bool IsPicture() const { return Code == 0x00; }
  bool IsAnchor() const { return IsPicture() && (PictureCodingType == 1 || PictureCodingType == 2); }
};

// The units whose start codes lie in `bytes`, which begin at file position `base`. A unit whose
// end lies past the bytes is kept with the length up to their end only when `atFileEnd`; it is
// dropped otherwise. Field pairs are marked: a field picture following an unpaired first field is
// its second field.
std::vector<TStreamUnit> ScanStreamUnits(std::span<const std::uint8_t> bytes, std::int64_t base, bool atFileEnd);

// Values of a sequence header (and its extension, when one follows) that size the picture.
struct TPictureGeometry {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int32_t ChromaFormat = 1;  // 1 = 4:2:0, 2 = 4:2:2, 3 = 4:4:4
  bool Mpeg1 = true;              // no sequence extension follows
};
// `bytes` start at a sequence header's start code.
TPictureGeometry ReadPictureGeometry(std::span<const std::uint8_t> bytes);

// Values of a picture header and its coding extension that motion vectors depend on.
struct TPictureInfo {
  std::int32_t PictureCodingType = 0;
  std::int32_t PictureStructure = 3;
  std::int32_t FCode[2][2] = {{1, 1}, {1, 1}};  // [forward/backward][horizontal/vertical]
  bool FullPel[2] = {false, false};             // MPEG-1 full_pel_forward/backward_vector
  bool TopFieldFirst = true;
};
// `bytes` start at a picture start code and hold the whole picture unit.
TPictureInfo ReadPictureInfo(std::span<const std::uint8_t> bytes);

} // namespace varlow
