#include "syntax/CodeTables.h"

namespace varlow {

const char* CodingTypeName(std::uint32_t picture_coding_type) {
  switch (picture_coding_type) {
  case 1: return "I";
  case 2: return "P";
  case 3: return "B";
  default: return "Unknown";
  }
}

double FrameRateFromCode(std::uint32_t frame_rate_code) {
  switch (frame_rate_code) {
  case 1: return 24000.0 / 1001.0;
  case 2: return 24.0;
  case 3: return 25.0;
  case 4: return 30000.0 / 1001.0;
  case 5: return 30.0;
  case 6: return 50.0;
  case 7: return 60000.0 / 1001.0;
  case 8: return 60.0;
  default: return 0.0;
  }
}

} // namespace varlow
