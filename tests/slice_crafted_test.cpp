// Slices written bit by bit, for the syntax that real encoder output rarely or never shows.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "slice/MPEGVideoViewer.h"
#include "support/Log.h"
#include "support/MemoryTree.h"
#include "support/PaddedBuffer.h"

#include "TestBitWriter.h"

using namespace varlow;

namespace {

using BitWriter = varlow::test::TTestBitWriter;

struct Sequence {
  int width = 64, height = 32, chroma = 1;
};

struct Picture {
  int type = 1;
  int fcode[2][2] = {{15, 15}, {15, 15}};
  int structure = 3, fpfd = 1, concealment = 0, intraVlc = 0;
};

std::vector<std::uint8_t> SequenceBlock(const Sequence& s) {
  BitWriter w;
  w.StartCode(0x1B3);
  w.Put(s.width & 0xFFF, 12);
  w.Put(s.height & 0xFFF, 12);
  w.Put(1, 4);
  w.Put(3, 4);
  w.Put(1000, 18);
  w.Put(1, 1);
  w.Put(100, 10);
  w.Put(0, 3);  // constrained_parameters_flag, no matrices
  w.StartCode(0x1B5);
  w.Put(1, 4);
  w.Put(0x48, 8);
  w.Put(0, 1);
  w.Put(s.chroma, 2);
  w.Put(s.width >> 12, 2);
  w.Put(s.height >> 12, 2);
  w.Put(0, 12);
  w.Put(1, 1);
  w.Put(0, 16);
  w.StartCode(0x100);
  return w.Bytes();
}

// Picture header and coding extension; the slices follow.
void PictureHeader(BitWriter& w, const Picture& p) {
  w.StartCode(0x100);
  w.Put(0, 10);
  w.Put(p.type, 3);
  w.Put(0xFFFF, 16);
  if (p.type == 2 || p.type == 3) w.Put(7, 4);
  if (p.type == 3) w.Put(7, 4);
  w.Put(0, 1);
  w.StartCode(0x1B5);
  w.Put(8, 4);
  for (auto& s : p.fcode)
    for (int f : s) w.Put(f, 4);
  w.Put(0, 2);
  w.Put(p.structure, 2);
  w.Put(0, 1);
  w.Put(p.fpfd, 1);
  w.Put(p.concealment, 1);
  w.Put(0, 1);
  w.Put(p.intraVlc, 1);
  w.Put(0, 3);
  w.Put(1, 1);  // progressive_frame
  w.Put(0, 1);
}

void SliceHeader(BitWriter& w, int row = 0) {
  w.StartCode(0x101 + row);
  w.Put(4, 5);  // quantiser_scale_code
  w.Put(0, 1);  // extra_bit_slice
}

struct Result {
  TMemoryTree tree;
  HRESULT hr = E_FAIL;
  std::vector<TMPEGVideoViewer::TSliceTrace> traces;
  std::vector<std::string> log;

  std::vector<std::string> Texts(TTreeSink::NodeId parent) const {
    std::vector<std::string> out;
    for (auto c : tree.Children(parent)) out.push_back(tree.At(c).text);
    return out;
  }
  TTreeSink::NodeId Find(std::string_view text) const {
    auto all = tree.FindAll(text);
    return all.empty() ? -100 : all.front();
  }
};

// `close`: end the picture with a sequence end code (else the block ends with the slice).
Result Explain(const Sequence& s, BitWriter& picture, bool close = true, std::int32_t slice = 0) {
  if (close) picture.StartCode(0x1B7);
  auto seq = SequenceBlock(s);
  auto pic = picture.Bytes();
  TPaddedBuffer seqBuffer(seq.size()), picBuffer(pic.size());
  seqBuffer.Assign(seq);
  picBuffer.Assign(pic);
  Result r;
  ScopedLogCapture capture;
  TMPEGVideoViewer viewer;
  viewer.FTreeView = &r.tree;
  EXPECT_EQ(viewer.DecodeFrame(seqBuffer.Data(), static_cast<std::int32_t>(seq.size())), S_OK);
  r.hr = viewer.SetSlice(picBuffer.Data(), static_cast<std::int32_t>(pic.size()), slice);
  r.traces = viewer.SliceTraces();
  r.log = capture.Lines();
  return r;
}

// One intra macroblock of 4:2:0 whose six blocks have DC size 0 and end at once.
void EmptyIntraBlocks(BitWriter& w, bool b15 = false) {
  for (int i = 0; i < 4; ++i) w.Bits(b15 ? "100 0110" : "100 10");
  for (int i = 0; i < 2; ++i) w.Bits(b15 ? "00 0110" : "00 10");
}

}  // namespace

TEST(SliceCrafted, IntraEscapesAndEscapedCoefficients) {
  BitWriter w;
  PictureHeader(w, {});
  SliceHeader(w);
  const std::int64_t sliceStart = w.BitCount() - 32 - 6;
  w.Bits("0000 0001 000 0000 0001 000");  // two macroblock_escape
  w.Bits("1");                            // increment 1 (address 66 overall)
  w.Bits("1");                            // macroblock_type: intra
  w.Bits("100");                          // Y1: dct_dc_size_luminance 0
  w.Bits("0000 01 000101 111111111111");  // escape, run 5, level -1
  w.Bits("0000 01 000000 100000000000");  // escape, run 0, level 2048
  w.Bits("0000 01 000000 100000000001");  // escape, run 0, level -2047
  w.Bits("11 1");                         // run 0, level -1
  w.Bits("10");                           // end of block
  const std::int64_t y2Start = w.BitCount();
  w.Bits("1111 1111 1 101 0101 0110 10");  // Y2: DC size 11 (9 bits), differential, EOB
  const std::int64_t y2End = w.BitCount();
  w.Bits("100 10 100 10 00 10 00 10");   // Y3, Y4, U1, V1 empty
  const std::int64_t macroblockEnd = w.BitCount();
  Result r = Explain({}, w);
  EXPECT_EQ(r.hr, S_OK);
  ASSERT_EQ(r.traces.size(), 1u);
  EXPECT_TRUE(r.traces[0].Completed);
  EXPECT_EQ(r.traces[0].InvalidCodes, 0);
  EXPECT_EQ(r.tree.ToText(),
            "Slice 0\n"
            "  slice_start_code = $00000101 (32 bits)\n"
            "  quantiser_scale_code = 4 (5 bits)\n"
            "  extra_bit_slice = 0 (1 bit)\n"
            "  MacroBlock 0\n"
            "    macroblock_escape = 8 (11 bits)\n"
            "    macroblock_escape = 8 (11 bits)\n"
            "    macroblock_address_increment = 1 (1 bits)\n"
            "    MacroBlock Modes\n"
            "      macroblock_type = 1 (1 bits)\n"
            "      dct_type = 0 (1 bit)\n"
            "    Block Y1\n"
            "      dct_dc_size_luminance = 0 (3 bits)\n"
            "      Coefficients (B-14) intra\n"
            "        Escape: Run = 5, Level = -1 (24 bits)\n"
            "        Escape: Run = 0, Level = 2048 (24 bits)\n"
            "        Escape: Run = 0, Level = -2047 (24 bits)\n"
            "        Run = 0, Level = -1 (2 bits)\n"
            "        End Of Block (2 bits)\n"
            "    Block Y2\n"
            "      dct_dc_size_luminance = 11 (9 bits)\n"
            "      dct_dc_differential = 1366 (11 bits)\n"
            "      Coefficients (B-14) intra\n"
            "        End Of Block (2 bits)\n"
            "    Block Y3\n"
            "      dct_dc_size_luminance = 0 (3 bits)\n"
            "      Coefficients (B-14) intra\n"
            "        End Of Block (2 bits)\n"
            "    Block Y4\n"
            "      dct_dc_size_luminance = 0 (3 bits)\n"
            "      Coefficients (B-14) intra\n"
            "        End Of Block (2 bits)\n"
            "    Block U1\n"
            "      dct_dc_size_chrominance = 0 (2 bits)\n"
            "      Coefficients (B-14) intra\n"
            "        End Of Block (2 bits)\n"
            "    Block V1\n"
            "      dct_dc_size_chrominance = 0 (2 bits)\n"
            "      Coefficients (B-14) intra\n"
            "        End Of Block (2 bits)\n");
  // Positions count from the picture's start code; each element knows its width.
  const auto& start = r.tree.At(r.Find("slice_start_code = $00000101 (32 bits)"));
  EXPECT_EQ(start.bitPos, sliceStart);
  EXPECT_EQ(start.bitWidth, 32);
  const auto& increment = r.tree.At(r.Find("macroblock_address_increment = 1 (1 bits)"));
  EXPECT_EQ(increment.bitPos, sliceStart + 32 + 6 + 22);
  EXPECT_EQ(increment.bitWidth, 1);
  const auto& minusOne = r.tree.At(r.Find("Run = 0, Level = -1 (2 bits)"));
  EXPECT_EQ(minusOne.bitWidth, 3);  // code and sign
  // A macroblock spans its escapes, increment, modes and blocks; a block its DC and codes.
  const auto& macroblock = r.tree.At(r.Find("MacroBlock 0"));
  EXPECT_EQ(macroblock.bitPos, sliceStart + 32 + 6);
  EXPECT_EQ(macroblock.bitWidth, macroblockEnd - (sliceStart + 32 + 6));
  const auto& y2 = r.tree.At(r.Find("Block Y2"));
  EXPECT_EQ(y2.bitPos, y2Start);
  EXPECT_EQ(y2.bitWidth, y2End - y2Start);
  EXPECT_EQ(r.tree.At(r.Find("Coefficients (B-14) intra")).bitPos, TTreeSink::kNoPosition);
  EXPECT_TRUE(r.tree.Damage().empty());
}

TEST(SliceCrafted, IntraVlcFormatOneEndsAtOnce) {
  BitWriter w;
  Picture p;
  p.intraVlc = 1;
  PictureHeader(w, p);
  SliceHeader(w);
  w.Bits("1 1");
  EmptyIntraBlocks(w, true);
  Result r = Explain({}, w);
  auto y1 = r.Find("Block Y1");
  ASSERT_GE(y1, 0);
  auto coefficients = r.tree.Children(y1).back();
  EXPECT_EQ(r.tree.At(coefficients).text, "Coefficients (B-15) intra");
  EXPECT_EQ(r.Texts(coefficients), std::vector<std::string>{"End Of Block (4 bits)"});
  EXPECT_EQ(r.traces.at(0).InvalidCodes, 0);
}

TEST(SliceCrafted, DualPrimeVectorWithoutCodedBlocks) {
  BitWriter w;
  Picture p;
  p.type = 2;
  p.fpfd = 0;
  p.fcode[0][0] = 1;  // no horizontal residual
  p.fcode[0][1] = 2;
  PictureHeader(w, p);
  SliceHeader(w);
  w.Bits("1");      // increment 1
  w.Bits("001");    // macroblock_type 8: forward only, nothing coded
  w.Bits("11");     // frame_motion_type 3: dual prime (no dct_type: neither intra nor pattern)
  w.Bits("1 0");    // motion_code 0, dmvector[0] = 0
  w.Bits("010 1");  // motion_code +1, residual 1
  w.Bits("11");     // dmvector[1] = -1
  Result r = Explain({}, w);
  ASSERT_EQ(r.traces.size(), 1u);
  EXPECT_EQ(r.traces[0].InvalidCodes, 0);
  auto modes = r.Find("MacroBlock Modes");
  EXPECT_EQ(r.Texts(modes), (std::vector<std::string>{"macroblock_type = 8 (3 bits)", "frame_motion_type = 3 (2 bit)",
                                                       "dct_type = 0 (1 bit)"}));
  EXPECT_EQ(r.tree.At(r.Find("dct_type = 0 (1 bit)")).bitPos, TTreeSink::kNoPosition);  // nothing read
  auto vectors = r.Find("Motion Vectors 0");
  EXPECT_EQ(r.Texts(vectors), std::vector<std::string>{"Motion Vector"});  // dual prime: no field select
  EXPECT_EQ(r.Texts(r.Find("Motion Vector")),
            (std::vector<std::string>{"motion_code[0][0][0] = 0 (1 bits)", "dmvector[0] = 0 (1 bit)",
                                      "motion_code[0][0][1] = 1 (3 bits)", "motion_residual[0][0][1] = 1 (1 bits)",
                                      "dmvector[1] = 3 (2 bits)"}));
  for (const char* block : {"Block Y1 (not coded)", "Block U1 (not coded)", "Block V1 (not coded)"})
    EXPECT_GE(r.Find(block), 0) << block;
}

TEST(SliceCrafted, ConcealmentVectorsTakeTheirOwnLayout) {
  // Frame picture: one frame-format vector, no field select, then the marker bit.
  {
    BitWriter w;
    Picture p;
    p.concealment = 1;
    p.fcode[0][0] = p.fcode[0][1] = 2;
    PictureHeader(w, p);
    SliceHeader(w);
    w.Bits("1 1");          // increment, intra
    w.Bits("011 0 1");      // motion_code -1, residual 0; vertical motion_code 0
    w.Bits("1");            // marker_bit
    EmptyIntraBlocks(w);
    Result r = Explain({}, w);
    EXPECT_EQ(r.traces.at(0).InvalidCodes, 0);
    EXPECT_EQ(r.Texts(r.Find("Motion Vectors 0")), std::vector<std::string>{"Motion Vector"});
    EXPECT_EQ(r.Texts(r.Find("Motion Vector")),
              (std::vector<std::string>{"motion_code[0][0][0] = -1 (3 bits)", "motion_residual[0][0][0] = 0 (1 bits)",
                                        "motion_code[0][0][1] = 0 (1 bits)"}));
    EXPECT_GE(r.Find("marker_bit_1 = 1 (1 bit)"), 0);
  }
  // Field picture: the vector carries its field select. The P macroblock before it left a
  // dual-prime layout, which must not leak into the intra macroblock's vector.
  {
    BitWriter w;
    Picture p;
    p.type = 2;
    p.structure = 1;
    p.concealment = 1;
    p.fcode[0][0] = p.fcode[0][1] = 1;
    PictureHeader(w, p);
    SliceHeader(w);
    w.Bits("1 001 11");     // P macroblock: forward only, field_motion_type 3 (dual prime)
    w.Bits("1 0 1 0");      // codes 0 with dmvector 0, twice
    w.Bits("1 00011");      // intra macroblock
    w.Bits("1");            // motion_vertical_field_select
    w.Bits("1 1");          // both codes 0
    w.Bits("1");            // marker
    EmptyIntraBlocks(w);
    Result r = Explain({}, w);
    EXPECT_EQ(r.traces.at(0).InvalidCodes, 0);
    EXPECT_TRUE(r.traces.at(0).Completed);
    auto vectors = r.tree.FindAll("Motion Vectors 0");
    ASSERT_EQ(vectors.size(), 2u);
    EXPECT_EQ(r.Texts(vectors[1]),
              (std::vector<std::string>{"motion_vertical_field_select[0][0] = 1 (1 bit)", "Motion Vector"}));
    EXPECT_EQ(r.Texts(r.tree.Children(vectors[1]).back()),
              (std::vector<std::string>{"motion_code[0][0][0] = 0 (1 bits)", "motion_code[0][0][1] = 0 (1 bits)"}));
    EXPECT_GE(r.Find("marker_bit_1 = 1 (1 bit)"), 0);
    EXPECT_EQ(r.tree.FindPrefix("Block").size(), 12u);
  }
}

TEST(SliceCrafted, NonIntraShortFirstCodesAndCodedBlockPattern) {
  BitWriter w;
  Picture p;
  p.type = 2;
  p.fcode[0][0] = p.fcode[0][1] = 1;
  PictureHeader(w, p);
  SliceHeader(w);
  w.Bits("1 1");        // increment, macroblock_type 10: forward + pattern (frame prediction)
  w.Bits("1 1");        // motion codes 0, 0
  w.Bits("111");        // coded_block_pattern 60: Y1..Y4
  w.Bits("11 10");      // Y1: first code 1s with sign 1, EOB
  w.Bits("10 10");      // Y2: first code with sign 0
  w.Bits("011 0 10");   // Y3: run 1 level 1 by the table, EOB
  w.Bits("0000 01 000010 000000000011 10");  // Y4: escape run 2 level 3, EOB
  Result r = Explain({}, w);
  EXPECT_EQ(r.traces.at(0).InvalidCodes, 0);
  EXPECT_EQ(r.Texts(r.Find("Coded Block Pattern")), std::vector<std::string>{"coded_block_pattern_420 = 60 (3 bits)"});
  auto coefficients = r.tree.FindAll("Coefficients (B-14) non intra");
  ASSERT_EQ(coefficients.size(), 4u);
  EXPECT_EQ(r.Texts(coefficients[0]), (std::vector<std::string>{"Run = 0, Level = -1 (2 bits)", "End Of Block (2 bits)"}));
  EXPECT_EQ(r.Texts(coefficients[1]), (std::vector<std::string>{"Run = 0, Level = 1 (2 bits)", "End Of Block (2 bits)"}));
  EXPECT_EQ(r.Texts(coefficients[2]), (std::vector<std::string>{"Run = 1, Level = 1 (3 bits)", "End Of Block (2 bits)"}));
  EXPECT_EQ(r.Texts(coefficients[3]),
            (std::vector<std::string>{"Escape: Run = 2, Level = 3 (24 bits)", "End Of Block (2 bits)"}));
  EXPECT_GE(r.Find("Block U1 (not coded)"), 0);
  EXPECT_GE(r.Find("Block V1 (not coded)"), 0);
}

TEST(SliceCrafted, InvalidAddressIncrementEndsTheSlice) {
  BitWriter w;
  Picture p;
  p.type = 2;
  PictureHeader(w, p);
  SliceHeader(w);
  const std::int64_t macroblockStart = w.BitCount();
  w.Bits("0000 0000 01 1111");  // below 0x0300: no increment code
  Result r = Explain({}, w);
  ASSERT_EQ(r.traces.size(), 1u);
  EXPECT_FALSE(r.traces[0].Completed);
  EXPECT_EQ(r.traces[0].EndBit, macroblockStart + 1);  // one bit consumed
  EXPECT_GE(r.Find("MacroBlock 0"), 0);                // nodes added so far stay
  auto count = [&](std::string_view prefix) {
    int n = 0;
    for (const auto& l : r.log)
      if (l.find(prefix) != std::string::npos) ++n;
    return n;
  };
  EXPECT_EQ(count("here1 P FNextX = 0, FNextY = 0"), 1);
  EXPECT_EQ(count("wex: Error in TMPEGVideoViewer.DecodePMackroBlock call... 0, 0"), 1);
  EXPECT_EQ(count("ByteIndex: "), 1);
  EXPECT_EQ(count("000000000111110000000000"), 1);  // the 24 bits sent to the debug channel
  // Besides the log, the tree marks the place: under the macroblock, at the bad code's first bit.
  const auto damage = r.tree.Damage();
  ASSERT_EQ(damage.size(), 1u);
  const auto& node = r.tree.At(damage[0]);
  EXPECT_EQ(node.text, "Invalid code at bit " + std::to_string(macroblockStart) +
                           ": expected macroblock_address_increment (found 0000 0000 0111 1100)");
  EXPECT_EQ(node.bitPos, macroblockStart);
  EXPECT_EQ(node.parent, r.Find("MacroBlock 0"));
  EXPECT_NE(r.tree.ToText().find("    !! Invalid code at bit "), std::string::npos);
  EXPECT_NE(r.tree.ToJson().find("\"damage\":true"), std::string::npos);
}

// Each place where the walk meets a code no table knows gets one damage node, where the code
// would have stood; the walk's behaviour around it stays as it was.
TEST(SliceCrafted, DamageNodesWhereTheWalkMeetsInvalidCodes) {
  // An intra block whose first AC bits match no B-14 code: the list ends there, and the next
  // block starts on the same bits.
  {
    BitWriter w;
    PictureHeader(w, {});
    SliceHeader(w);
    w.Bits("1 1 100");  // increment, intra, Y1 DC size 0
    const std::int64_t bad = w.BitCount();
    w.Bits("0000 0000 0000 0001");  // no B-14 code starts with fifteen zeros
    Result r = Explain({}, w, /*close=*/false);
    const auto damage = r.tree.Damage();
    ASSERT_GE(damage.size(), 1u);
    const auto& first = r.tree.At(damage[0]);
    EXPECT_EQ(first.text, "Invalid code at bit " + std::to_string(bad) +
                              ": expected a DCT coefficient code of table B-14 (found 0000 0000 0000 0001)");
    EXPECT_EQ(first.bitPos, bad);
    EXPECT_EQ(r.tree.At(first.parent).text, "Coefficients (B-14) intra");
    EXPECT_EQ(r.traces.at(0).InvalidCodes, static_cast<int>(damage.size()));
  }
  // A run that carries the scan position past the 64th coefficient.
  {
    BitWriter w;
    PictureHeader(w, {});
    SliceHeader(w);
    w.Bits("1 1 100");
    const std::int64_t escape = w.BitCount();
    w.Bits("0000 01 111111 000000000001");  // escape with run 63 from position 1
    w.Bits("10 100 10 100 10 100 10 00 10 00 10");
    Result r = Explain({}, w);
    const auto damage = r.tree.Damage();
    ASSERT_EQ(damage.size(), 1u);
    EXPECT_EQ(r.tree.At(damage[0]).bitPos, escape);
    EXPECT_NE(r.tree.At(damage[0]).text.find("expected End Of Block: the escape's run passes the 64th coefficient"),
              std::string::npos);
  }
  // An invalid horizontal motion_code: the node comes before the value the walk shows for it.
  {
    BitWriter w;
    Picture p;
    p.type = 2;
    p.fcode[0][0] = p.fcode[0][1] = 1;
    PictureHeader(w, p);
    SliceHeader(w);
    w.Bits("1 001");  // forward only
    const std::int64_t code = w.BitCount();
    w.Bits("0000 0000 1111");
    Result r = Explain({}, w);
    const auto damage = r.tree.Damage();
    ASSERT_GE(damage.size(), 1u);
    EXPECT_EQ(r.tree.At(damage[0]).bitPos, code);
    const auto vector = r.tree.At(damage[0]).parent;
    EXPECT_EQ(r.tree.At(vector).text, "Motion Vector");
    EXPECT_EQ(r.Texts(vector).at(1), "motion_code[0][0][0] = 67 (67 bits)");
  }
  // An invalid coded_block_pattern, shown and skipped with its 67 bits as before.
  {
    BitWriter w;
    Picture p;
    p.type = 2;
    PictureHeader(w, p);
    SliceHeader(w);
    w.Bits("1 01");  // increment, pattern only
    const std::int64_t cbp = w.BitCount();
    w.Bits("0000 0000 0000 0000");
    Result r = Explain({}, w);
    const auto damage = r.tree.Damage();
    ASSERT_GE(damage.size(), 1u);
    EXPECT_EQ(r.tree.At(damage[0]).bitPos, cbp);
    const auto pattern = r.tree.At(damage[0]).parent;
    EXPECT_EQ(r.tree.At(pattern).text, "Coded Block Pattern");
    EXPECT_EQ(r.Texts(pattern).at(1), "coded_block_pattern_420 = 67 (67 bits)");
  }
}

TEST(SliceCrafted, InvalidVerticalMotionCodeIsReportedLikeTheHorizontal) {
  BitWriter w;
  Picture p;
  p.type = 2;
  p.fcode[0][0] = p.fcode[0][1] = 1;
  PictureHeader(w, p);
  SliceHeader(w);
  w.Bits("1 001");           // forward only, frame prediction
  w.Bits("1");               // horizontal code 0
  w.Bits("0000 0000 1111");  // no motion code starts with eight zeros
  Result r = Explain({}, w);
  int reported = 0;
  for (const auto& l : r.log)
    if (l.find("invalid motion vector code Fmacroblock.motion_code[r, s, 1] = 67, FNextX = 0, FNextY = 0") !=
        std::string::npos)
      ++reported;
  EXPECT_EQ(reported, 1);
  EXPECT_GE(r.Find("motion_code[0][0][1] = 67 (67 bits)"), 0);
}

TEST(SliceCrafted, SliceEndingExactlyAtTheBlockEnd) {
  BitWriter w;
  PictureHeader(w, {});
  SliceHeader(w);
  w.Bits("1 1");
  EmptyIntraBlocks(w);
  const std::int64_t end = w.BitCount();
  Result r = Explain({}, w, /*close=*/false);
  EXPECT_EQ(r.hr, S_OK);  // the exhausted reader ends the walk
  ASSERT_EQ(r.traces.size(), 1u);
  EXPECT_TRUE(r.traces[0].Completed);
  EXPECT_EQ(r.traces[0].EndBit, end);
  EXPECT_EQ(r.tree.FindAll("MacroBlock 0").size(), 1u);
  EXPECT_TRUE(r.tree.FindAll("MacroBlock 1").empty());
}

TEST(SliceCrafted, SliceRowsAndTheVerticalExtension) {
  // An I slice below the picture shows only its start code.
  {
    BitWriter w;
    PictureHeader(w, {});
    SliceHeader(w, 5);  // row 5 of a 32-line picture
    w.Bits("1 1");
    EmptyIntraBlocks(w);
    Result r = Explain({}, w);
    ASSERT_EQ(r.tree.Roots().size(), 1u);
    EXPECT_EQ(r.Texts(r.tree.Roots()[0]), std::vector<std::string>{"slice_start_code = $00000106 (32 bits)"});
  }
  for (int height : {2880, 2800}) {
    BitWriter w;
    PictureHeader(w, {});
    w.StartCode(0x101);
    if (height > 2800) w.Put(2, 3);  // slice_vertical_position_extension
    w.Put(4, 5);
    w.Put(0, 1);
    w.Bits("1 1");
    EmptyIntraBlocks(w);
    Sequence s;
    s.height = height;
    Result r = Explain(s, w);
    EXPECT_EQ(r.Find("slice_vertical_position_extension = 2 (3 bits)") >= 0, height > 2800) << height;
    EXPECT_EQ(r.traces.at(0).InvalidCodes, 0) << height;
  }
}

TEST(SliceCrafted, FourTwoTwoMacroblocksHaveEightBlocks) {
  BitWriter w;
  Picture p;
  p.type = 2;
  p.fcode[0][0] = p.fcode[0][1] = 1;
  PictureHeader(w, p);
  SliceHeader(w);
  w.Bits("1 1 1 1");  // forward + pattern, vectors 0
  w.Bits("0101 1");   // coded_block_pattern_420 = 1: V1 only
  w.Bits("01");       // coded_block_pattern_1: V2
  w.Bits("10 10");    // V1
  w.Bits("10 10");    // V2
  w.Bits("1 00011");  // next macroblock: intra
  for (int i = 0; i < 4; ++i) w.Bits("100 10");
  for (int i = 0; i < 4; ++i) w.Bits("00 10");
  Sequence s;
  s.chroma = 2;
  Result r = Explain(s, w);
  EXPECT_EQ(r.traces.at(0).InvalidCodes, 0);
  EXPECT_GE(r.Find("coded_block_pattern_1 = 1 (2 bits)"), 0);
  EXPECT_EQ(r.tree.FindPrefix("Block ").size(), 16u);
  EXPECT_EQ(r.tree.FindAll("Block U2 (not coded)").size(), 1u);
  EXPECT_EQ(r.tree.FindAll("Block V2").size(), 2u);
}
