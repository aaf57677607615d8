#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "CliRun.h"
#include "TestStreams.h"

namespace varlow {
namespace {

using test::Cli;
using test::CliRun;

std::string Quoted(const std::string& path) { return "'" + path + "'"; }
const std::string kTs = Quoted(test::SharedStream("containers/bt601-525_480_interlaced_bff.ts"));
const std::string kEs = Quoted(test::SharedStream("idet_interlaced_bff.m2v"));

// Text with every "$XXXXXXXX" offset taken out: what a container and its elementary stream share.
std::string WithoutOffsets(std::string text) {
  for (std::size_t p; (p = text.find('$')) != std::string::npos;) text.erase(p, 9);
  return text;
}

TEST(CliStreams, ListsTheStreamsOfAContainer) {
  const CliRun r = Cli("streams " + kTs);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out,
            "MPEG transport stream (188-byte packets)\n"
            "Index\tPID\tProgram\tType\tCodec\n"
            "0\t0x0100\t1\t0x02\tMPEG-2 video\n"
            "1\t0x0101\t1\t0x81\tAC-3 audio\n");
  const CliRun json = Cli("streams " + kTs + " --json");
  EXPECT_NE(json.out.find("{\"index\":0,\"pid\":256,\"program\":1,\"streamId\":224,\"streamType\":2,\"codec\":\"MPEG-2 video\""),
            std::string::npos)
      << json.out;
  const CliRun ps = Cli("streams " + Quoted(test::SharedStream("negative/gen2brain_test.mpg")));
  EXPECT_EQ(ps.out,
            "MPEG-1 system stream\n"
            "Index\tStream ID\tProgram\tType\tCodec\n"
            "0\t0xE0\t-\t-\tMPEG-1 video\n"
            "1\t0xC0\t-\t-\tMPEG audio\n");
  EXPECT_EQ(Cli("streams " + kEs).status, 0);
}

TEST(CliStreams, EveryCommandReadsTheChosenVideoStream) {
  // The first rows: file offsets of the start codes, lengths in video bytes.
  const CliRun packs = Cli("packs " + kTs + " --rows 3");
  ASSERT_EQ(packs.status, 0) << packs.out;
  EXPECT_EQ(packs.out,
            "Offset\tLen\tStart Code\tCoding Type\tFrame #\n"
            "$00000253\t34\tSEQUENCE_HEADER_CODE\t\t\n"
            "$00000275\t8\tGROUP_START_CODE\t\t\n"
            "$0000027D\t30912\tPICTURE_START_CODE\tI\t0\n");
  EXPECT_EQ(Cli("packs " + kTs + " --rows 3 --stream 0").out, packs.out);
  EXPECT_EQ(WithoutOffsets(packs.out), WithoutOffsets(Cli("packs " + kEs + " --rows 3").out));

  const CliRun headers = Cli("headers " + kTs + " --offset 0x27D");
  ASSERT_EQ(headers.status, 0) << headers.out;
  const CliRun plain = Cli("headers " + kEs + " --offset 0x2A");
  EXPECT_EQ(headers.out.substr(0, plain.out.size()), plain.out);
  const CliRun slice = Cli("slice " + kTs + " --offset 0x27D --slice 3");
  ASSERT_EQ(slice.status, 0) << slice.out;
  EXPECT_EQ(slice.out, Cli("slice " + kEs + " --offset 0x2A --slice 3").out);
  EXPECT_EQ(WithoutOffsets(Cli("stats " + kTs).out), WithoutOffsets(Cli("stats " + kEs).out));

  // An offset inside the container where no unit starts is refused as in a plain file.
  EXPECT_EQ(Cli("headers " + kTs + " --offset 0x27E").status, 1);
}

TEST(CliStreams, RefusalsNameWhatIsWrong) {
  const CliRun audio = Cli("packs " + kTs + " --stream 1");
  EXPECT_EQ(audio.status, 1);
  EXPECT_NE(audio.out.find("Stream 1 is not MPEG-1/2 video: it is AC-3 audio"), std::string::npos) << audio.out;
  const CliRun missing = Cli("stats " + kTs + " --stream 7");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("No stream 7"), std::string::npos) << missing.out;
  EXPECT_EQ(Cli("packs " + kTs + " --stream x").status, 1);
  const std::string out = "/tmp/varlow-container-out-" + std::to_string(::getpid()) + ".ts";
  const CliRun program = Cli("transrate " + Quoted(test::OwnStream("p420_plain.vob")) + " '" + out + "' --keep-mux-rate");
  EXPECT_EQ(program.status, 0) << program.out;
  EXPECT_NE(program.out.find("video packets made padding"), std::string::npos) << program.out;
  EXPECT_EQ(Cli("transrate " + kTs + " '" + out + "' --stream 1").status, 1);
  EXPECT_EQ(Cli("transrate " + kTs + " '" + out + "' --stream one").status, 2);

  // A transport stream comes out as one, and the summary says what else it carried.
  const CliRun ts = Cli("transrate " + kTs + " '" + out + "' --bitrate 1640000");
  EXPECT_EQ(ts.status, 0) << ts.out;
  EXPECT_NE(ts.out.find("transrate: video 3419049 -> "), std::string::npos) << ts.out;
  EXPECT_NE(ts.out.find("other PIDs"), std::string::npos) << ts.out;
  EXPECT_EQ(Cli("streams '" + out + "'").out, Cli("streams " + kTs).out);
  std::remove(out.c_str());
}

} // namespace
} // namespace varlow
