#include "picture/StreamUnits.h"

#include "syntax/HeaderParsers.h"

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

// Runs one header reader over the header at the start of `bytes` (at most the first 2 KiB: every
// header these readers read is shorter).
template <class Read>
void ReadHeader(std::span<const std::uint8_t> bytes, Read read) {
  TBitStream3 reader;
  const std::size_t size = bytes.size() < 2048 ? bytes.size() : 2048;
  if (reader.SetData(bytes.data(), static_cast<std::int32_t>(size)) == S_OK) read(reader);
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
      TGOPHeaderRec group;
      ReadHeader(unitBytes, [&](TBitStream3& reader) { ReadGroupOfPicturesHeader(reader, group, nullptr); });
      unit.ClosedGop = group.closed_gop != 0;
      unit.BrokenLink = group.broken_link != 0;
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
  TSequenceHeaderRec sequence;
  std::int32_t length = 0;
  ReadHeader(bytes, [&](TBitStream3& reader) { ReadSequenceHeader(reader, sequence, length, nullptr); });
  info.Width = static_cast<std::int32_t>(sequence.horizontal_size_value);
  info.Height = static_cast<std::int32_t>(sequence.vertical_size_value);
  // The sequence extension follows the header and its matrices; the first start code found
  // after the fixed part is either the extension or something that says there is none.
  for (std::size_t i = 12; i + 7 <= bytes.size(); ++i) {
    if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1) continue;
    if (bytes[i + 3] == 0xB5 && (bytes[i + 4] >> 4) == 1) {
      TSequenceExtensionRec extension;
      ReadHeader(bytes.subspan(i), [&](TBitStream3& reader) { ReadSequenceExtension(reader, extension, nullptr); });
      info.ChromaFormat = extension.chroma_format;
      info.Width |= std::int32_t{extension.horizontal_size_extension} << 12;
      info.Height |= std::int32_t{extension.vertical_size_extension} << 12;
      info.Mpeg1 = false;
    }
    break;
  }
  return info;
}

TPictureInfo ReadPictureInfo(std::span<const std::uint8_t> bytes) {
  TPictureInfo info;
  if (bytes.size() < 8) return info;
  TPictureHeaderRec picture;
  ReadHeader(bytes, [&](TBitStream3& reader) { ReadPictureHeader(reader, picture, nullptr); });
  info.PictureCodingType = picture.picture_coding_type;
  if (info.PictureCodingType == 2 || info.PictureCodingType == 3) {
    info.FullPel[0] = picture.full_pel_forward_vector != 0;
    info.FCode[0][0] = info.FCode[0][1] = picture.forward_f_code;
  }
  if (info.PictureCodingType == 3) {
    info.FullPel[1] = picture.full_pel_backward_vector != 0;
    info.FCode[1][0] = info.FCode[1][1] = picture.backward_f_code;
  }
  if (const std::size_t e = FindPictureCodingExtension(bytes); e != 0) {
    TPictureCodingExtensionRec extension;
    ReadHeader(bytes.subspan(e - 4),
               [&](TBitStream3& reader) { ReadPictureCodingExtension(reader, extension, nullptr); });
    for (int s = 0; s < 2; ++s)
      for (int t = 0; t < 2; ++t) info.FCode[s][t] = extension.f_code[s][t];
    info.PictureStructure = extension.picture_structure;
    info.TopFieldFirst = extension.top_field_first != 0;
    info.FullPel[0] = info.FullPel[1] = false;
  }
  return info;
}

} // namespace varlow
