// Macroblocks written bit by bit, re-quantised, and read back with the slice analyser.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "TestBitWriter.h"
#include "slice/MPEGVideoViewer.h"
#include "slice/VLCCodeLists.h"
#include "support/Log.h"
#include "support/MemoryTree.h"
#include "support/PaddedBuffer.h"
#include "transrate/MPEGVideoTranscoder.h"

using namespace varlow;
using varlow::test::TTestBitWriter;

namespace {

struct TSeq {
  int width = 16;
  bool mpeg1 = false;
  int intraWeight1 = 0;  // intra matrix entry 1 (zigzag order) when loaded; 0: default matrix
};

struct TPic {
  int type = 1;
  int qScaleType = 0;
  int intraVlc = 0;
  int nonIntraWeight0 = 0;  // a quant matrix extension's non-intra entry 0; 0: none
  int structure = 3;        // picture_structure
};

// A whole unit: sequence header (and extension), picture header (and coding extension), one
// slice of height 16 whose body the test writes, and a sequence end code.
std::vector<std::uint8_t> Unit(const TSeq& s, const TPic& p, const std::function<void(TTestBitWriter&)>& slice) {
  TTestBitWriter w;
  w.StartCode(0x1B3).Put(static_cast<std::uint32_t>(s.width), 12).Put(16, 12).Put(1, 4).Put(3, 4);
  w.Put(1000, 18).Put(1, 1).Put(100, 10).Put(0, 1);
  if (s.intraWeight1) {
    w.Put(1, 1).Put(8, 8).Put(static_cast<std::uint32_t>(s.intraWeight1), 8);
    for (int i = 2; i < 64; ++i) w.Put(16, 8);
  } else {
    w.Put(0, 1);
  }
  w.Put(0, 1);  // load_non_intra_quantiser_matrix
  if (!s.mpeg1) {
    w.StartCode(0x1B5).Put(1, 4).Put(0x48, 8).Put(1, 1).Put(1, 2).Put(0, 4).Put(0, 12).Put(1, 1).Put(0, 16);
  }
  w.StartCode(0x100).Put(0, 10).Put(static_cast<std::uint32_t>(p.type), 3).Put(0xFFFF, 16);
  const std::uint32_t headerFCode = s.mpeg1 ? 1 : 7;
  if (p.type >= 2) w.Put(0, 1).Put(headerFCode, 3);
  if (p.type == 3) w.Put(0, 1).Put(headerFCode, 3);
  w.Put(0, 1);
  if (!s.mpeg1) {
    w.StartCode(0x1B5).Put(8, 4);
    const std::uint32_t forward = p.type >= 2 ? 1 : 15;
    const std::uint32_t backward = p.type == 3 ? 1 : 15;
    w.Put(forward, 4).Put(forward, 4).Put(backward, 4).Put(backward, 4);
    // intra_dc_precision, picture_structure, top_field_first, frame_pred_frame_dct, concealment
    w.Put(0, 2).Put(static_cast<std::uint32_t>(p.structure), 2).Put(0, 1).Put(p.structure == 3 ? 1 : 0, 1).Put(0, 1);
    w.Put(static_cast<std::uint32_t>(p.qScaleType), 1).Put(static_cast<std::uint32_t>(p.intraVlc), 1);
    w.Put(0, 1).Put(0, 1).Put(0, 1).Put(1, 1).Put(0, 1);  // zigzag, rff, chroma_420_type, progressive, composite
  }
  if (p.nonIntraWeight0) {
    w.StartCode(0x1B5).Put(3, 4).Put(0, 1).Put(1, 1).Put(static_cast<std::uint32_t>(p.nonIntraWeight0), 8);
    for (int i = 1; i < 64; ++i) w.Put(16, 8);
    w.Put(0, 2);
  }
  w.StartCode(0x101);
  slice(w);
  w.StartCode(0x1B7);
  return w.Bytes();
}

// A run/level code of table B-15 or B-14 with its sign, from the code lists.
void RunLevel(TTestBitWriter& w, int run, int level, bool b15 = false) {
  const int magnitude = level < 0 ? -level : level;
  const auto put = [&](const TDctCode& c) {
    if (c.Run != run || c.Level != magnitude) return false;
    w.Bits(c.Bits).Put(level < 0 ? 1 : 0, 1);
    return true;
  };
  for (const TDctCode& c : kDctLongCodes)
    if (put(c)) return;
  if (b15) {
    for (const TDctCode& c : kTableB15)
      if (put(c)) return;
  } else {
    for (const TDctCode& c : kTableB14)
      if (put(c)) return;
  }
  ADD_FAILURE() << "no code for " << run << "/" << level;
}
void Escape(TTestBitWriter& w, int run, int level) {
  w.Bits("0000 01").Put(static_cast<std::uint32_t>(run), 6).Put(static_cast<std::uint32_t>(level) & 0xFFF, 12);
}
void Mpeg1Escape(TTestBitWriter& w, int run, int level) {
  w.Bits("0000 01").Put(static_cast<std::uint32_t>(run), 6);
  if (level >= 128)
    w.Put(0, 8).Put(static_cast<std::uint32_t>(level), 8);
  else if (level <= -128)
    w.Put(0x80, 8).Put(static_cast<std::uint32_t>(level + 256), 8);
  else
    w.Put(static_cast<std::uint32_t>(level) & 0xFF, 8);
}
// Intra blocks Y2 .. V1 with a DC size of 0 and no coefficient.
void EmptyIntraBlocks(TTestBitWriter& w, bool b15 = false) {
  const char* eob = b15 ? "0110" : "10";
  for (int i = 0; i < 3; ++i) w.Bits("100").Bits(eob);
  for (int i = 0; i < 2; ++i) w.Bits("00").Bits(eob);
}

std::vector<std::uint8_t> Requantise(const std::vector<std::uint8_t>& unit, int type, double scale, bool mpeg1 = false,
                                     bool nonLinear = false) {
  TMPEGVideoTranscoder transcoder;
  transcoder.SetMpeg1(mpeg1);
  TPaddedBuffer input(unit.size());
  input.Assign(unit);
  std::vector<std::uint8_t> output(unit.size() * 2 + 256);
  auto size = static_cast<std::int32_t>(output.size());
  TMPEGVideoTranscoder::TRequantSettings settings;
  settings.Scale = scale;
  settings.NonLinear = nonLinear;
  ScopedLogCapture quiet;
  EXPECT_EQ(
      transcoder.Requantise(type, input.Data(), output.data(), static_cast<std::int32_t>(unit.size()), size, settings),
      S_OK);
  EXPECT_FALSE(transcoder.Damaged());
  output.resize(static_cast<std::size_t>(size));
  return output;
}

// The slice as the analyser explains it, in short: "q" quantiser_scale_code, "|" a new
// macroblock, "+" address increment, "t" macroblock_type, "cbp" coded_block_pattern_420, "mv"
// motion_code, block names, "run/level", "e" escaped run/level, "eob".
std::string Explain(const std::vector<std::uint8_t>& stream) {
  std::size_t picture = 0;
  while (picture + 4 < stream.size() &&
         !(stream[picture] == 0 && stream[picture + 1] == 0 && stream[picture + 2] == 1 && stream[picture + 3] == 0))
    ++picture;
  TPaddedBuffer sequence(picture + 4), pictureData(stream.size() - picture);
  sequence.Assign({stream.data(), picture + 4});
  pictureData.Assign({stream.data() + picture, stream.size() - picture});
  TMemoryTree tree;
  TMPEGVideoViewer viewer;
  viewer.FTreeView = &tree;
  ScopedLogCapture quiet;
  EXPECT_EQ(viewer.DecodeFrame(sequence.Data(), static_cast<std::int32_t>(picture + 4)), S_OK);
  EXPECT_EQ(viewer.SetSlice(pictureData.Data(), static_cast<std::int32_t>(stream.size() - picture), 0), S_OK);
  EXPECT_TRUE(!viewer.SliceTraces().empty() && viewer.SliceTraces()[0].Completed);

  static const std::vector<std::pair<std::regex, std::string>> kShort = {
      {std::regex(R"(quantiser_scale_code = (\d+).*)"), "q$1"},
      {std::regex(R"(MacroBlock \d+)"), "|"},
      {std::regex(R"(macroblock_address_increment = (\d+).*)"), "+$1"},
      {std::regex(R"(macroblock_type = (\d+).*)"), "t$1"},
      {std::regex(R"(coded_block_pattern_420 = (\d+).*)"), "cbp$1"},
      {std::regex(R"(motion_code\[.*\] = (-?\d+).*)"), "mv$1"},
      {std::regex(R"(field_motion_type = (\d+).*)"), "fmt$1"},
      {std::regex(R"(motion_vertical_field_select\[.*\] = (\d+).*)"), "sel$1"},
      {std::regex(R"(Block (\w\d))"), "$1"},
      {std::regex(R"(Run = (\d+), Level = (-?\d+).*)"), "$1/$2"},
      {std::regex(R"(Escape: Run = (\d+), Level = (-?\d+).*)"), "e$1/$2"},
      {std::regex(R"(End Of Block.*)"), "eob"},
  };
  std::string out;
  std::istringstream lines(tree.ToText());
  for (std::string line; std::getline(lines, line);) {
    line.erase(0, line.find_first_not_of(' '));
    for (const auto& [pattern, replacement] : kShort) {
      if (std::regex_match(line, pattern)) {
        out += (out.empty() ? "" : " ") + std::regex_replace(line, pattern, replacement);
        break;
      }
    }
  }
  return out;
}

// One intra macroblock whose Y1 carries levels that vanish, shrink, stay escaped, leave their
// escape, and one run that no table holds.
void IntraLevels(TTestBitWriter& w, int quant, bool b15) {
  w.Put(static_cast<std::uint32_t>(quant), 5).Put(0, 1);
  w.Bits("1 1");           // increment 1, intra
  w.Bits("100");           // Y1: DC size 0
  RunLevel(w, 0, 1, b15);  // position 1, weight 16: 4 goes to 0 (0 and 8 equally near)
  RunLevel(w, 0, 3, b15);  // position 2, weight 16: 12 -> level 1
  RunLevel(w, 0, 5, b15);  // position 3, weight 19: 23 -> level 2
  Escape(w, 0, 200);       // position 4: 800 -> level 100, still escaped
  Escape(w, 0, 60);        // position 5, weight 19: 285 -> level 30, which has a code
  Escape(w, 40, 2);        // position 46, weight 35: 17 -> level 1, run 40 escaped
  w.Bits(b15 ? "0110" : "10");
  EmptyIntraBlocks(w, b15);
}

}  // namespace

TEST(RequantCrafted, IntraLevelsAndEscapesInBothTables) {
  for (int b15 = 0; b15 < 2; ++b15) {
    SCOPED_TRACE(b15 ? "B-15" : "B-14");
    const auto unit = Unit({}, {.type = 1, .intraVlc = b15}, [&](TTestBitWriter& w) { IntraLevels(w, 2, b15 != 0); });
    EXPECT_EQ(Explain(unit), "q2 | +1 t1 Y1 0/1 0/3 0/5 e0/200 e0/60 e40/2 eob Y2 eob Y3 eob Y4 eob U1 eob V1 eob");
    // Twice the step: quantiser_scale_code 2 becomes 4.
    EXPECT_EQ(Explain(Requantise(unit, 1, 2.0)),
              "q4 | +1 t1 Y1 1/1 0/2 e0/100 0/30 e40/1 eob Y2 eob Y3 eob Y4 eob U1 eob V1 eob");
    // The same step: the blocks stay as they were.
    EXPECT_EQ(Explain(Requantise(unit, 1, 1.0)), Explain(unit));
  }
}

TEST(RequantCrafted, NonLinearQuantiser) {
  // q_scale_type 1: code 10 is a step of 12; twice that, 24, is code 16 (code 20 in the linear
  // table would be 40).
  const auto unit = Unit({}, {.type = 1, .qScaleType = 1}, [](TTestBitWriter& w) {
    w.Put(10, 5).Put(0, 1).Bits("1 1 100");
    RunLevel(w, 0, 4);  // 48 -> level 2 at a step of 24
    w.Bits("10");
    EmptyIntraBlocks(w);
  });
  EXPECT_EQ(Explain(Requantise(unit, 1, 2.0)), "q16 | +1 t1 Y1 0/2 eob Y2 eob Y3 eob Y4 eob U1 eob V1 eob");
}

// q_scale_type of the first picture coding extension; -1 when there is none.
int QScaleType(const std::vector<std::uint8_t>& stream) {
  for (std::size_t i = 0; i + 8 < stream.size(); ++i)
    if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1 && stream[i + 3] == 0xB5 &&
        (stream[i + 4] >> 4) == 8)
      return (stream[i + 7] >> 4) & 1;
  return -1;
}

TEST(RequantCrafted, SwitchToTheNonLinearQuantiser) {
  // One intra macroblock of the linear table: level 8 at position 1 (weight 16).
  const auto unit = [](int quant) {
    return Unit({}, {.type = 1}, [quant](TTestBitWriter& w) {
      w.Put(static_cast<std::uint32_t>(quant), 5).Put(0, 1).Bits("1 1 100");
      RunLevel(w, 0, 8);
      w.Bits("10");
      EmptyIntraBlocks(w);
    });
  };
  ASSERT_EQ(QScaleType(unit(30)), 0);
  // Code 30 is a step of 60; 1.6 times that, 96, is non-linear code 29, past the linear
  // table's last step (62): 2 * 8 * 16 * 60 / 32 = 480 comes back as level 5.
  const auto coarser = Requantise(unit(30), 1, 1.6, false, true);
  EXPECT_EQ(QScaleType(coarser), 1);
  EXPECT_EQ(Explain(coarser), "q29 | +1 t1 Y1 0/5 eob Y2 eob Y3 eob Y4 eob U1 eob V1 eob");
  // Without the switch the linear table stops at code 31, a step of 62.
  const auto linear = Requantise(unit(30), 1, 1.6);
  EXPECT_EQ(QScaleType(linear), 0);
  EXPECT_EQ(Explain(linear).substr(0, 4), "q31 ");
  // The input's own step where the other table has it (24: code 16) keeps the levels; where it
  // has none (26) the nearest coarser step serves (28, code 17): 208 comes back as level 7.
  EXPECT_EQ(Explain(Requantise(unit(12), 1, 1.0, false, true)),
            "q16 | +1 t1 Y1 0/8 eob Y2 eob Y3 eob Y4 eob U1 eob V1 eob");
  EXPECT_EQ(Explain(Requantise(unit(13), 1, 1.0, false, true)),
            "q17 | +1 t1 Y1 0/7 eob Y2 eob Y3 eob Y4 eob U1 eob V1 eob");
  // An input of the non-linear table keeps it.
  const auto nonLinearInput = Unit({}, {.type = 1, .qScaleType = 1}, [](TTestBitWriter& w) {
    w.Put(10, 5).Put(0, 1).Bits("1 1 100");
    RunLevel(w, 0, 4);
    w.Bits("10");
    EmptyIntraBlocks(w);
  });
  EXPECT_EQ(Explain(Requantise(nonLinearInput, 1, 2.0, false, true)),
            "q16 | +1 t1 Y1 0/2 eob Y2 eob Y3 eob Y4 eob U1 eob V1 eob");
  // MPEG-1 has no table to switch to.
  const auto mpeg1 = Unit({.mpeg1 = true}, {}, [](TTestBitWriter& w) {
    w.Put(30, 5).Put(0, 1).Bits("1 1 100");
    RunLevel(w, 0, 8);
    w.Bits("10");
    EmptyIntraBlocks(w);
  });
  EXPECT_EQ(Explain(Requantise(mpeg1, 1, 1.6, true, true)).substr(0, 4), "q31 ");
}

TEST(RequantCrafted, QuantiserMatricesInForce) {
  // Intra matrix entry 1 = 3: level 2 there reconstructs to (2 * 2 * 3 * 2) / 32 = 0 and goes;
  // with the default matrix it would stay.
  const auto body = [](TTestBitWriter& w) {
    w.Put(1, 5).Put(0, 1).Bits("1 1 100");
    RunLevel(w, 0, 2);  // position 1
    RunLevel(w, 0, 3);  // position 2, weight 16: 6 -> level 1 at a step of 4
    w.Bits("10");
    EmptyIntraBlocks(w);
  };
  EXPECT_EQ(Explain(Requantise(Unit({.intraWeight1 = 3}, {}, body), 1, 2.0)),
            "q2 | +1 t1 Y1 1/1 eob Y2 eob Y3 eob Y4 eob U1 eob V1 eob");
  EXPECT_EQ(Explain(Requantise(Unit({}, {}, body), 1, 2.0)),
            "q2 | +1 t1 Y1 0/1 0/1 eob Y2 eob Y3 eob Y4 eob U1 eob V1 eob");

  // A quant matrix extension's non-intra entry 0 = 3: both blocks of this P macroblock lose
  // their only level, and it keeps its motion without a pattern (MC, not coded).
  const auto predicted = [](TTestBitWriter& w) {
    w.Put(1, 5).Put(0, 1).Bits("1 1");  // increment 1, MC coded
    w.Bits("1 1");                      // motion_code 0, 0
    w.Bits("1001 0");                   // coded_block_pattern 48: Y1, Y2
    for (int b = 0; b < 2; ++b) {
      RunLevel(w, 0, 2);  // position 0: ((2 * 2 + 1) * 3 * 2) / 32 = 0
      w.Bits("10");
    }
  };
  EXPECT_EQ(Explain(Requantise(Unit({}, {.type = 2, .nonIntraWeight0 = 3}, predicted), 2, 2.0)), "q2 | +1 t8 mv0 mv0");
  EXPECT_EQ(Explain(Requantise(Unit({}, {.type = 2}, predicted), 2, 2.0)),
            "q2 | +1 t10 mv0 mv0 cbp48 Y1 0/1 eob Y2 0/1 eob");
}

// P macroblocks that lose their blocks: with motion they keep it without a pattern; without
// motion they become skipped macroblocks, except the last of the slice, which keeps its blocks
// at its own quantiser. Skipped macroblocks of the input stay skipped.
TEST(RequantCrafted, PredictedMacroblocksThatLoseTheirBlocks) {
  const auto unit = Unit({.width = 96}, {.type = 2}, [](TTestBitWriter& w) {
    w.Put(2, 5).Put(0, 1);
    w.Bits("1 01 1010");  // address 0: No MC, coded; Y1
    RunLevel(w, 0, 10);   // 42 -> level 5 at the doubled step
    w.Bits("10");
    w.Bits("1 1 1 1 1010 10 10");  // address 1: MC coded, vector 0, Y1 with level 1 -> empty
    w.Bits("011 01 1010 11 10");   // address 3 (2 skipped): No MC, Y1 with level -1 -> empty
    w.Bits("1 01 1010");           // address 4
    RunLevel(w, 0, -10);
    w.Bits("10");
    w.Bits("1 01 1010 10 10");  // address 5, the last: level 1 -> empty
  });
  EXPECT_EQ(Explain(unit),
            "q2 | +1 t2 cbp32 Y1 0/10 eob | +1 t10 mv0 mv0 cbp32 Y1 0/1 eob | +2 t2 cbp32 Y1 0/-1 eob | +1 t2 cbp32 Y1 "
            "0/-10 eob | +1 t2 cbp32 Y1 0/1 eob");
  EXPECT_EQ(Explain(Requantise(unit, 2, 2.0)),
            "q4 | +1 t2 cbp32 Y1 0/5 eob | +1 t8 mv0 mv0 | +3 t2 cbp32 Y1 0/-5 eob | +1 t18 q2 cbp32 Y1 0/1 eob");
}

// A B macroblock that loses its blocks keeps both vectors, so the skipped macroblock after it
// still predicts from both references.
TEST(RequantCrafted, SkippedBMacroblockAfterAChangedOne) {
  const auto unit = Unit({.width = 48}, {.type = 3}, [](TTestBitWriter& w) {
    w.Put(2, 5).Put(0, 1);
    w.Bits("1 11 1 1 1 1 1010 10 10");  // address 0: interpolated, coded; Y1 level 1
    w.Bits("011 0011 1 1 1010");        // address 2 (1 skipped): forward, coded
    RunLevel(w, 0, 10);
    w.Bits("10");
  });
  EXPECT_EQ(Explain(Requantise(unit, 3, 2.0)), "q4 | +1 t12 mv0 mv0 mv0 mv0 | +2 t10 mv0 mv0 cbp32 Y1 0/5 eob");
}

TEST(RequantCrafted, Mpeg1EscapesOfEightAndSixteenBits) {
  const auto unit = Unit({.mpeg1 = true}, {}, [](TTestBitWriter& w) {
    w.Put(5, 5).Put(0, 1).Bits("1 1 100");
    Mpeg1Escape(w, 0, 200);   // position 1: 1999 -> 167 at step 12 (16-bit escape)
    Mpeg1Escape(w, 0, -200);  // position 2
    Mpeg1Escape(w, 0, 100);   // position 3, weight 19: 1187 -> 83 (8-bit escape)
    w.Bits("10");
    EmptyIntraBlocks(w);
  });
  EXPECT_EQ(Explain(unit), "q5 | +1 t1 Y1 e0/200 e0/-200 e0/100 eob Y2 eob Y3 eob Y4 eob U1 eob V1 eob");
  EXPECT_EQ(Explain(Requantise(unit, 1, 1.2, true)),
            "q6 | +1 t1 Y1 e0/167 e0/-167 e0/83 eob Y2 eob Y3 eob Y4 eob U1 eob V1 eob");
}

// In a field picture the motion type and the field select of a macroblock that loses its blocks
// stay as they were.
TEST(RequantCrafted, FieldPictureMacroblockKeepsItsFieldMotion) {
  const auto unit = Unit({}, {.type = 2, .structure = 1}, [](TTestBitWriter& w) {
    w.Put(2, 5).Put(0, 1);
    w.Bits("1 1 01 1 1 1");  // MC coded, field_motion_type 1, field select 1, vector 0
    w.Bits("1010 10 10");    // Y1: level 1
  });
  EXPECT_EQ(Explain(unit), "q2 | +1 t10 fmt1 sel1 mv0 mv0 cbp32 Y1 0/1 eob");
  EXPECT_EQ(Explain(Requantise(unit, 2, 2.0)), "q4 | +1 t8 fmt1 sel1 mv0 mv0");
}

// A B macroblock that loses its blocks becomes a skipped one where that decodes the same: its
// vectors are the predicted ones (every motion_code 0) and the macroblock before it predicts
// the same way. A changed direction, a vector of its own and the last macroblock of the slice
// keep it coded, with its motion alone.
TEST(RequantCrafted, BMacroblocksThatLoseTheirBlocksAreSkippedWherePredictionAllows) {
  const auto unit = Unit({.width = 96}, {.type = 3}, [](TTestBitWriter& w) {
    w.Put(2, 5).Put(0, 1);
    w.Bits("1 11 1 1 1 1 1010");  // address 0: interpolated, coded
    RunLevel(w, 0, 10);
    w.Bits("10");
    w.Bits("1 11 1 1 1 1 1010 10 10");  // 1: interpolated, vectors as predicted, level 1 -> skipped
    w.Bits("1 0011 1 1 1010 10 10");    // 2: forward: a new direction, kept without blocks
    w.Bits("1 0011 1 1 1010 10 10");    // 3: forward again, as predicted -> skipped
    w.Bits("1 0011 010 1 1010 10 10");  // 4: forward, horizontal motion_code 1: kept without blocks
    w.Bits("1 0011 1 1 1010 10 10");    // 5: the last of the slice: kept without blocks
  });
  EXPECT_EQ(
      Explain(unit),
      "q2 | +1 t14 mv0 mv0 mv0 mv0 cbp32 Y1 0/10 eob | +1 t14 mv0 mv0 mv0 mv0 cbp32 Y1 0/1 eob | +1 t10 mv0 mv0 "
      "cbp32 Y1 0/1 eob | +1 t10 mv0 mv0 cbp32 Y1 0/1 eob | +1 t10 mv1 mv0 cbp32 Y1 0/1 eob | +1 t10 mv0 mv0 cbp32 "
      "Y1 0/1 eob");
  EXPECT_EQ(Explain(Requantise(unit, 3, 2.0)),
            "q4 | +1 t14 mv0 mv0 mv0 mv0 cbp32 Y1 0/5 eob | +2 t8 mv0 mv0 | +2 t8 mv1 mv0 | +1 t8 mv0 mv0");
}
