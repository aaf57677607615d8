#include "check/StreamCheck.h"

#include <algorithm>
#include <optional>

#include "browser/HeaderTree.h"
#include "buffer/VbvCurve.h"
#include "check/GroupRules.h"
#include "check/HeaderRules.h"
#include "check/LevelRules.h"
#include "syntax/CodeTables.h"
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
    if (rec.StartCode[3] == 0xB3) {
      SequenceLimits(offset);
    } else {
      PictureLimits(offset);
    }
  }

  // The value of the pack's first element of that name, if it has one.
  const TElementSink::TNode* Find(std::string_view name) const {
    for (const auto& node : FSink.Nodes())
      if (node.Decimal && node.Name == name) return &node;
    return nullptr;
  }
  std::int64_t ValueOf(std::string_view name) const {
    const auto* node = Find(name);
    return node != nullptr ? node->Value : 0;
  }

  // The profile and level a sequence header's extension signals, and what the sequence breaks
  // of them.
  void SequenceLimits(std::int64_t offset) {
    const auto* indication = Find("profile_and_level_indication");
    FLimits = indication != nullptr ? LimitsOf(static_cast<std::int32_t>(indication->Value)) : std::nullopt;
    if (!FLimits) return;
    TSequenceFigures f;
    f.HorizontalSize = ValueOf("horizontal_size_value") | ValueOf("horizontal_size_extension") << 12;
    f.VerticalSize = ValueOf("vertical_size_value") | ValueOf("vertical_size_extension") << 12;
    f.FrameRate = FrameRateFromCode(static_cast<std::uint32_t>(ValueOf("frame_rate_code"))) *
                  static_cast<double>(ValueOf("frame_rate_extension_n") + 1) /
                  static_cast<double>(ValueOf("frame_rate_extension_d") + 1);
    f.BitRate = (ValueOf("bit_rate_value") | ValueOf("bit_rate_extension") << 18) * kBitRateUnit;
    f.VbvBufferBits = (ValueOf("vbv_buffer_size_value") | ValueOf("vbv_buffer_size_extension") << 10) * kVbvBufferSizeUnit;
    const auto bit = [&](std::string_view name) {
      const auto* node = Find(name);
      return node != nullptr ? node->Bit : 0;
    };
    f.HorizontalBit = bit("horizontal_size_value");
    f.VerticalBit = bit("vertical_size_value");
    f.FrameRateBit = bit("frame_rate_code");
    f.BitRateBit = bit("bit_rate_value");
    f.VbvBit = bit("vbv_buffer_size_value");
    for (TLevelBreach& b : SequenceBreaches(f, *FLimits))
      Add(FReport, {offset, b.Bit, std::move(b.Element), b.Value, std::move(b.Rule)});
  }

  // A picture's f_codes against its type and the level in force; B pictures in a profile
  // without them.
  void PictureLimits(std::int64_t offset) {
    const auto* type = Find("picture_coding_type");
    if (type == nullptr) return;
    if (FLimits && !FLimits->BPictures && type->Value == 3)
      Add(FReport, {offset, type->Bit, "picture_coding_type", 3, std::string(FLimits->Name) + " has no B pictures"});
    const bool concealment = ValueOf("concealment_motion_vectors") != 0;
    for (const auto& node : FSink.Nodes()) {
      if (!node.Decimal || node.Name.size() != 12 || node.Name.compare(0, 7, "f_code[") != 0) continue;
      const std::int32_t s = node.Name[7] - '0';
      const std::int32_t t = node.Name[10] - '0';
      const std::string rule = FCodeRule(s, t, node.Value, static_cast<std::int32_t>(type->Value), concealment,
                                         FLimits ? &*FLimits : nullptr);
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
  std::optional<TLevelLimits> FLimits;  // of the sequence in force, where it is one checked
};

// Reads the source front to back and checks every sequence header and picture pack.
bool Stopped(const TCheckControl& control) {
  return control.Cancel != nullptr && control.Cancel->load(std::memory_order_relaxed);
}

void CheckHeaders(const TByteSource& source, TCheckReport& report, const TCheckControl& control) {
  THeaderCheck check(report);
  TPaddedBuffer buffer(kBlockBytes);
  TSourcePlaces places;
  std::vector<std::uint32_t> codes;
  std::int64_t position = 0;
  for (;;) {
    if (Stopped(control)) {
      report.Cancelled = true;
      return;
    }
    if (control.Progress) control.Progress(position, 2 * source.Size());
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
void CheckRecords(const TByteSource& source, TCheckReport& report, const TCheckControl& control) {
  TOverviewData data;
  const std::int64_t size = source.Size();
  TOverviewScanner().Scan(source, data, nullptr, control.Cancel, [&](std::int64_t done, std::int64_t) {
    if (control.Progress) control.Progress(size + done, 2 * size);
  });
  if (Stopped(control)) {
    report.Cancelled = true;
    return;
  }
  if (data.Report.State == TScanReport::End::ReadFailed) report.ReadFailed = true;
  for (TViolation& v : TemporalReferenceViolations(data)) THeaderCheck::Add(report, std::move(v));
  for (TViolation& v : LeadingPictureViolations(data)) THeaderCheck::Add(report, std::move(v));
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

TCheckReport CheckStream(const TByteSource& source, const TCheckControl& control) {
  TCheckReport report;
  const bool ran = Trap("CheckStream", [&] {
    CheckHeaders(source, report, control);
    if (!report.Cancelled) CheckRecords(source, report, control);
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
