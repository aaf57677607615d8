#include "syntax/HeaderParsers.h"

#include "support/Format.h"
#include "support/Trap.h"

namespace varlow {

namespace {

// Bits hi..lo of w, right-aligned.
constexpr std::uint32_t Bits(std::uint32_t w, int hi, int lo) {
  return (w >> lo) & ((hi - lo + 1) >= 32 ? 0xFFFFFFFFu : (1u << (hi - lo + 1)) - 1u);
}

} // namespace

bool Parse_sequence_header(TBitStream3& reader, TSequenceHeaderRec& rec, std::int32_t& headerLength,
                           TElementList* elements) {
  return Trap("Parse_sequence_header", [&] { ReadSequenceHeader(reader, rec, headerLength, elements); });
}

bool Parse_sequence_extension(TBitStream3& reader, TSequenceExtensionRec& rec, TElementList* elements) {
  return Trap("Parse_sequence_extension", [&] { ReadSequenceExtension(reader, rec, elements); });
}

bool Parse_GOP_header(TBitStream3& reader, TGOPHeaderRec& rec, TElementList* elements) {
  return Trap("Parse_GOP_header", [&] { ReadGroupOfPicturesHeader(reader, rec, elements); });
}

std::string TimeCodeToStr(std::uint32_t time_code) {
  return Format("%.2d:%.2d:%.2d:%.2d",
                {Bits(time_code, 23, 19), Bits(time_code, 18, 13), Bits(time_code, 11, 6), Bits(time_code, 5, 0)});
}

bool Parse_picture_header(TBitStream3& reader, TPictureHeaderRec& rec, TElementList* elements) {
  return Trap("Parse_picture_header", [&] { ReadPictureHeader(reader, rec, elements); });
}

std::int32_t PictureHeaderLength(const TPictureHeaderRec& rec) {
  std::int64_t bits = 62 + std::int64_t{9} * rec.extra_count;
  if (rec.picture_coding_type == 2) bits += 4;
  if (rec.picture_coding_type == 3) bits += 8;
  std::int64_t bytes = bits / 8;
  const std::int64_t rest = bits % 8;
  if (rest > 4 || (rest == 4 && bytes % 2 == 1)) ++bytes;
  return static_cast<std::int32_t>(bytes);
}

bool Parse_picture_coding_extension(TBitStream3& reader, TPictureCodingExtensionRec& rec, TElementList* elements) {
  return Trap("Parse_picture_coding_extension", [&] { ReadPictureCodingExtension(reader, rec, elements); });
}

bool next_start_codeBS(TBitStream3& reader, std::uint32_t code) {
  bool found = false;
  Trap("next_start_codeBS", [&] {
    reader.ByteAlign();
    while (!reader.Error()) {
      // NextAligned32Bit returns 0 on a shortage, so a search for code 0 must check the flag.
      const std::uint32_t next = reader.NextAligned32Bit();
      if (!reader.Error() && next == code) {
        found = true;
        return;
      }
      reader.SkipAlignedByte();
    }
  });
  return found;
}

} // namespace varlow
