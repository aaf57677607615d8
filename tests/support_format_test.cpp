#include <gtest/gtest.h>

#include "support/Format.h"
#include "support/LockedVariable.h"
#include "support/Log.h"
#include "support/MemoryTree.h"
#include "support/Trap.h"

using namespace varlow;

TEST(Format, DirectivesUsedByTheProgramTexts) {
  EXPECT_EQ(Format("Slice %d", {3}), "Slice 3");
  EXPECT_EQ(Format("slice_start_code = $%.8x (32 bits)", {0x101}), "slice_start_code = $00000101 (32 bits)");
  EXPECT_EQ(Format("$%.8x", {static_cast<std::int32_t>(0x80004005u)}), "$80004005");
  EXPECT_EQ(Format("%.2d:%.2d", {1, 12}), "01:12");
  EXPECT_EQ(Format("FPS: %f", {25.0}), "FPS: 25.00");
  EXPECT_EQ(Format("%d%%", {5}), "5%");
  EXPECT_EQ(Format("%.2d, ", {8}), "08, ");
  EXPECT_EQ(Format("%d", {-16}), "-16");
}

TEST(Format, MismatchedArgumentsThrow) {
  EXPECT_THROW(Format("%d", {}), std::invalid_argument);
  EXPECT_THROW(Format("%d", {"text"}), std::invalid_argument);
  EXPECT_THROW(Format("%q", {1}), std::invalid_argument);
}

TEST(Log, PrefixAndCapture) {
  ScopedLogCapture capture;
  ClearLogPrefix();
  LogMessage("before start-up");
  InitLogPrefix();
  LogMessage("");
  LogMessageFmt("here1 I FNextX = %d, FNextY = %d", {16, 32});
  ASSERT_EQ(capture.Lines().size(), 3u);
  EXPECT_EQ(capture.Lines()[0], "before start-up");
  EXPECT_EQ(capture.Lines()[1], LogPrefix());
  EXPECT_EQ(LogPrefix(), "varlow_tests: ");
  EXPECT_EQ(capture.Lines()[2], "varlow_tests: here1 I FNextX = 16, FNextY = 32");
}

TEST(Trap, FailingBodyLogsExactlyOneLineAndCallerGoesOn) {
  ScopedLogCapture capture;
  int result = -1;
  bool ok = Trap("TForm1.Open1Click", [&] {
    result = 1;
    throw std::runtime_error("boom");
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(result, 1);  // no rollback
  ASSERT_EQ(capture.Lines().size(), 1u);
  EXPECT_EQ(capture.Count("wex: Error in TForm1.Open1Click call..."), 1);
  EXPECT_TRUE(Trap("X.Y", [] {}));
  EXPECT_EQ(capture.Lines().size(), 1u);
}

TEST(LockedVariable, KeepsValues) {
  TLockedInteger i;
  EXPECT_EQ(i.Value(), 0);
  i.SetValue(5);
  EXPECT_EQ(i.Value(), 5);
  TLockedDouble d;
  EXPECT_EQ(d.Value(), 0.0);
  d.SetValue(1.0 / 3.0);
  EXPECT_EQ(d.Value(), 1.0 / 3.0);
}

TEST(MemoryTree, TextAndJson) {
  TMemoryTree tree;
  auto root = tree.AddChild(TTreeSink::kRoot, "Slice 0");
  tree.AddChild(root, "slice_start_code = $00000101 (32 bits)", 0, 32);
  auto mb = tree.AddChild(root, "MacroBlock 0");
  tree.AddChild(mb, "quote \" here", 37, 1);
  EXPECT_EQ(tree.ToText(), "Slice 0\n  slice_start_code = $00000101 (32 bits)\n  MacroBlock 0\n    quote \" here\n");
  EXPECT_EQ(tree.ToJson(),
            "[{\"text\":\"Slice 0\",\"children\":[{\"text\":\"slice_start_code = $00000101 (32 bits)\",\"bitPos\":0,"
            "\"bitWidth\":32},{\"text\":\"MacroBlock 0\",\"children\":[{\"text\":\"quote \\\" here\",\"bitPos\":37,"
            "\"bitWidth\":1}]}]}]");
  EXPECT_EQ(tree.FindPrefix("MacroBlock").size(), 1u);
  EXPECT_EQ(tree.Depth(3), 2);
}

// Every form of element text, made from the data alone: the names, indices and widths as the
// trees have always shown them, labels where they differ from the name.
TEST(SyntaxElement, TextsOfEveryForm) {
  EXPECT_EQ(ElementText(TElement::Field("marker_bit", 1, 82, 1)), "marker_bit = 1 (1 bit)");
  EXPECT_EQ(ElementText(TElement::Field("f_code", 7, 0, 4).Indexed({1, 0})), "f_code[1][0] = 7 (4 bits)");
  EXPECT_EQ(ElementText(TElement::Field("frame_pred_frame_dct", 1, 0, 1).Labelled("frame_pred_frame_dtc")),
            "frame_pred_frame_dtc = 1 (1 bit)");
  EXPECT_EQ(ElementText(TElement::Field("macroblock_type", 1, 0, 1).In(TWidthUnit::Bits)),
            "macroblock_type = 1 (1 bits)");
  EXPECT_EQ(ElementText(TElement::Field("frame_motion_type", 2, 0, 2).In(TWidthUnit::Bit)),
            "frame_motion_type = 2 (2 bit)");
  EXPECT_EQ(ElementText(TElement::Field("dct_type", 0, TElement::kNoPosition, 0).Stating(1)), "dct_type = 0 (1 bit)");
  EXPECT_EQ(ElementText(TElement::Field("motion_code", -16, 0, 11).Indexed({1, 1, 0})),
            "motion_code[1][1][0] = -16 (11 bits)");
  EXPECT_EQ(ElementText(TElement::Code("slice_start_code", 0x1AF, 0)), "slice_start_code = $000001AF (32 bits)");
  EXPECT_EQ(ElementText(TElement::Field("time_code", 4096, 0, 25).As(TElementForm::Noted).Noted("00:00:00:00")),
            "time_code = 4096 (00:00:00:00) (25 bits)");
  EXPECT_EQ(ElementText(TElement::Field("extra_bit_picture", 2, 0, 10).As(TElementForm::Count)),
            "extra_bit_picture - 2 x (1 bit)");
  EXPECT_EQ(ElementText(TElement::Coefficient(0, -1, 0, 3).Stating(2)), "Run = 0, Level = -1 (2 bits)");
  EXPECT_EQ(ElementText(TElement::Coefficient(5, -2048, 0, 24).As(TElementForm::Escape)),
            "Escape: Run = 5, Level = -2048 (24 bits)");
  EXPECT_EQ(ElementText(TElement::Field("end_of_block", 0, 0, 4)
                            .Labelled("End Of Block")
                            .As(TElementForm::Width)
                            .In(TWidthUnit::Bits)),
            "End Of Block (4 bits)");
  EXPECT_EQ(ElementText(TElement::Group("slice", "Slice").Numbered(0)), "Slice 0");
  EXPECT_EQ(ElementText(TElement::Group("block", "Block").Noted("V2 (not coded)")), "Block V2 (not coded)");
  EXPECT_EQ(ElementText(TElement::Group("sequence_header")), "sequence_header");
  EXPECT_EQ(ElementText(TElement::Damage("Invalid code", 7)), "Invalid code");
  EXPECT_EQ(ElementName(TElement::Field("f_code", 7, 0, 4).Indexed({0, 1}).Labelled("other")), "f_code[0][1]");
}

// Elements added as data keep their name, indices and value beside the text: JSON gives them as
// fields (numbers as numbers), groups their name only; plain text nodes stay as they were.
TEST(MemoryTree, JsonGivesNamesAndValuesOfElements) {
  TMemoryTree tree;
  const auto group = tree.Add(TTreeSink::kRoot, TElement::Group("picture_coding_extension", {}, 0, 66));
  tree.Add(group, TElement::Field("f_code", 15, 36, 4).Indexed({1, 1}));
  tree.Add(group, TElement::Field("frame_pred_frame_dct", 1, 57, 1).Labelled("frame_pred_frame_dtc"));
  tree.Add(group, TElement::Coefficient(3, -2, 60, 6).Stating(5));
  tree.Add(group, TElement::Damage("Invalid code at bit 66", 66));
  tree.AddChild(group, "plain");
  EXPECT_EQ(tree.ToText(),
            "picture_coding_extension\n  f_code[1][1] = 15 (4 bits)\n  frame_pred_frame_dtc = 1 (1 bit)\n"
            "  Run = 3, Level = -2 (5 bits)\n  !! Invalid code at bit 66\n  plain\n");
  EXPECT_EQ(
      tree.ToJson(),
      "[{\"text\":\"picture_coding_extension\",\"name\":\"picture_coding_extension\",\"bitPos\":0,\"bitWidth\":66,"
      "\"children\":[{\"text\":\"f_code[1][1] = 15 (4 bits)\",\"name\":\"f_code\",\"index\":[1,1],\"value\":15,"
      "\"bitPos\":36,\"bitWidth\":4},{\"text\":\"frame_pred_frame_dtc = 1 (1 bit)\",\"name\":\"frame_pred_frame_dct\","
      "\"value\":1,\"bitPos\":57,\"bitWidth\":1},{\"text\":\"Run = 3, Level = -2 (5 "
      "bits)\",\"name\":\"dct_coefficient\","
      "\"value\":-2,\"run\":3,\"bitPos\":60,\"bitWidth\":6},{\"text\":\"Invalid code at bit 66\",\"bitPos\":66,"
      "\"bitWidth\":0,\"damage\":true},{\"text\":\"plain\"}]}]");
  EXPECT_EQ(tree.At(2).name, "frame_pred_frame_dct");
  EXPECT_TRUE(tree.At(1).hasValue);
  EXPECT_FALSE(tree.At(0).hasValue);
}
