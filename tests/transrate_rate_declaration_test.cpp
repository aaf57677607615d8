// The headers a transrated stream goes out with: the rate it now keeps, and vbv_delay 0xFFFF
// once its pictures no longer arrive as a constant-rate encoder timed them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "CliRun.h"
#include "TestBitWriter.h"
#include "TestStreams.h"
#include "syntax/BitStream3.h"
#include "syntax/HeaderParsers.h"
#include "transrate/RateDeclaration.h"

using namespace varlow;
using namespace varlow::test;

namespace {

struct TDeclared {
  std::uint32_t BitRateValue = 22'500;  // 9 Mbit/s
  std::uint32_t BitRateExtension = 0;
  bool Extension = true;  // MPEG-2
  std::uint16_t VbvDelay = 0x1234;
};

// A unit: sequence header (and extension), group, picture header with its vbv_delay, one slice.
std::vector<std::uint8_t> Unit(const TDeclared& d) {
  TTestBitWriter w;
  w.StartCode(0x1B3).Put(720, 12).Put(576, 12).Put(2, 4).Put(3, 4);
  w.Put(d.BitRateValue, 18).Put(1, 1).Put(112, 10).Put(0, 1).Put(0, 1).Put(0, 1);
  if (d.Extension) {
    w.StartCode(0x1B5).Put(1, 4).Put(0x48, 8).Put(0, 1).Put(1, 2).Put(0, 2).Put(0, 2);
    w.Put(d.BitRateExtension, 12).Put(1, 1).Put(0, 8).Put(0, 1).Put(0, 2).Put(0, 5);
  }
  w.StartCode(0x1B8).Put(0, 25).Put(1, 1).Put(0, 1).Put(0, 5);
  w.StartCode(0x100).Put(0, 10).Put(1, 3).Put(d.VbvDelay, 16).Put(0, 1);
  w.StartCode(0x101).Put(0xABCDEF, 24);                     // slice bytes that must never change
  w.StartCode(0x100).Put(0, 10).Put(1, 3).Put(0x4321, 16);  // a picture header among slice bytes is not
  return w.Bytes();                                         // one: the rewriting stops at the slices
}

struct TReadBack {
  std::int64_t Rate = 0;
  std::uint32_t Value = 0;
  std::uint16_t VbvDelay = 0;
};

TReadBack ReadBack(const std::vector<std::uint8_t>& unit) {
  TReadBack r;
  TBitStream3 reader;
  EXPECT_EQ(reader.SetData(unit.data(), static_cast<std::int32_t>(unit.size())), S_OK);
  TSequenceHeaderRec header;
  std::int32_t length = 0;
  EXPECT_TRUE(Parse_sequence_header(reader, header, length));
  r.Value = header.bit_rate_value;
  r.Rate = std::int64_t{header.bit_rate_value} * 400;
  TSequenceExtensionRec ext;
  if (unit[static_cast<std::size_t>(length) + 3] == 0xB5 && Parse_sequence_extension(reader, ext))
    r.Rate += (std::int64_t{ext.bit_rate_extension} << 18) * 400;
  EXPECT_TRUE(next_start_codeBS(reader, 0x100));
  TPictureHeaderRec picture;
  EXPECT_TRUE(Parse_picture_header(reader, picture));
  r.VbvDelay = picture.vbv_delay;
  return r;
}

}  // namespace

TEST(RateDeclaration, LowersTheRateAndClearsVbvDelayOnceStarted) {
  const auto input = Unit({});
  TRateDeclaration declaration(3'000'000);
  auto unit = input;
  declaration.Rewrite(unit);
  EXPECT_EQ(unit, input) << "a stream that has not changed goes out as it came";
  EXPECT_FALSE(declaration.Active());

  declaration.Start();
  declaration.Rewrite(unit);
  const TReadBack back = ReadBack(unit);
  EXPECT_EQ(back.Rate, 3'000'000);
  EXPECT_EQ(back.VbvDelay, 0xFFFF);
  EXPECT_EQ(declaration.LoweredRate(), 3'000'000);
  EXPECT_EQ(declaration.Rate(), 3'000'000);
  EXPECT_EQ(declaration.BufferBits(), 112 * 16 * 1024);
  // Only the rate and vbv_delay changed: 18 + 16 bits at most, the slice bytes and the picture
  // header among them untouched.
  int changed = 0;
  for (std::size_t i = 0; i < unit.size(); ++i) changed += __builtin_popcount(unit[i] ^ input[i]);
  EXPECT_LE(changed, 34);
  EXPECT_TRUE(std::equal(unit.end() - 12, unit.end(), input.end() - 12));
  // A rate that is no multiple of 400 bit/s is declared rounded up, never below.
  TRateDeclaration odd(3'000'001);
  odd.Start();
  auto oddUnit = input;
  odd.Rewrite(oddUnit);
  EXPECT_EQ(ReadBack(oddUnit).Rate, 3'000'400);
}

TEST(RateDeclaration, WhatItLeavesAlone) {
  // A declared rate already at or below the rate stays; vbv_delay still becomes 0xFFFF.
  {
    TRateDeclaration declaration(10'000'000);
    declaration.Start();
    auto unit = Unit({});
    declaration.Rewrite(unit);
    EXPECT_EQ(ReadBack(unit).Rate, 9'000'000);
    EXPECT_EQ(ReadBack(unit).VbvDelay, 0xFFFF);
    EXPECT_EQ(declaration.LoweredRate(), 0);
    EXPECT_EQ(declaration.Rate(), 9'000'000);
  }
  // An MPEG-1 variable rate (0x3FFFF) is no rate to lower.
  {
    TRateDeclaration declaration(1'000'000);
    declaration.Start();
    auto unit = Unit({.BitRateValue = 0x3FFFF, .Extension = false});
    declaration.Rewrite(unit);
    EXPECT_EQ(ReadBack(unit).Value, 0x3FFFFu);
    EXPECT_EQ(declaration.Rate(), 0);
  }
  // A run aimed at a size declares no rate of its own.
  {
    TRateDeclaration declaration(0);
    declaration.Start();
    auto unit = Unit({});
    declaration.Rewrite(unit);
    EXPECT_EQ(ReadBack(unit).Rate, 9'000'000);
    EXPECT_EQ(ReadBack(unit).VbvDelay, 0xFFFF);
  }
  // Units cut anywhere are rewritten as far as they go and never past their end.
  const auto whole = Unit({});
  for (std::size_t n = 0; n < whole.size(); ++n) {
    TRateDeclaration declaration(3'000'000);
    declaration.Start();
    std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    declaration.Rewrite(cut);
    EXPECT_EQ(cut.size(), n);
  }
}

TEST(RateDeclaration, HighRatesLoseTheirExtensionBits) {
  // 400 * (2^18 + 100000) bit/s = 144.9 Mbit/s needs bit_rate_extension 1.
  TRateDeclaration declaration(50'000'000);
  declaration.Start();
  auto unit = Unit({.BitRateValue = 100'000, .BitRateExtension = 1});
  declaration.Rewrite(unit);
  EXPECT_EQ(ReadBack(unit).Rate, 50'000'000);
  EXPECT_EQ(ReadBack(unit).Value, 125'000u);
}

// Transrated test streams at 60% and 40% by both methods declare the rate asked in every sequence
// header, give every picture vbv_delay 0xFFFF, and fit the buffer at that rate.
TEST(RateDeclaration, TransratedStreamsFitTheirDeclaredBuffer) {
  const std::regex underflows(R"re("underflows": (\d+))re");
  const std::regex declared(R"re("declared_bitrate": (\d+))re");
  const std::regex mode(R"re("mode": "(\w+)")re");
  for (const char* name : {"i420_interlaced.m2v", "p420_tools.m2v", "hd1080.m2v"}) {
    const std::string input = OwnStream(name);
    const CliRun rate = Cli("stats " + input + " --json");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(rate.out, m, std::regex(R"re("average_bitrate": (\d+))re"))) << rate.out;
    const std::int64_t average = std::stoll(m[1]);
    for (const double share : {0.6, 0.4}) {
      for (const char* method : {"requant", "cut"}) {
        SCOPED_TRACE(std::string(name) + " " + method + " " + std::to_string(share));
        const std::int64_t bitrate = std::max<std::int64_t>(static_cast<std::int64_t>(average * share), 100'000);
        const std::string out = ::testing::TempDir() + std::to_string(::getpid()) + "_rate_declaration_" + method +
                                "_" + std::to_string(static_cast<int>(share * 100)) + "_" + name;
        const CliRun run =
            Cli("transrate " + input + " " + out + " --bitrate " + std::to_string(bitrate) + " --method " + method);
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_NE(run.out.find("vbv_delay is 0xFFFF"), std::string::npos) << run.out;
        const CliRun stats = Cli("stats " + out + " --json");
        ASSERT_TRUE(std::regex_search(stats.out, m, declared)) << stats.out;
        EXPECT_EQ(std::stoll(m[1]), (bitrate + 399) / 400 * 400);
        ASSERT_TRUE(std::regex_search(stats.out, m, mode)) << stats.out;
        EXPECT_EQ(m[1], "variable");
        ASSERT_TRUE(std::regex_search(stats.out, m, underflows)) << stats.out;
        EXPECT_EQ(m[1], "0");
      }
    }
  }
}
