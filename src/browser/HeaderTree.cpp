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

// The eight rows of a matrix kept in scan order, shown in raster order.
void AddMatrixRows(TTreeSink& sink, NodeId matrix, const std::array<std::uint8_t, 64>& values) {
  for (int r = 0; r < 8; ++r) {
    std::string row;
    for (int c = 0; c < 8; ++c) row += Format("%.2d, ", {values[kRasterToScan[static_cast<std::size_t>(r * 8 + c)]]});
    if (r == 7) row.resize(row.size() - 2);  // the eight rows read as one list
    sink.Add(matrix, TElement::Text({}, row));
  }
}

// One header's element nodes, with the values whose meaning may be told once it is known which
// standard the header follows (whether an extension comes after it).
class THeaderNodes {
 public:
  explicit THeaderNodes(TTreeSink& sink) : sink_(sink) {}

  // Adds the header's group node below `parent` and one node per listed element below it, each
  // placed `base` bits into the pack, in the tree's own spelling. The group spans the elements.
  NodeId Add(NodeId parent, std::string_view name, const TElementList& elements, std::int64_t base,
             const TSequenceHeaderRec* sequence = nullptr, const TPictureHeaderRec* picture = nullptr) {
    const std::int64_t first = elements.empty() ? 0 : elements.front().BitPos;
    const std::int64_t end = elements.empty() ? 0 : elements.back().BitPos + elements.back().BitWidth;
    const NodeId header =
        sink_.Add(parent, TElement::Group(name, {}, base + first, static_cast<std::int32_t>(end - first)));
    for (std::size_t i = 0; i < elements.size(); ++i) {
      TElement e = elements[i];
      e.BitPos += base;
      // The closing extra_bit_picture has never been shown.
      if (e.Name == "extra_bit_picture" && e.Form == TElementForm::Decimal) continue;
      std::string note;
      if (e.Name == "time_code") {
        note = TimeCodeToStr(static_cast<std::uint32_t>(e.Value));
        e.As(TElementForm::Noted).Noted(note);
      } else if (e.Name == "extra_information_picture" && picture != nullptr) {
        // "$12, $AB, " and the width of one byte, as the line has always read.
        note = "extra_information_picture = ";
        for (std::int32_t k = 0; k < picture->StoredExtraCount(); ++k)
          note += "$" + HexUpper(picture->extra_information_picture[static_cast<std::size_t>(k)], 2) + ", ";
        note += " (8 bits)";
        e.Noted(note);
      } else if (e.Name == "frame_pred_frame_dct") {
        e.Labelled("frame_pred_frame_dtc");  // the label has always read "dtc"; users search the tree for it
      } else if (e.Name == "frame_rate_extension_n" || e.Name == "frame_rate_extension_d") {
        e.In(TWidthUnit::Bit);  // these two have always read "bit", not "bits"
      }
      if (e.Kind == TElementKind::Group && sequence != nullptr) {
        const bool intra = e.Name == "intra_quantiser_matrix";
        e.Labelled(intra ? "intra_quantiser_matrix (64 x 8 bits)" : "non_intra_quantiser_matrix (64 x 8 bits)");
        AddMatrixRows(sink_, sink_.Add(header, e),
                      intra ? sequence->intra_quantiser_matrix : sequence->non_intra_quantiser_matrix);
        continue;
      }
      const NodeId id = sink_.Add(header, e);
      if (e.Kind == TElementKind::Field && e.HasValue && e.Form == TElementForm::Decimal)
        fields_.push_back({id, e.Name, e.Value});
    }
    return header;
  }
  // Gives every field node whose value the standard names its meaning.
  void ExplainValues(TCodingStandard standard) {
    for (const TField& field : fields_) {
      const std::string meaning = CodedValueMeaning(field.Name, field.Value, standard);
      if (!meaning.empty()) sink_.SetMeaning(field.Id, meaning);
    }
    fields_.clear();
  }

 private:
  struct TField {
    NodeId Id;
    std::string_view Name;  // a string literal
    std::int64_t Value;
  };
  TTreeSink& sink_;
  std::vector<TField> fields_;
};

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
  TElementList elements;
  Parse_sequence_header(reader, sh, h, &elements);

  THeaderNodes nodes(sink);
  const NodeId sequence = sink.Add(TTreeSink::kRoot, TElement::Group("sequence", "Sequence"));
  nodes.Add(sequence, "sequence_header", elements, 0, &sh);

  std::int32_t at = 0;
  const bool extended = FindAfterHeader(reader, pack, shown, h, kExtensionStartCode, at);
  nodes.ExplainValues(extended ? TCodingStandard::Mpeg2 : TCodingStandard::Mpeg1);
  if (!extended) return;
  elements.clear();
  Parse_sequence_extension(reader, rec.SequenceExtension, &elements);
  nodes.Add(sequence, "sequence_extension", elements, std::int64_t{h} * 8);
  nodes.ExplainValues(TCodingStandard::Mpeg2);
}

void GroupTree(TBitStream3& reader, const std::uint8_t* pack, std::int32_t shown, TPackRec& rec, TTreeSink& sink) {
  if (reader.SetData(pack, shown + 1) != S_OK) return;
  TElementList elements;
  Parse_GOP_header(reader, rec.GOPHeader, &elements);

  const NodeId group = sink.Add(TTreeSink::kRoot, TElement::Group("group_of_pictures", "Group Of Pictures"));
  THeaderNodes(sink).Add(group, "group_of_pictures_header", elements, 0);

  std::int32_t at = 0;
  if (shown > 8 && FindAfterHeader(reader, pack, shown, 8, kUserDataStartCode, at))
    sink.Add(group, TElement::Group("user_data", {}, std::int64_t{at} * 8, 32));
}

void PictureTree(TBitStream3& reader, const std::uint8_t* pack, std::int32_t shown, TPackRec& rec, TTreeSink& sink) {
  auto& ph = rec.PictureHeader;
  if (reader.SetData(pack, shown + 1) != S_OK) return;
  TElementList elements;
  Parse_picture_header(reader, ph, &elements);
  const std::int32_t h = PictureHeaderLength(ph);

  THeaderNodes nodes(sink);
  const NodeId picture = sink.Add(TTreeSink::kRoot, TElement::Group("picture", "Picture"));
  nodes.Add(picture, "picture_header", elements, 0, nullptr, &ph);

  std::int32_t at = 0;
  const bool extended = FindAfterHeader(reader, pack, shown, h, kExtensionStartCode, at);
  nodes.ExplainValues(extended ? TCodingStandard::Mpeg2 : TCodingStandard::Mpeg1);
  if (!extended) return;
  elements.clear();
  Parse_picture_coding_extension(reader, rec.PictureCodingExtension, &elements);
  nodes.Add(picture, "picture_coding_extension", elements, std::int64_t{h} * 8);
  nodes.ExplainValues(TCodingStandard::Mpeg2);
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
