#include "browser/HeaderTree.h"

#include <array>
#include <string>
#include <vector>

#include "support/Format.h"
#include "syntax/CodedValueMeanings.h"
#include "syntax/HeaderParsers.h"
#include "syntax/StartCodes.h"

namespace varlow {

namespace {

using NodeId = TTreeSink::NodeId;

// Zigzag scan: raster position of each scan index.
constexpr std::array<std::uint8_t, 64> kZigzagScan = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Scan index of each raster position: matrices are kept in transmission (scan) order and shown
// in raster order.
constexpr std::array<std::uint8_t, 64> kRasterToScan = [] {
  std::array<std::uint8_t, 64> inverse{};
  for (std::size_t i = 0; i < 64; ++i) inverse[kZigzagScan[i]] = static_cast<std::uint8_t>(i);
  return inverse;
}();

// Adds the element lines of one header below `parent`, walking a bit cursor through the header
// so that every line carries the position and width of its element.
class TFieldLines {
public:
  TFieldLines(TTreeSink& sink, NodeId parent, std::int64_t bitPos) : sink_(sink), parent_(parent), bit_(bitPos) {}

  // A field of `width` bits under its standard name; its value is kept for ExplainValues.
  NodeId Field(std::string_view name, std::int64_t value, std::int32_t width) {
    return Field(TElement::Field(name, value, bit_, width));
  }
  NodeId Field(const TElement& element) {
    const NodeId id = Add(element);
    fields_.push_back({id, element.Name, element.Value});
    return id;
  }
  // Gives every field line whose value the standard names its meaning. Called once it is known
  // which standard the header follows (whether an extension comes after it).
  void ExplainValues(TCodingStandard standard) {
    for (const TField& field : fields_) {
      const std::string meaning = CodedValueMeaning(field.Name, field.Value, standard);
      if (!meaning.empty()) sink_.SetMeaning(field.Id, meaning);
    }
  }
  // A 32-bit start code.
  void Code(std::string_view name, std::uint32_t code) { Add(TElement::Code(name, code, bit_)); }
  // A group of `width` bits (a matrix) below the header.
  NodeId Group(std::string_view name, std::string_view label, std::int32_t width) {
    return Add(TElement::Group(name, label, bit_, width));
  }
  // Any other element, placed at the cursor.
  NodeId Add(TElement element) {
    element.BitPos = bit_;
    const NodeId id = sink_.Add(parent_, element);
    bit_ += element.BitWidth;
    return id;
  }

  std::int64_t Bit() const { return bit_; }

 private:
  struct TField {
    NodeId Id;
    std::string_view Name;  // a string literal
    std::int64_t Value;
  };
  TTreeSink& sink_;
  NodeId parent_;
  std::int64_t bit_;
  std::vector<TField> fields_;
};

void AddMatrixRows(TTreeSink& sink, NodeId matrix, const std::array<std::uint8_t, 64>& values) {
  for (int r = 0; r < 8; ++r) {
    std::string row;
    for (int c = 0; c < 8; ++c) row += Format("%.2d, ", {values[kRasterToScan[static_cast<std::size_t>(r * 8 + c)]]});
    if (r == 7) row.resize(row.size() - 2);  // the eight rows read as one list
    sink.Add(matrix, TElement::Text({}, row));
  }
}

// Attaches the reader after a header of `headerLength` bytes and looks for `code` there. On
// success the reader stands on the code and `codeByte` is its byte offset in the pack.
bool FindAfterHeader(TBitStream3& reader, const std::uint8_t* pack, std::int32_t shown, std::int32_t headerLength,
                     std::uint32_t code, std::int32_t& codeByte) {
  if (headerLength < 0 || shown - headerLength + 1 <= 0) return false;
  if (reader.SetData(pack + headerLength, shown - headerLength + 1) != S_OK) return false;
  if (!next_start_codeBS(reader, code)) return false;
  codeByte = headerLength + reader.BytePos();
  return true;
}

void SequenceTree(TBitStream3& reader, const std::uint8_t* pack, std::int32_t shown, TPackRec& rec, TTreeSink& sink) {
  auto& sh = rec.SequenceHeader;
  std::int32_t h = 12;
  if (reader.SetData(pack, shown + 1) != S_OK) return;
  Parse_sequence_header(reader, sh, h);

  const NodeId sequence = sink.Add(TTreeSink::kRoot, TElement::Group("sequence", "Sequence"));
  const NodeId header = sink.Add(sequence, TElement::Group("sequence_header", {}, 0, h * 8));
  TFieldLines f(sink, header, 0);
  f.Code("sequence_header_code", sh.sequence_header_code);
  f.Field("horizontal_size_value", sh.horizontal_size_value, 12);
  f.Field("vertical_size_value", sh.vertical_size_value, 12);
  f.Field("aspect_ratio_information", sh.aspect_ratio_information, 4);
  f.Field("frame_rate_code", sh.frame_rate_code, 4);
  f.Field("bit_rate_value", sh.bit_rate_value, 18);
  f.Field("marker_bit", sh.marker_bit, 1);
  f.Field("vbv_buffer_size_value", sh.vbv_buffer_size_value, 10);
  f.Field("constrained_parameters_flag", sh.constrained_parameters_flag, 1);
  f.Field("load_intra_quantiser_matrix", sh.load_intra_quantiser_matrix, 1);
  if (sh.load_intra_quantiser_matrix == 1)
    AddMatrixRows(sink, f.Group("intra_quantiser_matrix", "intra_quantiser_matrix (64 x 8 bits)", 512),
                  sh.intra_quantiser_matrix);
  f.Field("load_non_intra_quantiser_matrix", sh.load_non_intra_quantiser_matrix, 1);
  if (sh.load_non_intra_quantiser_matrix == 1)
    AddMatrixRows(sink, f.Group("non_intra_quantiser_matrix", "non_intra_quantiser_matrix (64 x 8 bits)", 512),
                  sh.non_intra_quantiser_matrix);

  std::int32_t at = 0;
  const bool extended = FindAfterHeader(reader, pack, shown, h, kExtensionStartCode, at);
  f.ExplainValues(extended ? TCodingStandard::Mpeg2 : TCodingStandard::Mpeg1);
  if (!extended) return;
  auto& se = rec.SequenceExtension;
  Parse_sequence_extension(reader, se);
  const NodeId extension = sink.Add(sequence, TElement::Group("sequence_extension", {}, std::int64_t{at} * 8, 80));
  TFieldLines e(sink, extension, std::int64_t{at} * 8);
  e.Code("extension_start_code", se.extension_start_code);
  e.Field("extension_start_code_identifier", se.extension_start_code_identifier, 4);
  e.Field("profile_and_level_indication", se.profile_and_level_indication, 8);
  e.Field("progressive_sequence", se.progressive_sequence, 1);
  e.Field("chroma_format", se.chroma_format, 2);
  e.Field("horizontal_size_extension", se.horizontal_size_extension, 2);
  e.Field("vertical_size_extension", se.vertical_size_extension, 2);
  e.Field("bit_rate_extension", se.bit_rate_extension, 12);
  e.Field("marker_bit", se.marker_bit, 1);
  e.Field("vbv_buffer_size_extension", se.vbv_buffer_size_extension, 8);
  e.Field("low_delay", se.low_delay, 1);
  // These two read "bit", not "bits", as the program has always shown them.
  e.Field(TElement::Field("frame_rate_extension_n", se.frame_rate_extension_n, 0, 2).In(TWidthUnit::Bit));
  e.Field(TElement::Field("frame_rate_extension_d", se.frame_rate_extension_d, 0, 5).In(TWidthUnit::Bit));
  e.ExplainValues(TCodingStandard::Mpeg2);
}

void GroupTree(TBitStream3& reader, const std::uint8_t* pack, std::int32_t shown, TPackRec& rec, TTreeSink& sink) {
  auto& gop = rec.GOPHeader;
  if (reader.SetData(pack, shown + 1) != S_OK) return;
  Parse_GOP_header(reader, gop);

  const NodeId group = sink.Add(TTreeSink::kRoot, TElement::Group("group_of_pictures", "Group Of Pictures"));
  const NodeId header = sink.Add(group, TElement::Group("group_of_pictures_header", {}, 0, 59));
  TFieldLines f(sink, header, 0);
  f.Code("group_start_code", gop.group_start_code);
  const std::string reading = TimeCodeToStr(gop.time_code);
  f.Field(TElement::Field("time_code", gop.time_code, 0, 25).As(TElementForm::Noted).Noted(reading));
  f.Field("closed_gop", gop.closed_gop, 1);
  f.Field("broken_link", gop.broken_link, 1);

  std::int32_t at = 0;
  if (shown > 8 && FindAfterHeader(reader, pack, shown, 8, kUserDataStartCode, at))
    sink.Add(group, TElement::Group("user_data", {}, std::int64_t{at} * 8, 32));
}

void PictureTree(TBitStream3& reader, const std::uint8_t* pack, std::int32_t shown, TPackRec& rec, TTreeSink& sink) {
  auto& ph = rec.PictureHeader;
  if (reader.SetData(pack, shown + 1) != S_OK) return;
  Parse_picture_header(reader, ph);
  const std::int32_t h = PictureHeaderLength(ph);

  const std::int64_t extraBits = std::int64_t{9} * ph.extra_count;
  const std::int32_t vectorBits = ph.picture_coding_type == 3 ? 8 : ph.picture_coding_type == 2 ? 4 : 0;
  const NodeId picture = sink.Add(TTreeSink::kRoot, TElement::Group("picture", "Picture"));
  const NodeId header = sink.Add(
      picture, TElement::Group("picture_header", {}, 0, static_cast<std::int32_t>(62 + vectorBits + extraBits)));
  TFieldLines f(sink, header, 0);
  f.Code("picture_start_code", ph.picture_start_code);
  f.Field("temporal_reference", ph.temporal_reference, 10);
  f.Field("picture_coding_type", ph.picture_coding_type, 3);
  f.Field("vbv_delay", ph.vbv_delay, 16);
  if (ph.picture_coding_type == 2 || ph.picture_coding_type == 3) {
    f.Field("full_pel_forward_vector", ph.full_pel_forward_vector, 1);
    f.Field("forward_f_code", ph.forward_f_code, 3);
  }
  if (ph.picture_coding_type == 3) {
    f.Field("full_pel_backward_vector", ph.full_pel_backward_vector, 1);
    f.Field("backward_f_code", ph.backward_f_code, 3);
  }
  if (ph.extra_count > 0) {
    // Flags and bytes alternate (1 + 8 bits each): each line spans the stretch its bits lie in.
    const std::int64_t extraStart = f.Bit();
    sink.Add(header,
             TElement::Field("extra_bit_picture", ph.extra_count, extraStart, static_cast<std::int32_t>(extraBits - 8))
                 .As(TElementForm::Count));
    std::string bytes;
    for (std::int32_t i = 0; i < ph.StoredExtraCount(); ++i)
      bytes += "$" + HexUpper(ph.extra_information_picture[static_cast<std::size_t>(i)], 2) + ", ";
    const std::string text = "extra_information_picture = " + bytes + " (8 bits)";
    sink.Add(header, TElement::Text("extra_information_picture", text, extraStart + 1,
                                    static_cast<std::int32_t>(extraBits - 1)));
  }

  std::int32_t at = 0;
  const bool extended = FindAfterHeader(reader, pack, shown, h, kExtensionStartCode, at);
  f.ExplainValues(extended ? TCodingStandard::Mpeg2 : TCodingStandard::Mpeg1);
  if (!extended) return;
  auto& pce = rec.PictureCodingExtension;
  Parse_picture_coding_extension(reader, pce);
  const NodeId extension = sink.Add(picture, TElement::Group("picture_coding_extension", {}, std::int64_t{at} * 8,
                                                             pce.composite_display_flag ? 86 : 66));
  TFieldLines e(sink, extension, std::int64_t{at} * 8);
  e.Code("extension_start_code", pce.extension_start_code);
  e.Field("extension_start_code_identifier", pce.extension_start_code_identifier, 4);
  e.Field(TElement::Field("f_code", pce.f_code[0][0], 0, 4).Indexed({0, 0}));
  e.Field(TElement::Field("f_code", pce.f_code[0][1], 0, 4).Indexed({0, 1}));
  e.Field(TElement::Field("f_code", pce.f_code[1][0], 0, 4).Indexed({1, 0}));
  e.Field(TElement::Field("f_code", pce.f_code[1][1], 0, 4).Indexed({1, 1}));
  e.Field("intra_dc_precision", pce.intra_dc_precision, 2);
  e.Field("picture_structure", pce.picture_structure, 2);
  e.Field("top_field_first", pce.top_field_first, 1);
  // The label has always read "dtc"; users search the tree for it.
  e.Field(TElement::Field("frame_pred_frame_dct", pce.frame_pred_frame_dct, 0, 1).Labelled("frame_pred_frame_dtc"));
  e.Field("concealment_motion_vectors", pce.concealment_motion_vectors, 1);
  e.Field("q_scale_type", pce.q_scale_type, 1);
  e.Field("intra_vlc_format", pce.intra_vlc_format, 1);
  e.Field("alternate_scan", pce.alternate_scan, 1);
  e.Field("repeat_first_field", pce.repeat_first_field, 1);
  e.Field("chroma_420_type", pce.chroma_420_type, 1);
  e.Field("progressive_frame", pce.progressive_frame, 1);
  e.Field("composite_display_flag", pce.composite_display_flag, 1);
  if (pce.composite_display_flag == 1) {
    e.Field("v_axis", pce.v_axis, 1);
    e.Field("field_sequence", pce.field_sequence, 3);
    e.Field("sub_carrier", pce.sub_carrier, 1);
    e.Field("burst_amplitude", pce.burst_amplitude, 7);
    e.Field("sub_carrier_phase", pce.sub_carrier_phase, 8);
  }
  e.ExplainValues(TCodingStandard::Mpeg2);
}

} // namespace

void BuildHeaderTree(TBitStream3& reader, const std::uint8_t* pack, std::int32_t shown, TPackRec& rec,
                     TTreeSink& sink) {
  if (shown <= 0) return;
  switch (rec.StartCode[3]) {
  case 0xB3: SequenceTree(reader, pack, shown, rec, sink); break;
  case 0xB8: GroupTree(reader, pack, shown, rec, sink); break;
  case 0x00: PictureTree(reader, pack, shown, rec, sink); break;
  default: break;  // a sequence end has no tree
  }
}

} // namespace varlow
