#include <gtest/gtest.h>

#include <vector>

#include "BrowseTestFiles.h"
#include "syntax/ByteWindowReader.h"
#include "syntax/CodeTables.h"
#include "syntax/HeaderParsers.h"

namespace varlow {
namespace {

using BitWriter = test::TBitWriter;

std::vector<std::uint8_t> SequenceHeader(bool intra, bool nonIntra) {
  BitWriter w;
  w.Put(0x000001B3, 32);
  w.Put(720, 12);
  w.Put(576, 12);
  w.Put(2, 4);
  w.Put(3, 4);
  w.Put(0x3FFFF, 18);
  w.Put(1, 1);
  w.Put(112, 10);
  w.Put(0, 1);
  w.Put(intra, 1);
  if (intra)
    for (int i = 0; i < 64; ++i) w.Put(static_cast<std::uint32_t>(100 + i), 8);
  w.Put(nonIntra, 1);
  if (nonIntra)
    for (int i = 0; i < 64; ++i) w.Put(static_cast<std::uint32_t>(200 - i), 8);
  return w.Bytes(8);
}

TEST(SequenceHeader, FieldsAndLengthWithAndWithoutMatrices) {
  struct Case {
    bool intra, nonIntra;
    std::int32_t length;
  } cases[] = {{false, false, 12}, {true, false, 76}, {false, true, 76}, {true, true, 140}};
  for (const auto& c : cases) {
    const auto bytes = SequenceHeader(c.intra, c.nonIntra);
    TBitStream3 r;
    ASSERT_EQ(r.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size())), S_OK);
    TSequenceHeaderRec rec{};
    std::int32_t length = 0;
    ASSERT_TRUE(Parse_sequence_header(r, rec, length));
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(rec.sequence_header_code, 0x1B3u);
    EXPECT_EQ(rec.horizontal_size_value, 720u);
    EXPECT_EQ(rec.vertical_size_value, 576u);
    EXPECT_EQ(rec.aspect_ratio_information, 2u);
    EXPECT_EQ(rec.frame_rate_code, 3u);
    EXPECT_EQ(rec.bit_rate_value, 0x3FFFFu);
    EXPECT_EQ(rec.marker_bit, 1u);
    EXPECT_EQ(rec.vbv_buffer_size_value, 112u);
    EXPECT_EQ(rec.load_intra_quantiser_matrix, c.intra ? 1u : 0u);
    EXPECT_EQ(rec.load_non_intra_quantiser_matrix, c.nonIntra ? 1u : 0u);
    // Matrices stay in transmission order; one not loaded stays zero.
    EXPECT_EQ(rec.intra_quantiser_matrix[0], c.intra ? 100 : 0);
    EXPECT_EQ(rec.intra_quantiser_matrix[63], c.intra ? 163 : 0);
    EXPECT_EQ(rec.non_intra_quantiser_matrix[0], c.nonIntra ? 200 : 0);
    EXPECT_EQ(rec.non_intra_quantiser_matrix[63], c.nonIntra ? 137 : 0);
    EXPECT_EQ(r.BitPos(), c.length * 8);
    EXPECT_FALSE(r.Error());
  }
}

TEST(SequenceHeader, CutShortGivesZeroFieldsAndStillCompletes) {
  auto bytes = SequenceHeader(true, true);
  TBitStream3 r;
  ASSERT_EQ(r.SetData(bytes.data(), 10), S_OK);  // code and size fields only
  TSequenceHeaderRec rec{};
  std::int32_t length = 0;
  EXPECT_TRUE(Parse_sequence_header(r, rec, length));
  EXPECT_EQ(rec.horizontal_size_value, 720u);
  EXPECT_EQ(rec.bit_rate_value, 0u);
  EXPECT_EQ(rec.load_intra_quantiser_matrix, 1u);  // ReadBit still has a byte
  EXPECT_TRUE(r.Error());
}

TEST(SequenceExtension, AllFieldsWithTheLastTwoBytesPeeked) {
  BitWriter w;
  w.Put(0x000001B5, 32);
  w.Put(1, 4);
  w.Put(0x48, 8);
  w.Put(1, 1);
  w.Put(2, 2);
  w.Put(3, 2);
  w.Put(1, 2);
  w.Put(0xABC, 12);
  w.Put(1, 1);
  w.Put(0x5A, 8);
  w.Put(1, 1);
  w.Put(2, 2);
  w.Put(17, 5);
  const auto bytes = w.Bytes(1);  // the peek needs one byte beyond the header
  TBitStream3 r;
  ASSERT_EQ(r.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size())), S_OK);
  TSequenceExtensionRec rec{};
  ASSERT_TRUE(Parse_sequence_extension(r, rec));
  EXPECT_EQ(rec.extension_start_code, 0x1B5u);
  EXPECT_EQ(rec.extension_start_code_identifier, 1);
  EXPECT_EQ(rec.profile_and_level_indication, 72);
  EXPECT_EQ(rec.progressive_sequence, 1);
  EXPECT_EQ(rec.chroma_format, 2);
  EXPECT_EQ(rec.horizontal_size_extension, 3);
  EXPECT_EQ(rec.vertical_size_extension, 1);
  EXPECT_EQ(rec.bit_rate_extension, 0xABC);
  EXPECT_EQ(rec.marker_bit, 1);
  EXPECT_EQ(rec.vbv_buffer_size_extension, 0x5A);
  EXPECT_EQ(rec.low_delay, 1);
  EXPECT_EQ(rec.frame_rate_extension_n, 2);
  EXPECT_EQ(rec.frame_rate_extension_d, 17);
  EXPECT_EQ(r.BytePos(), 8);
  EXPECT_FALSE(r.Error());
}

TEST(GOPHeader, TimeCodeAndFlags) {
  BitWriter w;
  w.Put(0x000001B8, 32);
  w.Put(0x850C4, 25);  // hours 1, minutes 2, marker, seconds 3, pictures 4
  w.Put(1, 1);
  w.Put(0, 1);
  const auto bytes = w.Bytes(8);
  TBitStream3 r;
  ASSERT_EQ(r.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size())), S_OK);
  TGOPHeaderRec rec{};
  ASSERT_TRUE(Parse_GOP_header(r, rec));
  EXPECT_EQ(rec.group_start_code, 0x1B8u);
  EXPECT_EQ(rec.time_code, 0x850C4u);
  EXPECT_EQ(rec.closed_gop, 1);
  EXPECT_EQ(rec.broken_link, 0);
}

TEST(TimeCode, TextShowsHoursMinutesSecondsPictures) {
  EXPECT_EQ(TimeCodeToStr(0x850C4), "01:02:03:04");
  EXPECT_EQ(TimeCodeToStr(0), "00:00:00:00");
  // drop_frame_flag and marker bit are not shown; every field at its maximum.
  EXPECT_EQ(TimeCodeToStr(0x1FFFFFF), "31:63:63:63");
  EXPECT_EQ(TimeCodeToStr((23u << 19) | (59u << 13) | (1u << 12) | (59u << 6) | 24u), "23:59:59:24");
}

std::vector<std::uint8_t> PictureHeader(int type, const std::vector<std::uint8_t>& extra, std::size_t padding = 8) {
  BitWriter w;
  w.Put(0x00000100, 32);
  w.Put(517, 10);
  w.Put(static_cast<std::uint32_t>(type), 3);
  w.Put(0x1234, 16);
  if (type == 2 || type == 3) {
    w.Put(1, 1);
    w.Put(5, 3);
  }
  if (type == 3) {
    w.Put(0, 1);
    w.Put(6, 3);
  }
  for (auto b : extra) {
    w.Put(1, 1);
    w.Put(b, 8);
  }
  w.Put(0, 1);
  return w.Bytes(padding);
}

TEST(PictureHeader, VectorsReadOnlyForPAndBPictures) {
  for (int type : {1, 2, 3, 4}) {
    const auto bytes = PictureHeader(type, {});
    TBitStream3 r;
    ASSERT_EQ(r.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size())), S_OK);
    TPictureHeaderRec rec{};
    rec.full_pel_forward_vector = rec.forward_f_code = rec.full_pel_backward_vector = rec.backward_f_code = 9;
    ASSERT_TRUE(Parse_picture_header(r, rec));
    EXPECT_EQ(rec.temporal_reference, 517);
    EXPECT_EQ(rec.picture_coding_type, type);
    EXPECT_EQ(rec.vbv_delay, 0x1234);
    const bool forward = type == 2 || type == 3, backward = type == 3;
    EXPECT_EQ(rec.full_pel_forward_vector, forward ? 1 : 9);  // untouched when absent
    EXPECT_EQ(rec.forward_f_code, forward ? 5 : 9);
    EXPECT_EQ(rec.full_pel_backward_vector, backward ? 0 : 9);
    EXPECT_EQ(rec.backward_f_code, backward ? 6 : 9);
    EXPECT_EQ(rec.extra_count, 0);
  }
}

TEST(PictureHeader, LengthRoundsToNearestWithHalvesToEven) {
  TPictureHeaderRec rec{};
  rec.picture_coding_type = 1;
  EXPECT_EQ(PictureHeaderLength(rec), 8);  // 62 bits
  rec.picture_coding_type = 2;
  EXPECT_EQ(PictureHeaderLength(rec), 8);  // 66 bits
  rec.picture_coding_type = 3;
  EXPECT_EQ(PictureHeaderLength(rec), 9);  // 70 bits
  rec.picture_coding_type = 1;
  rec.extra_count = 3;
  EXPECT_EQ(PictureHeaderLength(rec), 11);  // 89 bits
  rec.extra_count = 6;
  EXPECT_EQ(PictureHeaderLength(rec), 14);  // 116 bits = 14.5: the even neighbour
  rec.extra_count = 14;
  EXPECT_EQ(PictureHeaderLength(rec), 24);  // 188 bits = 23.5
}

TEST(PictureHeader, ExtraInformationBytes) {
  const auto bytes = PictureHeader(1, {0x12, 0xAB, 0xFF});
  TBitStream3 r;
  ASSERT_EQ(r.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size())), S_OK);
  TPictureHeaderRec rec{};
  ASSERT_TRUE(Parse_picture_header(r, rec));
  ASSERT_EQ(rec.extra_count, 3);
  EXPECT_EQ(rec.extra_information_picture[0], 0x12);
  EXPECT_EQ(rec.extra_information_picture[1], 0xAB);
  EXPECT_EQ(rec.extra_information_picture[2], 0xFF);
  EXPECT_EQ(rec.extra_bit_picture_flags[2], 1);
  EXPECT_EQ(rec.extra_bit_picture, 0);
  EXPECT_EQ(PictureHeaderLength(rec), 11);
  EXPECT_EQ(r.BitPos(), 62 + 27);
}

// More bytes than the record holds: all are consumed and counted, the first 1024 kept.
TEST(PictureHeader, MoreThan1024ExtraBytesAreCountedNotOverflowed) {
  std::vector<std::uint8_t> extra(1500);
  for (std::size_t i = 0; i < extra.size(); ++i) extra[i] = static_cast<std::uint8_t>(i * 7);
  const auto bytes = PictureHeader(3, extra);
  TBitStream3 r;
  ASSERT_EQ(r.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size())), S_OK);
  TPictureHeaderRec rec{};
  ASSERT_TRUE(Parse_picture_header(r, rec));
  EXPECT_EQ(rec.extra_count, 1500);
  EXPECT_EQ(rec.StoredExtraCount(), 1024);
  EXPECT_EQ(rec.extra_information_picture[1023], static_cast<std::uint8_t>(1023 * 7));
  EXPECT_EQ(r.BitPos(), 70 + 9 * 1500);  // the reader stands after the closing bit
  EXPECT_EQ(PictureHeaderLength(rec), (70 + 9 * 1500 + 4) / 8);
}

// The extra-byte loop ends on a shortage: NextBit needs the full window.
TEST(PictureHeader, ExtraBytesRunningIntoTheEndOfTheBlock) {
  const auto bytes = PictureHeader(1, std::vector<std::uint8_t>(10, 0xFF), 0);
  TBitStream3 r;
  ASSERT_EQ(r.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size())), S_OK);
  TPictureHeaderRec rec{};
  ASSERT_TRUE(Parse_picture_header(r, rec));
  EXPECT_LT(rec.extra_count, 10);
  EXPECT_TRUE(r.Error());
}

TEST(PictureCodingExtension, FieldsWithAndWithoutCompositeDisplay) {
  for (int composite : {0, 1}) {
    BitWriter w;
    w.Put(0x000001B5, 32);
    w.Put(8, 4);
    w.Put(1, 4);
    w.Put(2, 4);
    w.Put(3, 4);
    w.Put(15, 4);
    w.Put(2, 2);  // intra_dc_precision
    w.Put(3, 2);  // picture_structure
    w.Put(0b10101010, 8);  // top_field_first .. chroma_420_type
    w.Put(1, 1);  // progressive_frame
    w.Put(static_cast<std::uint32_t>(composite), 1);
    if (composite) {
      w.Put(1, 1);
      w.Put(5, 3);
      w.Put(0, 1);
      w.Put(99, 7);
      w.Put(200, 8);
    }
    const auto bytes = w.Bytes(8);
    TBitStream3 r;
    ASSERT_EQ(r.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size())), S_OK);
    TPictureCodingExtensionRec rec{};
    ASSERT_TRUE(Parse_picture_coding_extension(r, rec));
    EXPECT_EQ(rec.extension_start_code_identifier, 8);
    EXPECT_EQ(rec.f_code[0][0], 1);
    EXPECT_EQ(rec.f_code[0][1], 2);
    EXPECT_EQ(rec.f_code[1][0], 3);
    EXPECT_EQ(rec.f_code[1][1], 15);
    EXPECT_EQ(rec.intra_dc_precision, 2);
    EXPECT_EQ(rec.picture_structure, 3);
    EXPECT_EQ(rec.top_field_first, 1);
    EXPECT_EQ(rec.frame_pred_frame_dct, 0);
    EXPECT_EQ(rec.concealment_motion_vectors, 1);
    EXPECT_EQ(rec.chroma_420_type, 0);
    EXPECT_EQ(rec.progressive_frame, 1);
    EXPECT_EQ(rec.composite_display_flag, composite);
    EXPECT_EQ(rec.v_axis, composite ? 1 : 0);
    EXPECT_EQ(rec.field_sequence, composite ? 5 : 0);
    EXPECT_EQ(rec.burst_amplitude, composite ? 99 : 0);
    EXPECT_EQ(rec.sub_carrier_phase, composite ? 200 : 0);
    EXPECT_EQ(r.BitPos(), composite ? 86 : 66);
  }
}

// The readers list every element they read, in order and back to back: the list is what the
// header tree is made of, so its names, indices, positions and widths are the tree's.
TEST(HeaderElements, ListedInOrderWithPlacesWidthsAndIndices) {
  auto bytes = SequenceHeader(true, false);
  TBitStream3 r;
  ASSERT_EQ(r.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size())), S_OK);
  TSequenceHeaderRec rec{};
  std::int32_t length = 0;
  TElementList elements;
  ASSERT_TRUE(Parse_sequence_header(r, rec, length, &elements));
  ASSERT_EQ(elements.size(), 12u);
  std::int64_t bit = 0;
  for (const TElement& e : elements) {
    EXPECT_EQ(e.BitPos, bit) << e.Name;
    bit += e.BitWidth;
  }
  EXPECT_EQ(bit, std::int64_t{length} * 8);
  EXPECT_EQ(elements[1].Name, "horizontal_size_value");
  EXPECT_EQ(elements[1].Value, 720);
  EXPECT_EQ(elements[0].Form, TElementForm::StartCode);
  EXPECT_EQ(elements[10].Name, "intra_quantiser_matrix");
  EXPECT_EQ(elements[10].Kind, TElementKind::Group);
  EXPECT_EQ(elements[10].BitWidth, 512);

  // Cut short: every element still listed at its place, zeros where the data ran out.
  ASSERT_EQ(r.SetData(bytes.data(), 10), S_OK);
  elements.clear();
  Parse_sequence_header(r, rec, length, &elements);
  ASSERT_GE(elements.size(), 12u);  // the load flags read after the shortage decide the matrices
  EXPECT_EQ(elements[5].Name, "bit_rate_value");
  EXPECT_EQ(elements[5].BitPos, 64);
  EXPECT_EQ(elements[5].Value, 0);

  BitWriter w;
  w.Put(0x000001B5, 32);
  w.Put(8, 4);
  for (std::uint32_t f : {1u, 2u, 3u, 15u}) w.Put(f, 4);
  w.Put(0, 4);
  w.Put(0b01000000, 8);  // frame_pred_frame_dct set
  w.Put(0, 2);
  auto extension = w.Bytes(8);
  ASSERT_EQ(r.SetData(extension.data(), static_cast<std::int32_t>(extension.size())), S_OK);
  TPictureCodingExtensionRec pce{};
  elements.clear();
  ASSERT_TRUE(Parse_picture_coding_extension(r, pce, &elements));
  ASSERT_EQ(elements.size(), 18u);
  EXPECT_EQ(ElementName(elements[4]), "f_code[1][0]");
  EXPECT_EQ(elements[4].Value, 3);
  EXPECT_EQ(elements[4].BitPos, 44);
  EXPECT_EQ(elements[9].Name, "frame_pred_frame_dct");
  EXPECT_EQ(elements[9].Value, 1);
  EXPECT_EQ(elements.back().BitPos + elements.back().BitWidth, 66);
}

// The unchecked window reader of the hot paths reads the same records as the checked reader,
// and zeros past its sixteen bytes.
TEST(HeaderElements, WindowReaderReadsWhatTheCheckedReaderReads) {
  BitWriter w;
  w.Put(0x00000100, 32);
  w.Put(517, 10);
  w.Put(3, 3);
  w.Put(0xBEEF, 16);
  w.Put(1, 1);
  w.Put(5, 3);
  w.Put(0, 1);
  w.Put(6, 3);
  w.Put(0, 1);
  const auto bytes = w.Bytes(16);
  TBitStream3 checked;
  ASSERT_EQ(checked.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size())), S_OK);
  TPictureHeaderRec a{}, b{};
  TElementList listed;
  ReadPictureHeader(checked, a, &listed);
  TByteWindowReader window(bytes.data(), bytes.size());
  ReadPictureHeader(window, b, nullptr);
  EXPECT_EQ(b.temporal_reference, 517);
  EXPECT_EQ(b.vbv_delay, 0xBEEF);
  EXPECT_EQ(b.backward_f_code, 6);
  EXPECT_EQ(a.temporal_reference, b.temporal_reference);
  EXPECT_EQ(a.forward_f_code, b.forward_f_code);
  EXPECT_EQ(a.backward_f_code, b.backward_f_code);
  EXPECT_EQ(b.extra_count, 0);
  EXPECT_EQ(window.BitPos(), listed.back().BitPos + 1);

  const std::uint8_t ones[20] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  TByteWindowReader edge(ones, sizeof ones);
  edge.ReadBits(32);
  edge.ReadBits(32);
  edge.ReadBits(30);
  EXPECT_EQ(edge.ReadBits(32), 0xFFFFFFFFu);  // across the two halves of the window
  EXPECT_EQ(edge.ReadBits(4), 0xCu);          // two bits left, then zeros
  EXPECT_EQ(edge.NextBit(), 0u);
}

// A quant matrix extension loading the second and fourth matrices: each value read across the
// byte boundary the flags leave, each matrix listed as one 512-bit element after its flag.
TEST(HeaderElements, QuantMatrixExtensionWithSomeMatrices) {
  BitWriter w;
  w.Put(0x000001B5, 32);
  w.Put(3, 4);
  w.Put(0, 1);
  w.Put(1, 1);
  for (int i = 0; i < 64; ++i) w.Put(static_cast<std::uint32_t>(16 + i), 8);
  w.Put(0, 1);
  w.Put(1, 1);
  for (int i = 0; i < 64; ++i) w.Put(static_cast<std::uint32_t>(255 - i), 8);
  const auto bytes = w.Bytes(8);
  TBitStream3 r;
  ASSERT_EQ(r.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size())), S_OK);
  TQuantMatrixExtensionRec rec;
  TElementList elements;
  ReadQuantMatrixExtension(r, rec, &elements);
  EXPECT_FALSE(r.Error());
  EXPECT_EQ(rec.extension_start_code_identifier, 3);
  EXPECT_EQ(rec.load_intra_quantiser_matrix, 0);
  EXPECT_EQ(rec.load_non_intra_quantiser_matrix, 1);
  EXPECT_EQ(rec.non_intra_quantiser_matrix[0], 16);
  EXPECT_EQ(rec.non_intra_quantiser_matrix[63], 79);
  EXPECT_EQ(rec.load_chroma_non_intra_quantiser_matrix, 1);
  EXPECT_EQ(rec.chroma_non_intra_quantiser_matrix[63], 192);
  EXPECT_EQ(rec.chroma_intra_quantiser_matrix[0], 0);
  ASSERT_EQ(elements.size(), 8u);
  EXPECT_EQ(elements[4].Name, "non_intra_quantiser_matrix");
  EXPECT_EQ(elements[4].BitPos, 38);
  EXPECT_EQ(elements[7].Name, "chroma_non_intra_quantiser_matrix");
  EXPECT_EQ(elements[7].BitPos + elements[7].BitWidth, 38 + 512 + 2 + 512);
}

// The slice header's optional parts: the vertical position extension of tall pictures and the
// intra_slice fields with their extra bytes.
TEST(HeaderElements, SliceHeaderWithExtensionAndExtraBytes) {
  BitWriter w;
  w.Put(0x00000105, 32);
  w.Put(2, 3);   // slice_vertical_position_extension
  w.Put(17, 5);  // quantiser_scale_code
  w.Put(1, 1);   // intra_slice_flag
  w.Put(1, 1);   // intra_slice
  w.Put(0, 7);   // reserved_bits
  w.Put(1, 1);
  w.Put(0xAB, 8);
  w.Put(0, 1);
  const auto bytes = w.Bytes(8);
  TBitStream3 r;
  ASSERT_EQ(r.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size())), S_OK);
  TSliceHeaderRec rec;
  TElementList elements;
  ReadSliceHeader(r, rec, 2880, &elements);
  EXPECT_EQ(rec.slice_start_code, 0x105u);
  EXPECT_EQ(rec.slice_vertical_position_extension, 2);
  EXPECT_EQ(rec.quantiser_scale_code, 17);
  EXPECT_EQ(rec.intra_slice, 1);
  EXPECT_EQ(rec.extra_count, 1);
  ASSERT_EQ(elements.size(), 9u);
  EXPECT_EQ(elements[7].Name, "extra_information_slice");
  EXPECT_EQ(elements[7].Value, 0xAB);
  EXPECT_EQ(elements.back().BitPos, 32 + 3 + 5 + 9 + 9);
  // Up to 2800 lines: no extension.
  ASSERT_EQ(r.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size())), S_OK);
  TSliceHeaderRec shorter;
  ReadSliceHeader(r, shorter, 2800, nullptr);
  EXPECT_EQ(shorter.slice_vertical_position_extension, -1);
  EXPECT_EQ(shorter.quantiser_scale_code, (2 << 2) | (17 >> 3));
}

TEST(NextStartCode, NeedsFiveBytesAndPassesOverOtherCodes) {
  const std::uint8_t exact[] = {0x00, 0x00, 0x01, 0xB5, 0x00};
  TBitStream3 r;
  ASSERT_EQ(r.SetData(exact, 4), S_OK);
  EXPECT_FALSE(next_start_codeBS(r, 0x1B5));
  ASSERT_EQ(r.SetData(exact, 5), S_OK);
  EXPECT_TRUE(next_start_codeBS(r, 0x1B5));
  EXPECT_EQ(r.BytePos(), 0);

  const std::uint8_t mixed[] = {0xFF, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0xB2, 0x00, 0x00, 0x01, 0xB5, 0x00};
  ASSERT_EQ(r.SetData(mixed, sizeof mixed), S_OK);
  r.ReadBit();  // the search byte-aligns first
  EXPECT_TRUE(next_start_codeBS(r, 0x1B5));
  EXPECT_EQ(r.BytePos(), 9);
  EXPECT_EQ(r.ReadAligned32Bit(), 0x1B5u);

  // A search for the picture code over zeros must not mistake a shortage (which reads 0) for it.
  const std::uint8_t zeros[] = {0x00, 0x00, 0x00};
  ASSERT_EQ(r.SetData(zeros, 3), S_OK);
  EXPECT_FALSE(next_start_codeBS(r, 0x100));
}

TEST(CodeTables, CodingTypeNames) {
  EXPECT_STREQ(CodingTypeName(1), "I");
  EXPECT_STREQ(CodingTypeName(2), "P");
  EXPECT_STREQ(CodingTypeName(3), "B");
  for (std::uint32_t t : {0u, 4u, 5u, 7u, 255u}) EXPECT_STREQ(CodingTypeName(t), "Unknown");
}

TEST(CodeTables, FrameRates) {
  EXPECT_DOUBLE_EQ(FrameRateFromCode(1), 24000.0 / 1001.0);
  EXPECT_DOUBLE_EQ(FrameRateFromCode(3), 25.0);
  EXPECT_DOUBLE_EQ(FrameRateFromCode(4), 29.97002997002997);
  EXPECT_DOUBLE_EQ(FrameRateFromCode(7), 59.94005994005994);
  EXPECT_DOUBLE_EQ(FrameRateFromCode(8), 60.0);
  for (std::uint32_t c : {0u, 9u, 15u}) EXPECT_EQ(FrameRateFromCode(c), 0.0);
}

} // namespace
} // namespace varlow
