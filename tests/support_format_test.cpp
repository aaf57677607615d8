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
