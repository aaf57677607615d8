#include "overview/OverviewReport.h"

#include <cmath>
#include <cstdio>

#include "support/Format.h"
#include "support/MemoryTree.h"

namespace varlow {

namespace {

// Shortest decimal that reads back to the same value to ten digits; never "nan" or "inf".
std::string Decimal(double value) {
  if (!std::isfinite(value)) return "0";
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

std::string Whole(double value) { return std::isfinite(value) ? std::to_string(std::llround(value)) : "0"; }

// Builds one object, a key per line.
class TJsonObject {
public:
  explicit TJsonObject(int indent) : FIndent(indent) {}
  TJsonObject& Raw(const std::string& key, const std::string& value) {
    FText += FText.empty() ? "{\n" : ",\n";
    FText += std::string(static_cast<std::size_t>(FIndent + 2), ' ') + JsonString(key) + ": " + value;
    return *this;
  }
  TJsonObject& Int(const std::string& key, std::int64_t value) { return Raw(key, std::to_string(value)); }
  TJsonObject& Num(const std::string& key, double value) { return Raw(key, Decimal(value)); }
  TJsonObject& Text(const std::string& key, const std::string& value) { return Raw(key, JsonString(value)); }
  TJsonObject& Bool(const std::string& key, bool value) { return Raw(key, value ? "true" : "false"); }
  std::string Done() const {
    if (FText.empty()) return "{}";
    return FText + "\n" + std::string(static_cast<std::size_t>(FIndent), ' ') + "}";
  }

private:
  int FIndent;
  std::string FText;
};

std::string PerType(const TOverviewStatistics& s, std::int64_t TTypeStatistics::*field) {
  return TJsonObject(2)
      .Int("I", s.I.*field)
      .Int("P", s.P.*field)
      .Int("B", s.B.*field)
      .Int("D", s.D.*field)
      .Done();
}

std::string Bits(double bitsPerSecond) { return Format("%d bit/s", {std::llround(bitsPerSecond)}); }

std::string Extremes(const TTypeStatistics& t) {
  if (t.Count == 0) return "-";
  return Format("largest %d bytes at $%.8x, smallest %d bytes at $%.8x, average %d bytes",
                {t.MaxBytes, t.MaxOffset, t.MinBytes, t.MinOffset, t.TotalBytes / t.Count});
}

const char* VbvModeName(TVbvMode mode) { return mode == TVbvMode::Constant ? "constant" : "variable"; }

// The buffer's figures; null where the model could not run (no rate or buffer size declared).
std::string VbvJson(const TVbvSummary& v) {
  const auto figure = [&v](std::int64_t value) { return v.Modelled ? std::to_string(value) : std::string("null"); };
  return TJsonObject(2)
      .Text("mode", VbvModeName(v.Mode))
      .Int("buffer_bits", v.BufferBits)
      .Int("rate", v.Rate)
      .Raw("lowest_bits", figure(v.LowestBits))
      .Raw("lowest_picture", figure(v.LowestPicture))
      .Raw("underflows", figure(v.Underflows))
      .Raw("overflows", figure(v.Overflows))
      .Done();
}

// The first few pictures of one kind of event, "12, 40, 41 and 3 more".
std::string EventPictures(const TVbvSummary& v, TVbvEvent::Kind kind, std::int64_t count) {
  constexpr std::int64_t kListed = 5;
  std::string text;
  std::int64_t listed = 0;
  for (const TVbvEvent& e : v.Events) {
    if (e.What != kind) continue;
    if (listed == kListed) break;
    text += (listed++ ? ", " : " at pictures ") + std::to_string(e.Picture);
  }
  if (count > listed) text += Format(" and %d more", {count - listed});
  return text;
}

void VbvRows(const TVbvSummary& v, std::vector<std::pair<std::string, std::string>>& rows) {
  const std::string mode = v.Mode == TVbvMode::Constant ? "constant rate (vbv_delay)" : "variable rate";
  if (!v.Modelled) {
    rows.push_back({"VBV", mode + (v.Pictures ? ", not modelled: no bit rate, buffer size or frame rate declared"
                                              : ", no pictures")});
    return;
  }
  rows.push_back({"VBV", mode + Format(", buffer %d bits at %d bit/s", {v.BufferBits, v.Rate})});
  const double percent = v.BufferBits > 0 ? 100.0 * static_cast<double>(v.LowestBits) / static_cast<double>(v.BufferBits) : 0;
  rows.push_back({"VBV lowest", Format("%d bits (", {v.LowestBits}) + Decimal(std::round(percent * 10) / 10) +
                                    Format("%%) after picture %d", {v.LowestPicture})});
  rows.push_back({"VBV underflows", std::to_string(v.Underflows) + EventPictures(v, TVbvEvent::Kind::Underflow, v.Underflows)});
  rows.push_back({"VBV overflows", std::to_string(v.Overflows) + EventPictures(v, TVbvEvent::Kind::Overflow, v.Overflows)});
}

} // namespace

std::string StatisticsToJson(const TOverviewStatistics& s, const TScanReport& report) {
  const std::string pictures = TJsonObject(2)
                                   .Int("I", s.I.Count)
                                   .Int("P", s.P.Count)
                                   .Int("B", s.B.Count)
                                   .Int("D", s.D.Count)
                                   .Int("other", s.Other.Count)
                                   .Int("total", s.Pictures)
                                   .Done();
  const std::string gopLength = TJsonObject(2)
                                    .Int("min", s.GroupLengthMin)
                                    .Int("max", s.GroupLengthMax)
                                    .Int("most_common", s.GroupLengthMostCommon)
                                    .Done();
  std::string issues = "[";
  for (std::size_t k = 0; k < report.Issues.size(); ++k) {
    issues += k ? ",\n    " : "\n    ";
    issues += "{\"offset\": " + std::to_string(report.Issues[k].Offset) +
              ", \"text\": " + JsonString(report.Issues[k].Text) + "}";
  }
  issues += report.Issues.empty() ? "]" : "\n  ]";
  return TJsonObject(0)
             .Raw("pictures", pictures)
             .Int("gops", s.Groups)
             .Num("duration_s", s.Duration)
             .Raw("average_bitrate", Whole(s.AverageBitRate))
             .Raw("peak_bitrate_1s", Whole(s.PeakBitRateSecond))
             .Raw("peak_bitrate_gop", Whole(s.PeakBitRateGroup))
             .Raw("max_picture_bytes", PerType(s, &TTypeStatistics::MaxBytes))
             .Raw("min_picture_bytes", PerType(s, &TTypeStatistics::MinBytes))
             .Raw("max_picture_offset", PerType(s, &TTypeStatistics::MaxOffset))
             .Raw("min_picture_offset", PerType(s, &TTypeStatistics::MinOffset))
             .Int("width", s.Width)
             .Int("height", s.Height)
             .Num("frame_rate", s.FrameRate)
             .Text("chroma_format", s.ChromaFormat)
             .Text("profile_level", s.ProfileLevel)
             .Bool("mpeg2", s.Mpeg2)
             .Int("aspect_ratio_information", s.AspectRatioInformation)
             .Int("declared_bitrate", s.DeclaredBitRate)
             .Bool("variable_bitrate", s.VariableBitRate)
             .Int("vbv_buffer_size_bits", s.VbvBufferBits)
             .Raw("vbv", VbvJson(s.Vbv))
             .Bool("progressive_sequence", s.ProgressiveSequence)
             .Text("scan", s.Scan)
             .Num("frames", s.Frames)
             .Int("field_pictures", s.FieldPictures)
             .Int("repeat_first_field", s.RepeatFirstField)
             .Int("progressive_frames", s.ProgressiveFrames)
             .Raw("gop_length", gopLength)
             .Int("closed_gops", s.ClosedGroups)
             .Int("open_gops", s.OpenGroups)
             .Int("broken_links", s.BrokenLinks)
             .Int("peak_1s_ends_at_offset", s.PeakSecondEndsAt)
             .Int("peak_gop_offset", s.PeakGroupOffset)
             .Int("sequence_headers", s.SequenceHeaders)
             .Int("parameter_changes", s.ParameterChanges)
             .Int("stream_bytes", s.StreamBytes)
             .Int("file_bytes", report.FileSizeAtStart)
             .Int("bytes_scanned", report.BytesScanned)
             .Int("skipped_bytes", s.SkippedBytes)
             .Int("damaged_units", s.DamagedUnits)
             .Text("scan_state", s.ScanState)
             .Raw("issues", issues)
             .Done() +
         "\n";
}

std::vector<std::pair<std::string, std::string>> StatisticsRows(const TOverviewStatistics& s) {
  auto n = [](std::int64_t v) { return std::to_string(v); };
  std::vector<std::pair<std::string, std::string>> rows = {
      {"Pictures", Format("%d (I %d, P %d, B %d)", {s.Pictures, s.I.Count, s.P.Count, s.B.Count})},
  };
  if (s.D.Count || s.Other.Count) rows.push_back({"Other pictures", Format("D %d, unknown %d", {s.D.Count, s.Other.Count})});
  rows.insert(rows.end(), {
      {"Groups of pictures", Format("%d (closed %d, open %d, broken_link %d)",
                                    {s.Groups, s.ClosedGroups, s.OpenGroups, s.BrokenLinks})},
      {"Group length", Format("min %d, max %d, most common %d pictures",
                              {s.GroupLengthMin, s.GroupLengthMax, s.GroupLengthMostCommon})},
      {"Duration", Decimal(std::round(s.Duration * 1000) / 1000) + " s (" + Decimal(s.Frames) + " frames)"},
      {"Average bit rate", Bits(s.AverageBitRate)},
      {"Peak bit rate, 1 s", Bits(s.PeakBitRateSecond)},
      {"Peak bit rate, group", Bits(s.PeakBitRateGroup)},
      {"I pictures", Extremes(s.I)},
      {"P pictures", Extremes(s.P)},
      {"B pictures", Extremes(s.B)},
      {"Declared bit rate",
       s.VariableBitRate ? std::string("variable (bit_rate_value 0x3FFFF)") : Bits(static_cast<double>(s.DeclaredBitRate))},
      {"VBV buffer size", Format("%d bits", {s.VbvBufferBits})},
  });
  VbvRows(s.Vbv, rows);
  rows.insert(rows.end(), {
      {"Resolution", Format("%dx%d", {s.Width, s.Height})},
      {"Frame rate", Decimal(s.FrameRate) + " frames/s"},
      {"Chroma format", s.ChromaFormat},
      {"Profile and level", s.ProfileLevel},
      {"Scan", s.Scan + Format(" (field pictures %d, repeat_first_field %d, progressive_frame %d)",
                               {s.FieldPictures, s.RepeatFirstField, s.ProgressiveFrames})},
      {"Sequence headers", Format("%d (%d changes of parameters)", {s.SequenceHeaders, s.ParameterChanges})},
      {"Stream bytes", n(s.StreamBytes)},
      {"Damaged units skipped", n(s.DamagedUnits)},
      {"Bytes before the first start code", n(s.SkippedBytes)},
      {"Scan", s.ScanState},
  });
  rows.back().first = "Scan state";
  return rows;
}

std::string StatisticsToText(const TOverviewStatistics& s, const TScanReport& report) {
  const auto rows = StatisticsRows(s);
  std::size_t width = 0;
  for (const auto& row : rows) width = std::max(width, row.first.size());
  std::string text;
  for (const auto& [label, value] : rows) text += label + ":" + std::string(width + 1 - label.size(), ' ') + value + "\n";
  for (const auto& issue : report.Issues) text += Format("skipped at $%.8x: ", {issue.Offset}) + issue.Text + "\n";
  return text;
}

} // namespace varlow
