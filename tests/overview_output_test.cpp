// What the overview writes: the JSON object, the picture lines, the SVG graph, and the two
// commands that print them.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <algorithm>
#include <cmath>
#include <regex>

#include "BrowseTestFiles.h"
#include "overview_craft.h"
#include "overview/GraphSvg.h"
#include "overview/PictureSummary.h"
#include "overview/OverviewReport.h"
#include "overview/PictureTable.h"
#include "overview/PictureTiming.h"

namespace varlow::test {
namespace {

std::string RunCli(const std::string& args, int& status) {
  std::string out;
  FILE* pipe = ::popen((std::string(VARLOW_CLI_PATH) + " " + args + " 2>/dev/null").c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int raw = ::pclose(pipe);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

// The number after "key": in a JSON text (the first one), or NaN.
double JsonNumber(const std::string& json, const std::string& key) {
  std::smatch m;
  if (!std::regex_search(json, m, std::regex("\"" + key + "\": (-?[0-9.e+]+)"))) return std::nan("");
  return std::stod(m[1]);
}

// Tags balance and every attribute value is quoted: enough to tell that a reader will take it.
bool LooksLikeWellFormedXml(const std::string& text) {
  std::vector<std::string> open;
  std::size_t p = 0;
  while ((p = text.find('<', p)) != std::string::npos) {
    const std::size_t end = text.find('>', p);
    if (end == std::string::npos) return false;
    std::string tag = text.substr(p + 1, end - p - 1);
    p = end + 1;
    if (tag.empty() || tag[0] == '?' || tag[0] == '!') continue;
    if (std::count(tag.begin(), tag.end(), '"') % 2) return false;
    if (tag.back() == '/') continue;
    const std::string name = tag.substr(tag[0] == '/' ? 1 : 0, tag.find_first_of(" /", 1) - (tag[0] == '/' ? 1 : 0));
    if (tag[0] != '/') {
      open.push_back(name);
    } else {
      if (open.empty() || open.back() != name) return false;
      open.pop_back();
    }
  }
  return open.empty();
}

TEST(OverviewOutput, JsonCarriesTheNumbersUnderTheirKeys) {
  TOverviewData data = ScanPath(SharedStream("idet_soft_telecine.m2v"));
  const TOverviewStatistics s = ComputeStatistics(data);
  const std::string json = StatisticsToJson(s, data.Report);
  EXPECT_EQ(json.front(), '{');
  EXPECT_NE(json.find("\"pictures\": {\n    \"I\": 20,\n    \"P\": 218,\n    \"B\": 2,"), std::string::npos) << json;
  EXPECT_EQ(JsonNumber(json, "total"), 240);
  EXPECT_EQ(JsonNumber(json, "gops"), 20);
  EXPECT_NEAR(JsonNumber(json, "duration_s"), 10.01, 1e-9);
  EXPECT_EQ(JsonNumber(json, "width"), 720);
  EXPECT_EQ(JsonNumber(json, "height"), 480);
  EXPECT_NEAR(JsonNumber(json, "frame_rate"), 29.97002997, 1e-8);
  EXPECT_EQ(JsonNumber(json, "average_bitrate"), std::llround(s.AverageBitRate));
  EXPECT_EQ(JsonNumber(json, "peak_bitrate_1s"), std::llround(s.PeakBitRateSecond));
  EXPECT_EQ(JsonNumber(json, "peak_bitrate_gop"), std::llround(s.PeakBitRateGroup));
  EXPECT_NE(json.find("\"max_picture_bytes\": {\n    \"I\": " + std::to_string(s.I.MaxBytes)), std::string::npos);
  EXPECT_NE(json.find("\"chroma_format\": \"4:2:0\""), std::string::npos);
  EXPECT_NE(json.find("\"profile_level\": \"MP@ML\""), std::string::npos);
  EXPECT_NE(json.find("\"issues\": []"), std::string::npos);
  EXPECT_EQ(std::count(json.begin(), json.end(), '{'), std::count(json.begin(), json.end(), '}'));
}

TEST(OverviewOutput, IssuesAreEscapedIntoTheJson) {
  TOverviewData data;
  data.Report.Issues.push_back({5, "a \"quoted\" text\nover two lines"});
  const std::string json = StatisticsToJson(ComputeStatistics(data), data.Report);
  EXPECT_NE(json.find(R"({"offset": 5, "text": "a \"quoted\" text\nover two lines"})"), std::string::npos) << json;
  EXPECT_EQ(JsonNumber(json, "duration_s"), 0);  // no pictures: zeros, never nan
}

TEST(OverviewOutput, PictureLinesAndCsv) {
  const TOverviewData data = ScanPath(SampleStream());
  std::vector<std::string> lines;
  WritePictureLines(data, false, [&](std::string_view line) { lines.emplace_back(line); });
  ASSERT_EQ(lines.size(), data.Pictures.size());
  EXPECT_EQ(lines[0], std::to_string(data.Pictures[0].Offset()) + "\t" + std::to_string(data.Pictures[0].Size()) + "\tI\t0\t0\n");
  lines.clear();
  WritePictureLines(data, true, [&](std::string_view line) { lines.emplace_back(line); });
  ASSERT_EQ(lines.size(), data.Pictures.size() + 1);
  EXPECT_EQ(lines[0].substr(0, 41), "offset,size,type,temporal_reference,group");
  for (const auto& line : lines) EXPECT_EQ(std::count(line.begin(), line.end(), ','), 9) << line;
}

TEST(OverviewOutput, SvgHasOneBarPerPictureDrawn) {
  const TOverviewData data = ScanPath(SharedStream("greyramp.mpg"));
  const auto rates = SecondBitRates(data, 3, 13);
  TSvgGraphOptions options;
  options.First = 3;
  options.Count = 10;
  options.Rates = &rates;
  options.DeclaredBitRate = 5e6;
  std::string svg = GraphToSvg(data, options);
  EXPECT_TRUE(LooksLikeWellFormedXml(svg));
  auto count = [&svg](const std::string& what) {
    std::size_t n = 0;
    for (std::size_t p = svg.find(what); p != std::string::npos; p = svg.find(what, p + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("<rect class=\"bar "), 10u);
  EXPECT_EQ(count("<rect class=\"bar I\""), 1u);  // picture 10 is the second group's I
  EXPECT_EQ(count("<polyline id=\"rate\""), 1u);
  EXPECT_EQ(count("<line id=\"declared\""), 1u);
  options.Count = 1000;  // cut to the pictures there are
  svg = GraphToSvg(data, options);
  EXPECT_EQ(count("<rect class=\"bar "), data.Pictures.size() - 3);
}

TEST(OverviewOutput, StatsAndPicturesCommands) {
  int status = -1;
  const std::string telecine = "'" + SharedStream("idet_soft_telecine.m2v") + "'";
  const std::string json = RunCli("stats " + telecine + " --json", status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(JsonNumber(json, "total"), 240);
  EXPECT_NEAR(JsonNumber(json, "duration_s"), 10.01, 1e-9);
  const std::string text = RunCli("stats " + telecine, status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(text.find("Profile and level:"), std::string::npos);
  EXPECT_NE(text.find("10.01 s (300 frames)"), std::string::npos) << text;

  const std::string csv = RunCli("pictures " + telecine + " --csv", status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 241);

  RunCli("stats '" + SharedStream("negative/end-of-sequence.mpg") + "'", status);
  EXPECT_EQ(status, 1);  // refused as File > Open refuses it
  RunCli("pictures", status);
  EXPECT_EQ(status, 2);
}

} // namespace
} // namespace varlow::test
