#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "buffer/VbvModel.h"
#include "container/ByteSource.h"

namespace varlow {

// One rule a stream breaks, where it breaks it.
struct TViolation {
  std::int64_t Offset = 0;  // file offset of the start code of the header (or picture) concerned
  std::int64_t Bit = 0;     // bits from that start code to the element
  std::string Element;      // "frame_rate_code", "picture" for the buffer's rules
  std::int64_t Value = 0;
  std::string Rule;
};

struct TCheckReport {
  std::vector<TViolation> Violations;  // in file order; the first kMaxViolations
  std::int64_t Count = 0;              // all of them
  TVbvSummary Vbv;
  bool ReadFailed = false;
  bool Cancelled = false;  // stopped before the end: what it found so far
  static constexpr std::size_t kMaxViolations = 100000;
};

// Checks the whole of `source`: every sequence header, sequence extension, picture header and
// picture coding extension against the rules of their values (HeaderRules), read through the
// header tree so that each element comes with its bit position; and the video buffering
// verifier and temporal_reference order over the overview scan's records, each underflow,
// overflow and misplaced temporal_reference at its picture.
// Cancel, when set, stops the check early; Progress is told the bytes done of the bytes to do
// (the source is read twice: its headers, then the scan's records).
struct TCheckControl {
  const std::atomic<bool>* Cancel = nullptr;
  std::function<void(std::int64_t Done, std::int64_t Total)> Progress;
};
TCheckReport CheckStream(const TByteSource& source, const TCheckControl& control = {});

// The report as "OFFSET bit N: element = value: rule" lines and a closing count; as JSON.
std::string CheckReportText(const TCheckReport& report);
std::string CheckReportJson(const TCheckReport& report);

}  // namespace varlow
