#include "picture/StreamUnits.h"

namespace varlow {

namespace {

bool IsUnitStart(std::uint8_t code) { return code == 0x00 || code == 0xB3 || code == 0xB7 || code == 0xB8; }

// The picture coding extension of the picture whose unit is `bytes`, if there is one: the
// position of its first byte after the start code, or 0.
std::size_t FindPictureCodingExtension(std::span<const std::uint8_t> bytes) {
  for (std::size_t i = 4; i + 8 <= bytes.size(); ++i) {
    if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1) continue;
    const std::uint8_t code = bytes[i + 3];
    if (code == 0xB5 && (bytes[i + 4] >> 4) == 8) return i + 4;
    if (code == 0x01) return 0;  // slices begin: no extension came
  }
  return 0;
}

} // namespace

std::vector<TStreamUnit> ScanStreamUnits(std::span<const std::uint8_t> bytes, std::int64_t base, bool atFileEnd) {
  std::vector<TStreamUnit> units;
  const std::size_t n = bytes.size();
  auto close = [&](std::size_t end) {
    if (!units.empty()) units.back().Length = base + static_cast<std::int64_t>(end) - units.back().Offset;
  };
  for (std::size_t i = 0; i + 4 <= n; ++i) {
    if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1 || !IsUnitStart(bytes[i + 3])) continue;
    close(i);
    TStreamUnit unit;
    unit.Offset = base + static_cast<std::int64_t>(i);
    unit.Code = bytes[i + 3];
    units.push_back(unit);
    i += 3;
  }
  if (units.empty()) return units;
  if (atFileEnd) close(n);
  else units.pop_back();  // its end was not seen

  bool firstFieldOpen = false;
  for (TStreamUnit& unit : units) {
    const auto at = static_cast<std::size_t>(unit.Offset - base);
    const auto unitBytes = bytes.subspan(at, static_cast<std::size_t>(unit.Length));
    if (unit.Code == 0xB8 && unitBytes.size() >= 8) {
      // time_code (25 bits) then closed_gop and broken_link: bits 6 and 5 of the fourth byte.
      unit.ClosedGop = (unitBytes[7] >> 6) & 1;
      unit.BrokenLink = (unitBytes[7] >> 5) & 1;
    } else if (unit.IsPicture()) {
      const TPictureInfo info = ReadPictureInfo(unitBytes);
      unit.PictureCodingType = static_cast<std::uint8_t>(info.PictureCodingType);
      unit.PictureStructure = static_cast<std::uint8_t>(info.PictureStructure);
      if (unit.PictureStructure == 3) {
        firstFieldOpen = false;
      } else {
        unit.SecondField = firstFieldOpen;
        firstFieldOpen = !firstFieldOpen;
      }
    } else {
      firstFieldOpen = false;
    }
  }
  return units;
}

TPictureGeometry ReadPictureGeometry(std::span<const std::uint8_t> bytes) {
  TPictureGeometry info;
  if (bytes.size() < 12) return info;
  info.Width = (bytes[4] << 4) | (bytes[5] >> 4);
  info.Height = ((bytes[5] & 0x0F) << 8) | bytes[6];
  // The sequence extension follows the header and its matrices; the first start code found
  // after the fixed part is either the extension or something that says there is none.
  for (std::size_t i = 12; i + 7 <= bytes.size(); ++i) {
    if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1) continue;
    if (bytes[i + 3] == 0xB5 && (bytes[i + 4] >> 4) == 1) {
      // id 4 | profile_and_level 8 | progressive 1 | chroma_format 2 | h ext 2 | v ext 2 | ...
      const std::uint32_t bits = (std::uint32_t{bytes[i + 4]} << 16) | (std::uint32_t{bytes[i + 5]} << 8) | bytes[i + 6];
      info.ChromaFormat = static_cast<std::int32_t>((bits >> 9) & 3);
      info.Width |= static_cast<std::int32_t>((bits >> 7) & 3) << 12;
      info.Height |= static_cast<std::int32_t>((bits >> 5) & 3) << 12;
      info.Mpeg1 = false;
    }
    break;
  }
  return info;
}

TPictureInfo ReadPictureInfo(std::span<const std::uint8_t> bytes) {
  TPictureInfo info;
  if (bytes.size() < 8) return info;
  // temporal_reference 10 | picture_coding_type 3 | vbv_delay 16 | full_pel_fw 1 | fw_f_code 3 | ...
  const std::uint32_t bits = (std::uint32_t{bytes[4]} << 24) | (std::uint32_t{bytes[5]} << 16) |
                             (std::uint32_t{bytes[6]} << 8) | bytes[7];
  const std::uint8_t next = bytes.size() > 8 ? bytes[8] : 0;
  info.PictureCodingType = static_cast<std::int32_t>((bits >> 19) & 7);
  if (info.PictureCodingType == 2 || info.PictureCodingType == 3) {
    info.FullPel[0] = (bits >> 2) & 1;
    const std::int32_t forward = static_cast<std::int32_t>(((bits & 3) << 1) | (next >> 7));
    info.FCode[0][0] = info.FCode[0][1] = forward;
  }
  if (info.PictureCodingType == 3) {
    info.FullPel[1] = (next >> 6) & 1;
    const std::int32_t backward = (next >> 3) & 7;
    info.FCode[1][0] = info.FCode[1][1] = backward;
  }
  if (const std::size_t e = FindPictureCodingExtension(bytes); e != 0) {
    // id 4 | f_code 4 x 4 | intra_dc_precision 2 | picture_structure 2 | top_field_first 1 ...
    info.FCode[0][0] = bytes[e] & 0x0F;
    info.FCode[0][1] = bytes[e + 1] >> 4;
    info.FCode[1][0] = bytes[e + 1] & 0x0F;
    info.FCode[1][1] = bytes[e + 2] >> 4;
    info.PictureStructure = bytes[e + 2] & 3;
    info.TopFieldFirst = (bytes[e + 3] >> 7) & 1;
    info.FullPel[0] = info.FullPel[1] = false;
  }
  return info;
}

} // namespace varlow
