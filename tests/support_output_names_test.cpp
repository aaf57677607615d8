#include <gtest/gtest.h>

#include "support/OutputNames.h"

namespace varlow {
namespace {

TEST(ProposedOutputName, BesideTheStreamAfterItsName) {
  EXPECT_EQ(ProposedOutputName("/v/clip.m2v", "overview", "png"), "/v/clip-overview.png");
  EXPECT_EQ(ProposedOutputName("/v/clip.m2v", "overview", "svg"), "/v/clip-overview.svg");
  // Only the last extension goes; folders with dots stay as they are.
  EXPECT_EQ(ProposedOutputName("/a.b/clip.part1.mpg", "statistics", "json"), "/a.b/clip.part1-statistics.json");
  EXPECT_EQ(ProposedOutputName("clip.m2v", "overview", "png"), "clip-overview.png");
}

TEST(ProposedOutputName, TheStreamsOwnExtensionWhenNoneIsGiven) {
  EXPECT_EQ(ProposedOutputName("/v/clip.m2v", "transrated"), "/v/clip-transrated.m2v");
  EXPECT_EQ(ProposedOutputName("/v/dvd.vob", "transrated"), "/v/dvd-transrated.vob");
  EXPECT_EQ(ProposedOutputName("/v/raw", "transrated"), "/v/raw-transrated.m2v");
  // No stream: the name alone.
  EXPECT_EQ(ProposedOutputName("", "overview", "png"), "overview.png");
  EXPECT_EQ(ProposedOutputName("", "transrated"), "transrated.m2v");
}

}  // namespace
}  // namespace varlow
