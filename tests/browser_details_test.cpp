#include <gtest/gtest.h>

#include "BrowseTestFiles.h"
#include "TestStreams.h"
#include "browser/PackDetails.h"
#include "support/Log.h"
#include "support/MemoryTree.h"

namespace varlow {
namespace {

using test::Code;
using test::Filler;
using test::operator+;
using test::TTempStreamFile;

std::vector<std::string> Dump(const std::vector<std::uint8_t>& bytes, std::int64_t offset) {
  std::vector<std::string> lines;
  EXPECT_TRUE(MemToStrLines2(bytes.data(), static_cast<std::int32_t>(bytes.size()), &lines, offset));
  return lines;
}

TEST(HexDump, SequenceEndPackIsOneLine) {
  const auto lines = Dump(Code(0xB7), 0x1A2F0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "0001A2F0   00 00 01 B7 " + std::string(60 - 23, ' ') + "...\xB7");
  // Displayed: 00 and 01 as ".", B7 as the code page 1251 middle dot.
  EXPECT_EQ(Cp1251ToUtf8(lines[0].substr(60)), "...\xC2\xB7");
}

TEST(HexDump, LineBreaksAndTextColumn) {
  std::vector<std::uint8_t> bytes(17);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(0x10 + i);
  const auto lines = Dump(bytes, 0);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), 76u);
  EXPECT_EQ(lines[0].substr(0, 59), "00000000   10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F ");
  // 0x10..0x13 show as ".", 0x14 and above as themselves (0x1F included).
  EXPECT_EQ(lines[0].substr(60), "....\x14\x15\x16\x17\x18\x19\x1A\x1B\x1C\x1D\x1E\x1F");
  EXPECT_EQ(lines[1], "00000010   20 " + std::string(60 - 14, ' ') + " ");
  EXPECT_EQ(lines[1].size(), 61u);
}

TEST(HexDump, OffsetsOfNineAndTenDigits) {
  const std::vector<std::uint8_t> bytes(16, 0x41);
  const auto nine = Dump(bytes, 0x123456780LL);
  EXPECT_EQ(nine[0].find("AAAA"), 60u);  // 9 + 3 + 48 = 60: no padding needed
  const auto ten = Dump(bytes, 0x1234567800LL);
  EXPECT_EQ(ten[0].find("AAAA"), 61u);  // one character longer, not cut
}

TEST(HexDump, RefusesNothingToDump) {
  std::vector<std::string> lines;
  const std::uint8_t b = 0;
  EXPECT_FALSE(MemToStrLines2(&b, 0, &lines, 0));
  EXPECT_FALSE(MemToStrLines2(nullptr, 4, &lines, 0));
  EXPECT_FALSE(MemToStrLines2(&b, 1, nullptr, 0));
  EXPECT_TRUE(lines.empty());
}

TEST(HexDump, DisplayCharactersAndCodePage1251) {
  EXPECT_EQ(DisplayChar(0x00), '.');
  EXPECT_EQ(DisplayChar(0x13), '.');
  EXPECT_EQ(DisplayChar(0x14), '\x14');
  EXPECT_EQ(DisplayChar(0x7F), '\x7F');
  EXPECT_EQ(DisplayChar(0xFF), '\xFF');
  EXPECT_EQ(Cp1251ToUtf8("A\xC0\xFF\x88\xB9"), "A\xD0\x90\xD1\x8F\xE2\x82\xAC\xE2\x84\x96");  // A А я € №
  EXPECT_EQ(Cp1251ToUtf8("\x98"), "\xC2\x98");  // unassigned in 1251: kept as U+0098
}

// Reads one pack of a crafted file.
struct Shown {
  TMemoryTree tree;
  TPackDetails details;
};

Shown Show(const std::vector<std::uint8_t>& bytes, std::int64_t offset = 0) {
  TTempStreamFile file("pack", bytes);
  auto index = file.Index(10);
  Shown s;
  EXPECT_TRUE(UpdatePack(*index, offset, s.tree, s.details));
  return s;
}

TEST(PackDetails, DumpLengthsAroundTheLimit) {
  const auto p1600 = Show(Code(0xB8) + Filler(1596) + Code(0xB7));
  EXPECT_EQ(p1600.details.Pack.Length, 1600);
  EXPECT_EQ(p1600.details.HexLines.size(), 100u);
  const auto p1601 = Show(Code(0xB8) + Filler(1597) + Code(0xB7));
  ASSERT_EQ(p1601.details.HexLines.size(), 101u);
  EXPECT_EQ(p1601.details.HexLines.back(), "...");
  const auto end = Show(Code(0xB7) + Code(0xB3));
  EXPECT_EQ(end.details.HexLines.size(), 1u);
  EXPECT_EQ(end.tree.Size(), 0u);  // a sequence end has no tree
}

TEST(PackDetails, PackLongerThanTheReadIsCut) {
  const auto s = Show(Code(0x00) + Filler(3 << 20) + Code(0xB7));
  EXPECT_EQ(s.details.Pack.Length, kSearchReadSize);
}

TEST(PackDetails, SequenceTreeOfTheSample) {
  TPackIndex index;
  index.SetStream(TByteSource::OpenPlain(test::SampleStream(), TFileStream::Mode::ReadOnly));
  TMemoryTree tree;
  TPackDetails details;
  ASSERT_TRUE(UpdatePack(index, 0, tree, details));
  EXPECT_EQ(tree.ToText(),
            "Sequence\n"
            "  sequence_header\n"
            "    sequence_header_code = $000001B3 (32 bits)\n"
            "    horizontal_size_value = 352 (12 bits)\n"
            "    vertical_size_value = 288 (12 bits)\n"
            "    aspect_ratio_information = 1 (4 bits)\n"
            "    frame_rate_code = 3 (4 bits)\n"
            "    bit_rate_value = 15000 (18 bits)\n"
            "    marker_bit = 1 (1 bit)\n"
            "    vbv_buffer_size_value = 112 (10 bits)\n"
            "    constrained_parameters_flag = 0 (1 bit)\n"
            "    load_intra_quantiser_matrix = 0 (1 bit)\n"
            "    load_non_intra_quantiser_matrix = 0 (1 bit)\n"
            "  sequence_extension\n"
            "    extension_start_code = $000001B5 (32 bits)\n"
            "    extension_start_code_identifier = 1 (4 bits)\n"
            "    profile_and_level_indication = 72 (8 bits)\n"
            "    progressive_sequence = 0 (1 bit)\n"
            "    chroma_format = 1 (2 bits)\n"
            "    horizontal_size_extension = 0 (2 bits)\n"
            "    vertical_size_extension = 0 (2 bits)\n"
            "    bit_rate_extension = 0 (12 bits)\n"
            "    marker_bit = 1 (1 bit)\n"
            "    vbv_buffer_size_extension = 0 (8 bits)\n"
            "    low_delay = 0 (1 bit)\n"
            "    frame_rate_extension_n = 0 (2 bit)\n"
            "    frame_rate_extension_d = 0 (5 bit)\n");
  const auto ext = tree.FindAll("sequence_extension");
  ASSERT_EQ(ext.size(), 1u);
  EXPECT_EQ(tree.At(ext[0]).bitPos, 12 * 8);
  const auto fr = tree.FindPrefix("frame_rate_extension_d");
  EXPECT_EQ(tree.At(fr[0]).bitPos, 12 * 8 + 75);
  EXPECT_EQ(tree.At(fr[0]).bitWidth, 5);
}

TEST(PackDetails, MatrixRowsInRasterOrder) {
  // Intra matrix values 1..64 in transmission order; non-intra all 16.
  test::TBitWriter w;
  w.Put(0x1B3, 32).Put(352, 12).Put(288, 12).Put(1, 4).Put(3, 4).Put(15000, 18).Put(1, 1).Put(112, 10).Put(0, 1);
  w.Put(1, 1);
  for (std::uint32_t i = 1; i <= 64; ++i) w.Put(i, 8);
  w.Put(1, 1);
  for (int i = 0; i < 64; ++i) w.Put(16, 8);
  const auto s = Show(w.Bytes() + Code(0xB8) + Filler(4));
  EXPECT_EQ(s.details.Pack.SequenceHeader.load_intra_quantiser_matrix, 1u);
  const auto intra = s.tree.FindAll("intra_quantiser_matrix (64 x 8 bits)");
  ASSERT_EQ(intra.size(), 1u);
  const auto& rows = s.tree.At(intra[0]).children;
  ASSERT_EQ(rows.size(), 8u);
  // Raster row 0 holds scan positions 0, 1, 5, 6, 14, 15, 27, 28 (values = scan index + 1).
  EXPECT_EQ(s.tree.At(rows[0]).text, "01, 02, 06, 07, 15, 16, 28, 29, ");
  EXPECT_EQ(s.tree.At(rows[7]).text, "36, 37, 49, 50, 58, 59, 63, 64");
  const auto nonIntra = s.tree.FindAll("non_intra_quantiser_matrix (64 x 8 bits)");
  ASSERT_EQ(nonIntra.size(), 1u);
  EXPECT_EQ(s.tree.At(s.tree.At(nonIntra[0]).children[7]).text, "16, 16, 16, 16, 16, 16, 16, 16");
  EXPECT_EQ(s.tree.At(nonIntra[0]).bitPos, 64 + 31 + 512 + 1);  // right after its load flag
  EXPECT_EQ(s.details.Pack.Length, 140);
}

TEST(PackDetails, GroupTreeAndUserData) {
  // time_code 0x850C4 = 01:02:03:04, closed_gop 1.
  const auto bytes = test::TBitWriter().Put(0x1B8, 32).Put(0x850C4, 25).Put(1, 1).Put(0, 1).Bytes();
  const auto plain = Show(bytes + Filler(4, 0) + Code(0xB7));
  EXPECT_EQ(plain.tree.ToText(),
            "Group Of Pictures\n"
            "  group_of_pictures_header\n"
            "    group_start_code = $000001B8 (32 bits)\n"
            "    time_code = 544964 (01:02:03:04) (25 bits)\n"
            "    closed_gop = 1 (1 bit)\n"
            "    broken_link = 0 (1 bit)\n");
  const auto withUserData = Show(bytes + Code(0xB2) + Filler(5) + Code(0xB7));
  const auto user = withUserData.tree.FindAll("user_data");
  ASSERT_EQ(user.size(), 1u);
  EXPECT_EQ(withUserData.tree.At(user[0]).bitPos, 64);
}

TEST(PackDetails, PictureTreeSlicesAndExtraInformation) {
  // An I picture with two extra bytes 12 and AB, a coding extension and three slices.
  const auto header = test::TBitWriter()
                          .Put(0x100, 32).Put(3, 10).Put(1, 3).Put(0xFFFF, 16)
                          .Put(1, 1).Put(0x12, 8).Put(1, 1).Put(0xAB, 8).Put(0, 1)
                          .Bytes();
  const auto pce = test::TBitWriter()
                       .Put(0x1B5, 32).Put(8, 4).Put(0xFFFF, 16).Put(0, 2).Put(3, 2)
                       .Put(0b11000000, 8).Put(1, 1).Put(0, 1)
                       .Bytes();
  const auto s = Show(header + pce + Code(0x01) + Filler(3) + Code(0x01) + Filler(2) + Code(0x24) + Filler(2) +
                      Code(0xB7));
  const auto text = s.tree.ToText();
  EXPECT_NE(text.find("    temporal_reference = 3 (10 bits)\n"
                      "    picture_coding_type = 1 (3 bits)\n"
                      "    vbv_delay = 65535 (16 bits)\n"
                      "    extra_bit_picture - 2 x (1 bit)\n"
                      "    extra_information_picture = $12, $AB,  (8 bits)\n"
                      "  picture_coding_extension\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("forward"), std::string::npos);  // an I picture has no vector lines
  EXPECT_NE(text.find("    frame_pred_frame_dtc = 1 (1 bit)\n"), std::string::npos);
  EXPECT_NE(text.find("    intra_dc_precision = 0 (2 bits)\n"), std::string::npos);
  EXPECT_NE(text.find("    picture_structure = 3 (2 bits)\n"), std::string::npos);
  EXPECT_EQ(s.details.Slices, (std::vector<std::string>{"$00000101", "$00000101", "$00000124"}));
  // The extension lies right after the 80-bit header.
  const auto ext = s.tree.FindAll("picture_coding_extension");
  EXPECT_EQ(s.tree.At(ext[0]).bitPos, 10 * 8);
  const auto extra = s.tree.FindPrefix("extra_information_picture");
  EXPECT_EQ(s.tree.At(extra[0]).bitPos, 62);
  EXPECT_EQ(s.tree.At(extra[0]).bitWidth, 17);
}

TEST(PackDetails, BPictureShowsBothVectorPairs) {
  TPackIndex index;
  index.SetStream(TByteSource::OpenPlain(test::SampleStream(), TFileStream::Mode::ReadOnly));
  TMemoryTree tree;
  TPackDetails details;
  ASSERT_TRUE(UpdatePack(index, 0x8E0C, tree, details));  // the sample's first B picture
  EXPECT_EQ(details.Pack.PictureHeader.picture_coding_type, 3);
  for (const char* name : {"full_pel_forward_vector = ", "forward_f_code = ", "full_pel_backward_vector = ",
                           "backward_f_code = "})
    EXPECT_EQ(tree.FindPrefix(name).size(), 1u) << name;
  EXPECT_EQ(details.Slices.size(), 18u);  // 288 lines: one slice per macroblock row
  EXPECT_EQ(details.Slices.front(), "$00000101");
  EXPECT_EQ(details.Slices.back(), "$00000112");
}

TEST(PackDetails, ExtensionBeyondTheShownPartIsNotParsed) {
  const auto s = Show(Code(0xB3) + Filler(8, 0) + Filler(1600) + Code(0xB5) + Filler(10) + Code(0xB7));
  EXPECT_TRUE(s.tree.FindAll("sequence_extension").empty());
  EXPECT_FALSE(s.tree.FindAll("sequence_header").empty());
}

TEST(PackDetails, HeadersCutByTheEndOfTheFileShowZeros) {
  for (std::size_t cut = 1; cut < 12; ++cut) {
    auto bytes = test::ReadFileBytes(test::SampleStream());
    bytes.resize(cut);
    if (cut < 4) bytes = Code(0xB8) + bytes;  // keep a readable code at the start
    Shown s = Show(bytes);
    EXPECT_FALSE(s.details.HexLines.empty());
  }
  const auto cut = Show(Code(0xB3) + std::vector<std::uint8_t>{0x16, 0x01});
  EXPECT_NE(cut.tree.ToText().find("vertical_size_value = 0 (12 bits)"), std::string::npos);
}

TEST(PackDetails, RandomPacksNeverBreakTheTree) {
  std::uint32_t seed = 99;
  auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  ScopedLogCapture log;
  for (int round = 0; round < 300; ++round) {
    const std::uint8_t kinds[] = {0x00, 0xB3, 0xB8, 0xB7};
    std::vector<std::uint8_t> bytes = Code(kinds[round % 4]);
    bytes.resize(4 + next() % 2000);
    for (std::size_t i = 4; i < bytes.size(); ++i) {
      const std::uint32_t r = next() >> 20;
      bytes[i] = r % 3 == 0 ? 0xFF : r % 3 == 1 ? 0x00 : static_cast<std::uint8_t>(r);
      if (r % 97 == 0 && i + 4 < bytes.size()) {
        bytes[i] = 0, bytes[i + 1] = 0, bytes[i + 2] = 1, bytes[i + 3] = 0xB5;
        i += 3;
      }
    }
    Shown s = Show(bytes);
    EXPECT_FALSE(s.details.HexLines.empty());
  }
  EXPECT_TRUE(log.Lines().empty());  // shortages are not failures
}

TEST(PackDetails, NoFileOpen) {
  TPackIndex index;
  TMemoryTree tree;
  TPackDetails details;
  details.HexLines = {"old"};
  EXPECT_FALSE(UpdatePack(index, 0, tree, details));
  EXPECT_TRUE(details.HexLines.empty());
  EXPECT_EQ(tree.Size(), 0u);
}

} // namespace
} // namespace varlow
