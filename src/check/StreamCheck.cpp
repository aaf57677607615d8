#include "check/StreamCheck.h"

#include <algorithm>

#include "browser/HeaderTree.h"
#include "buffer/VbvCurve.h"
#include "check/GroupRules.h"
#include "check/HeaderRules.h"
#include "overview/OverviewScanner.h"
#include "overview/StartCodeFinder.h"
#include "support/Format.h"
#include "support/MemoryTree.h"
#include "support/PaddedBuffer.h"
#include "support/Trap.h"

namespace varlow {

namespace {

constexpr std::size_t kBlockBytes = 4 * 1024 * 1024;
// A header with its extensions lies within this many bytes of its start code; user data longer
// than that before an extension hides the extension from the check.
constexpr std::size_t kHeaderSpan = 4096;

// Keeps the header tree's elements with their names, values and positions, nothing more.
class TElementSink final : public TTreeSink {
 public:
  struct TNode {
    std::string Name;  // with its indices: "f_code[0][1]"; a group's name
    std::int64_t Value;
    std::int64_t Bit;
    NodeId Parent;
    bool Decimal;  // a field whose value is a number (not a start code, a time code or a list)
  };
  NodeId Add(NodeId parent, const TElement& e) override {
    const bool decimal = e.Kind == TElementKind::Field && e.HasValue && e.Form == TElementForm::Decimal;
    FNodes.push_back({ElementName(e), e.Value, e.BitPos, parent, decimal});
    return static_cast<NodeId>(FNodes.size() - 1);
  }
  NodeId AddChild(NodeId parent, std::string_view, std::int64_t bitPos, std::int32_t) override {
    FNodes.push_back({std::string(), 0, bitPos, parent, false});
    return static_cast<NodeId>(FNodes.size() - 1);
  }
  const std::vector<TNode>& Nodes() const { return FNodes; }
  void Clear() { FNodes.clear(); }

 private:
  std::vector<TNode> FNodes;
};

bool Checked(std::uint8_t code) { return code == 0xB3 || code == 0x00; }
bool Indexed(std::uint8_t code) { return code == 0xB3 || code == 0x00 || code == 0xB7 || code == 0xB8; }

class THeaderCheck {
 public:
  explicit THeaderCheck(TCheckReport& report) : FReport(report) {}

  void Pack(std::int64_t offset, const std::uint8_t* bytes, std::size_t shown) {
    TPackRec rec;
    rec.Offset = offset;
    std::copy_n(bytes, 4, rec.StartCode.begin());
    FSink.Clear();
    BuildHeaderTree(FReader, bytes, static_cast<std::int32_t>(shown), rec, FSink);
    const auto& nodes = FSink.Nodes();
    if (rec.StartCode[3] == 0xB3)
      FMpeg2 = std::any_of(nodes.begin(), nodes.end(), [](const auto& n) { return n.Name == "sequence_extension"; });
    for (const auto& node : nodes) {
      if (!node.Decimal || node.Parent < 0) continue;
      const std::string& header = nodes[static_cast<std::size_t>(node.Parent)].Name;
      const std::string rule = BrokenHeaderRule(header, node.Name, node.Value, FMpeg2);
      if (!rule.empty()) Add(FReport, {offset, node.Bit, node.Name, node.Value, rule});
    }
  }

  static void Add(TCheckReport& report, TViolation violation) {
    ++report.Count;
    if (report.Violations.size() < TCheckReport::kMaxViolations) report.Violations.push_back(std::move(violation));
  }

 private:
  TCheckReport& FReport;
  TBitStream3 FReader;
  TElementSink FSink;
  bool FMpeg2 = false;
};

// Reads the source front to back and checks every sequence header and picture pack.
void CheckHeaders(const TByteSource& source, TCheckReport& report) {
  THeaderCheck check(report);
  TPaddedBuffer buffer(kBlockBytes);
  TSourcePlaces places;
  std::vector<std::uint32_t> codes;
  std::int64_t position = 0;
  for (;;) {
    places.Clear();
    const std::int64_t got = ReadBlockAt(source, position, buffer, kBlockBytes, &places);
    if (got <= 0) break;
    const auto n = static_cast<std::size_t>(got);
    const bool atEnd = n < kBlockBytes;
    const std::uint8_t* data = buffer.Data();
    codes.clear();
    FindStartCodesButSliceRuns(data, n, codes);
    std::size_t next = n >= 3 ? n - 3 : n;  // where the next read begins: a start code may straddle
    for (std::size_t k = 0; k < codes.size(); ++k) {
      const std::size_t q = codes[k];
      if (!Checked(data[q + 3])) continue;
      if (!atEnd && n - q < kHeaderSpan) {
        next = q;
        break;
      }
      std::size_t end = n;
      for (std::size_t j = k + 1; j < codes.size(); ++j)
        if (Indexed(data[codes[j] + 3])) {
          end = codes[j];
          break;
        }
      check.Pack(places.OffsetOf(q), data + q, std::min(end - q, kHeaderSpan));
    }
    if (atEnd) break;
    position = places.OffsetOf(next);
  }
}

// The rules of the overview scan's records: temporal_reference within groups, the buffer.
void CheckRecords(const TByteSource& source, TCheckReport& report) {
  TOverviewData data;
  TOverviewScanner().Scan(source, data);
  if (data.Report.State == TScanReport::End::ReadFailed) report.ReadFailed = true;
  for (TViolation& v : TemporalReferenceViolations(data)) THeaderCheck::Add(report, std::move(v));
  const TVbvCurve curve = ComputeVbvCurve(data);
  report.Vbv = curve.Summary;
  for (const TVbvEvent& e : curve.Summary.Events) {
    const TVbvPoint& p = curve.Points[e.Picture];
    const std::int64_t bits = p.Before - p.After;
    const std::string rule =
        e.What == TVbvEvent::Kind::Underflow
            ? Format("VBV underflow: %d of the picture's %d bits in the buffer at its decoding time", {p.Before, bits})
            : Format("VBV overflow: %d bits in a buffer of %d", {p.Before, curve.BufferBitsAt(e.Picture)});
    THeaderCheck::Add(report,
                      {data.Pictures[e.Picture].Offset(), 0, "picture", static_cast<std::int64_t>(e.Picture), rule});
  }
  // Events past the model's list are counted, not listed.
  const std::int64_t unlisted =
      curve.Summary.Underflows + curve.Summary.Overflows - static_cast<std::int64_t>(curve.Summary.Events.size());
  if (unlisted > 0) report.Count += unlisted;
}

}  // namespace

TCheckReport CheckStream(const TByteSource& source) {
  TCheckReport report;
  const bool ran = Trap("CheckStream", [&] {
    CheckHeaders(source, report);
    CheckRecords(source, report);
    std::stable_sort(report.Violations.begin(), report.Violations.end(),
                     [](const TViolation& a, const TViolation& b) { return a.Offset < b.Offset; });
  });
  if (!ran) report.ReadFailed = true;
  return report;
}

std::string CheckReportText(const TCheckReport& report) {
  std::string text;
  for (const TViolation& v : report.Violations)
    text += Format("$%.8x bit %d: %s = %d: %s\n", {v.Offset, v.Bit, v.Element, v.Value, v.Rule});
  if (report.Count > static_cast<std::int64_t>(report.Violations.size()))
    text += Format("... and %d more\n", {report.Count - static_cast<std::int64_t>(report.Violations.size())});
  text += report.Count == 0 ? std::string("no violations found\n") : Format("%d violations\n", {report.Count});
  return text;
}

std::string CheckReportJson(const TCheckReport& report) {
  std::string json = "{\n  \"violations\": [";
  for (std::size_t k = 0; k < report.Violations.size(); ++k) {
    const TViolation& v = report.Violations[k];
    json += (k ? ",\n    " : "\n    ");
    json += "{\"offset\": " + std::to_string(v.Offset) + ", \"bit\": " + std::to_string(v.Bit) +
            ", \"element\": " + JsonString(v.Element) + ", \"value\": " + std::to_string(v.Value) +
            ", \"rule\": " + JsonString(v.Rule) + "}";
  }
  json += report.Violations.empty() ? "]" : "\n  ]";
  json += ",\n  \"count\": " + std::to_string(report.Count) + "\n}\n";
  return json;
}

}  // namespace varlow
