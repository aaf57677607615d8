#pragma once
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "support/SyntaxElement.h"
#include "syntax/HeaderRecords.h"
#include "syntax/StartCodes.h"

namespace varlow {

// The elements a header reader met, in bitstream order: name, value, position and width, with
// positions in bits from the start of the reader's block.
using TElementList = std::vector<TElement>;

namespace detail {

// Follows a header's elements as they are read: every field is stated once, by its name and
// width, and lands in the record and (when asked for) the element list. The cursor advances by
// the element widths whatever the reader does, so that a header cut short still lists every
// element at the place the syntax gives it, with the value 0 the reader returns there.
class TElementCursor {
 public:
  TElementCursor(std::int64_t bitPos, TElementList* out) : FBit(bitPos), FOut(out) {}

  // A value of `width` bits just read; `indices` those of an element the syntax indexes.
  std::uint32_t Field(std::string_view name, std::uint32_t value, std::int32_t width,
                      std::initializer_list<std::int32_t> indices = {}) {
    if (FOut != nullptr) FOut->push_back(TElement::Field(name, value, FBit, width).Indexed(indices));
    FBit += width;
    return value;
  }
  // A start code just read.
  std::uint32_t Code(std::string_view name, std::uint32_t code) {
    if (FOut != nullptr) FOut->push_back(TElement::Code(name, code, FBit));
    FBit += 32;
    return code;
  }
  // Elements read as one word of `bits` bits and handed out from its top by Take.
  void Word(std::uint32_t word, std::int32_t bits) {
    FWord = word;
    FWordBits = bits;
  }
  std::uint32_t Take(std::string_view name, std::int32_t width, std::initializer_list<std::int32_t> indices = {}) {
    FWordBits -= width;
    const std::uint32_t mask = width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1u;
    return Field(name, (FWord >> FWordBits) & mask, width, indices);
  }
  // A structure of `width` bits read element by element elsewhere (a quantiser matrix).
  void Group(std::string_view name, std::int32_t width) {
    if (FOut != nullptr) FOut->push_back(TElement::Group(name, {}, FBit, width));
    FBit += width;
  }
  // Bits listed by the caller itself.
  void Skip(std::int64_t width) { FBit += width; }
  std::int64_t Bit() const { return FBit; }

 private:
  std::int64_t FBit;
  TElementList* FOut;
  std::uint32_t FWord = 0;
  std::int32_t FWordBits = 0;
};

template <class T>
T Narrow(std::uint32_t v) {
  return static_cast<T>(v);
}

}  // namespace detail

// The readers of the headers, one per structure, each written once in the standard's element
// names. `Reader` gives ReadAligned32Bit, ReadBits(n), ReadBit, ReadAligned8Bit,
// NextAligned16Bit and BitPos; each reader starts on the first byte of the header's start code.

template <class Reader>
void ReadSequenceHeader(Reader& r, TSequenceHeaderRec& rec, std::int32_t& headerLength, TElementList* out) {
  detail::TElementCursor c(r.BitPos(), out);
  headerLength = 12;
  rec.sequence_header_code = c.Code("sequence_header_code", r.ReadAligned32Bit());
  c.Word(r.ReadAligned32Bit(), 32);
  rec.horizontal_size_value = c.Take("horizontal_size_value", 12);
  rec.vertical_size_value = c.Take("vertical_size_value", 12);
  rec.aspect_ratio_information = c.Take("aspect_ratio_information", 4);
  rec.frame_rate_code = c.Take("frame_rate_code", 4);
  c.Word(r.ReadBits(30), 30);
  rec.bit_rate_value = c.Take("bit_rate_value", 18);
  rec.marker_bit = c.Take("marker_bit", 1);
  rec.vbv_buffer_size_value = c.Take("vbv_buffer_size_value", 10);
  rec.constrained_parameters_flag = c.Take("constrained_parameters_flag", 1);
  rec.load_intra_quantiser_matrix = c.Field("load_intra_quantiser_matrix", r.ReadBit(), 1);
  if (rec.load_intra_quantiser_matrix == 1) {
    // Straddles bytes: each value starts one bit into a byte.
    for (auto& q : rec.intra_quantiser_matrix) q = detail::Narrow<std::uint8_t>(r.ReadBits(8));
    c.Group("intra_quantiser_matrix", 64 * 8);
    headerLength += 64;
  }
  rec.load_non_intra_quantiser_matrix = c.Field("load_non_intra_quantiser_matrix", r.ReadBit(), 1);
  if (rec.load_non_intra_quantiser_matrix == 1) {
    // 96 or 608 bits read so far: the reader stands on a byte boundary.
    for (auto& q : rec.non_intra_quantiser_matrix) q = detail::Narrow<std::uint8_t>(r.ReadAligned8Bit());
    c.Group("non_intra_quantiser_matrix", 64 * 8);
    headerLength += 64;
  }
}

// Whether an extension reader starts on its start code or after it (a caller that dispatched on
// the extension's identifier has read the code already).
enum class TStartCodeRead : std::uint8_t { No, Already };

// The last 16 bits are peeked: the reader stays after the first eight bytes.
template <class Reader>
void ReadSequenceExtension(Reader& r, TSequenceExtensionRec& rec, TElementList* out,
                           TStartCodeRead code = TStartCodeRead::No) {
  using detail::Narrow;
  const bool already = code == TStartCodeRead::Already;
  detail::TElementCursor c(r.BitPos() - (already ? 32 : 0), out);
  rec.extension_start_code = c.Code("extension_start_code", already ? kExtensionStartCode : r.ReadAligned32Bit());
  c.Word(r.ReadAligned32Bit(), 32);
  rec.extension_start_code_identifier = Narrow<std::uint8_t>(c.Take("extension_start_code_identifier", 4));
  rec.profile_and_level_indication = Narrow<std::uint8_t>(c.Take("profile_and_level_indication", 8));
  rec.progressive_sequence = Narrow<std::uint8_t>(c.Take("progressive_sequence", 1));
  rec.chroma_format = Narrow<std::uint8_t>(c.Take("chroma_format", 2));
  rec.horizontal_size_extension = Narrow<std::uint8_t>(c.Take("horizontal_size_extension", 2));
  rec.vertical_size_extension = Narrow<std::uint8_t>(c.Take("vertical_size_extension", 2));
  rec.bit_rate_extension = Narrow<std::uint16_t>(c.Take("bit_rate_extension", 12));
  rec.marker_bit = Narrow<std::uint8_t>(c.Take("marker_bit", 1));
  c.Word(r.NextAligned16Bit(), 16);
  rec.vbv_buffer_size_extension = Narrow<std::uint8_t>(c.Take("vbv_buffer_size_extension", 8));
  rec.low_delay = Narrow<std::uint8_t>(c.Take("low_delay", 1));
  rec.frame_rate_extension_n = Narrow<std::uint8_t>(c.Take("frame_rate_extension_n", 2));
  rec.frame_rate_extension_d = Narrow<std::uint8_t>(c.Take("frame_rate_extension_d", 5));
}

template <class Reader>
void ReadGroupOfPicturesHeader(Reader& r, TGOPHeaderRec& rec, TElementList* out) {
  using detail::Narrow;
  detail::TElementCursor c(r.BitPos(), out);
  rec.group_start_code = c.Code("group_start_code", r.ReadAligned32Bit());
  c.Word(r.ReadAligned32Bit(), 32);
  rec.time_code = c.Take("time_code", 25);
  rec.closed_gop = Narrow<std::uint8_t>(c.Take("closed_gop", 1));
  rec.broken_link = Narrow<std::uint8_t>(c.Take("broken_link", 1));
}

// Every extra byte is counted and consumed; the record keeps the first ones it has room for.
// The list gives the extra flags and bytes as two elements, "extra_bit_picture" holding their
// count and spanning the stretch they lie in, and "extra_information_picture" (no value), then
// the closing extra_bit_picture.
template <class Reader>
void ReadPictureHeader(Reader& r, TPictureHeaderRec& rec, TElementList* out) {
  using detail::Narrow;
  detail::TElementCursor c(r.BitPos(), out);
  rec.picture_start_code = c.Code("picture_start_code", r.ReadAligned32Bit());
  rec.temporal_reference = Narrow<std::uint16_t>(c.Field("temporal_reference", r.ReadBits(10), 10));
  rec.picture_coding_type = Narrow<std::uint8_t>(c.Field("picture_coding_type", r.ReadBits(3), 3));
  rec.vbv_delay = Narrow<std::uint16_t>(c.Field("vbv_delay", r.ReadBits(16), 16));
  if (rec.picture_coding_type == 2 || rec.picture_coding_type == 3) {
    rec.full_pel_forward_vector = Narrow<std::uint8_t>(c.Field("full_pel_forward_vector", r.ReadBit(), 1));
    rec.forward_f_code = Narrow<std::uint8_t>(c.Field("forward_f_code", r.ReadBits(3), 3));
  }
  if (rec.picture_coding_type == 3) {
    rec.full_pel_backward_vector = Narrow<std::uint8_t>(c.Field("full_pel_backward_vector", r.ReadBit(), 1));
    rec.backward_f_code = Narrow<std::uint8_t>(c.Field("backward_f_code", r.ReadBits(3), 3));
  }
  std::int32_t i = 0;
  while (r.NextBit() == 1) {
    const auto flag = Narrow<std::uint8_t>(r.ReadBit());
    const auto byte = Narrow<std::uint8_t>(r.ReadBits(8));
    if (i < kMaxExtraInformationBytes) {
      rec.extra_bit_picture_flags[static_cast<std::size_t>(i)] = flag;
      rec.extra_information_picture[static_cast<std::size_t>(i)] = byte;
    }
    ++i;
  }
  rec.extra_count = i;
  if (i > 0 && out != nullptr) {
    // Flags and bytes alternate (1 + 8 bits each): each element spans the stretch its bits lie in.
    const std::int64_t extraBits = std::int64_t{9} * i;
    out->push_back(TElement::Field("extra_bit_picture", i, c.Bit(), static_cast<std::int32_t>(extraBits - 8))
                       .As(TElementForm::Count));
    out->push_back(
        TElement::Text("extra_information_picture", {}, c.Bit() + 1, static_cast<std::int32_t>(extraBits - 1)));
  }
  c.Skip(std::int64_t{9} * i);
  rec.extra_bit_picture = Narrow<std::uint8_t>(c.Field("extra_bit_picture", r.ReadBit(), 1));
}

template <class Reader>
void ReadPictureCodingExtension(Reader& r, TPictureCodingExtensionRec& rec, TElementList* out,
                                TStartCodeRead code = TStartCodeRead::No) {
  using detail::Narrow;
  const bool already = code == TStartCodeRead::Already;
  detail::TElementCursor c(r.BitPos() - (already ? 32 : 0), out);
  rec.extension_start_code = c.Code("extension_start_code", already ? kExtensionStartCode : r.ReadAligned32Bit());
  c.Word(r.ReadAligned32Bit(), 32);
  rec.extension_start_code_identifier = Narrow<std::uint8_t>(c.Take("extension_start_code_identifier", 4));
  for (std::int32_t s = 0; s < 2; ++s)
    for (std::int32_t t = 0; t < 2; ++t) rec.f_code[s][t] = Narrow<std::uint8_t>(c.Take("f_code", 4, {s, t}));
  rec.intra_dc_precision = Narrow<std::uint8_t>(c.Take("intra_dc_precision", 2));
  rec.picture_structure = Narrow<std::uint8_t>(c.Take("picture_structure", 2));
  rec.top_field_first = Narrow<std::uint8_t>(c.Take("top_field_first", 1));
  rec.frame_pred_frame_dct = Narrow<std::uint8_t>(c.Take("frame_pred_frame_dct", 1));
  rec.concealment_motion_vectors = Narrow<std::uint8_t>(c.Take("concealment_motion_vectors", 1));
  rec.q_scale_type = Narrow<std::uint8_t>(c.Take("q_scale_type", 1));
  rec.intra_vlc_format = Narrow<std::uint8_t>(c.Take("intra_vlc_format", 1));
  rec.alternate_scan = Narrow<std::uint8_t>(c.Take("alternate_scan", 1));
  rec.repeat_first_field = Narrow<std::uint8_t>(c.Take("repeat_first_field", 1));
  rec.chroma_420_type = Narrow<std::uint8_t>(c.Take("chroma_420_type", 1));
  rec.progressive_frame = Narrow<std::uint8_t>(c.Field("progressive_frame", r.ReadBit(), 1));
  rec.composite_display_flag = Narrow<std::uint8_t>(c.Field("composite_display_flag", r.ReadBit(), 1));
  if (rec.composite_display_flag == 1) {
    rec.v_axis = Narrow<std::uint8_t>(c.Field("v_axis", r.ReadBit(), 1));
    rec.field_sequence = Narrow<std::uint8_t>(c.Field("field_sequence", r.ReadBits(3), 3));
    rec.sub_carrier = Narrow<std::uint8_t>(c.Field("sub_carrier", r.ReadBit(), 1));
    rec.burst_amplitude = Narrow<std::uint8_t>(c.Field("burst_amplitude", r.ReadBits(7), 7));
    rec.sub_carrier_phase = Narrow<std::uint8_t>(c.Field("sub_carrier_phase", r.ReadBits(8), 8));
  }
}

// Each matrix follows its load flag and straddles bytes wherever the flags leave it.
template <class Reader>
void ReadQuantMatrixExtension(Reader& r, TQuantMatrixExtensionRec& rec, TElementList* out,
                              TStartCodeRead code = TStartCodeRead::No) {
  using detail::Narrow;
  const bool already = code == TStartCodeRead::Already;
  detail::TElementCursor c(r.BitPos() - (already ? 32 : 0), out);
  rec.extension_start_code = c.Code("extension_start_code", already ? kExtensionStartCode : r.ReadAligned32Bit());
  rec.extension_start_code_identifier =
      Narrow<std::uint8_t>(c.Field("extension_start_code_identifier", r.ReadBits(4), 4));
  auto matrix = [&](std::string_view load, std::uint8_t& flag, std::string_view name,
                    std::array<std::uint8_t, 64>& values) {
    flag = Narrow<std::uint8_t>(c.Field(load, r.ReadBit(), 1));
    if (flag != 1) return;
    for (auto& q : values) q = Narrow<std::uint8_t>(r.ReadBits(8));
    c.Group(name, 64 * 8);
  };
  matrix("load_intra_quantiser_matrix", rec.load_intra_quantiser_matrix, "intra_quantiser_matrix",
         rec.intra_quantiser_matrix);
  matrix("load_non_intra_quantiser_matrix", rec.load_non_intra_quantiser_matrix, "non_intra_quantiser_matrix",
         rec.non_intra_quantiser_matrix);
  matrix("load_chroma_intra_quantiser_matrix", rec.load_chroma_intra_quantiser_matrix, "chroma_intra_quantiser_matrix",
         rec.chroma_intra_quantiser_matrix);
  matrix("load_chroma_non_intra_quantiser_matrix", rec.load_chroma_non_intra_quantiser_matrix,
         "chroma_non_intra_quantiser_matrix", rec.chroma_non_intra_quantiser_matrix);
}

// The slice header; slice_vertical_position_extension is coded when the picture is taller than
// 2800 lines (`verticalSize`, with its extension). With TStartCodeRead::Already the caller has
// read the start code into rec.slice_start_code.
template <class Reader>
void ReadSliceHeader(Reader& r, TSliceHeaderRec& rec, std::int32_t verticalSize, TElementList* out,
                     TStartCodeRead code = TStartCodeRead::No) {
  using detail::Narrow;
  const bool already = code == TStartCodeRead::Already;
  detail::TElementCursor c(r.BitPos() - (already ? 32 : 0), out);
  rec.slice_start_code = c.Code("slice_start_code", already ? rec.slice_start_code : r.ReadAligned32Bit());
  if (verticalSize > 2800)
    rec.slice_vertical_position_extension =
        static_cast<std::int32_t>(c.Field("slice_vertical_position_extension", r.ReadBits(3), 3));
  rec.quantiser_scale_code = Narrow<std::uint8_t>(c.Field("quantiser_scale_code", r.ReadBits(5), 5));
  rec.extra_count = 0;
  if (r.NextBit() == 1) {
    rec.intra_slice_flag = Narrow<std::uint8_t>(c.Field("intra_slice_flag", r.ReadBit(), 1));
    rec.intra_slice = Narrow<std::uint8_t>(c.Field("intra_slice", r.ReadBit(), 1));
    rec.reserved_bits = Narrow<std::uint8_t>(c.Field("reserved_bits", r.ReadBits(7), 7));
    while (r.NextBit() == 1) {
      c.Field("extra_bit_slice", r.ReadBit(), 1);
      c.Field("extra_information_slice", r.ReadBits(8), 8);
      ++rec.extra_count;
    }
  }
  rec.extra_bit_slice = Narrow<std::uint8_t>(c.Field("extra_bit_slice", r.ReadBit(), 1));
}

}  // namespace varlow
