// The log's two channels: error lines always reach the sink, debug lines only while the debug
// channel is on.
#include <gtest/gtest.h>

#include <stdexcept>

#include "support/Log.h"
#include "support/Trap.h"

using namespace varlow;

namespace {

// Restores the start state (channel on) whatever a test did.
struct DebugChannelGuard {
  ~DebugChannelGuard() { SetDebugChannelEnabled(true); }
};

}  // namespace

TEST(LogChannels, DebugLinesFollowTheSwitchAndErrorsNeverDo) {
  DebugChannelGuard guard;
  InitLogPrefix();
  ScopedLogCapture capture;
  ASSERT_TRUE(DebugChannelEnabled());  // the window's state: everything on standard error
  EXPECT_TRUE(LogDebugFmt("FPS: %f", {25.0}));
  OutputDebugChannelString("0101");
  ASSERT_EQ(capture.Lines().size(), 2u);
  EXPECT_EQ(capture.Lines()[0], LogPrefix() + "FPS: 25.00");
  EXPECT_EQ(capture.Lines()[1], "0101");  // bit dumps carry no prefix

  capture.Clear();
  SetDebugChannelEnabled(false);
  EXPECT_TRUE(LogDebug("Quant Matrix Extension - to be implemented..."));
  EXPECT_TRUE(LogDebugFmt("here1 %s FNextX = %d, FNextY = %d", {"I", 16, 32}));
  OutputDebugChannelString("0101");
  LogMessage("wex: Error in TForm1.Open1Click call...");
  Trap("TVersionInfo.Test", [] { throw std::runtime_error("x"); });
  ASSERT_EQ(capture.Lines().size(), 2u);
  EXPECT_EQ(capture.Count("wex: Error in TForm1.Open1Click call..."), 1);
  EXPECT_EQ(capture.Count("wex: Error in TVersionInfo.Test call..."), 1);
  ClearLogPrefix();
}

TEST(LogChannels, AMismatchedDebugFormatFailsWithTheChannelOff) {
  DebugChannelGuard guard;
  ScopedLogCapture capture;
  SetDebugChannelEnabled(false);
  EXPECT_THROW(LogDebugFmt("%d, %d", {1}), std::invalid_argument);
  EXPECT_TRUE(capture.Lines().empty());
}
