#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace varlow {

// A size as users write it: bytes, or with a suffix k, M, G (powers of 1000) or KiB, MiB, GiB
// (powers of 1024); "kB", "MB", "GB" are the decimal ones too. Fractions are allowed with a
// suffix ("4.3G"). nullopt for anything else, zero, or more than 2^62 bytes.
std::optional<std::int64_t> ParseSize(std::string_view Text);

// Spreads an output size over the groups of pictures as they come: each group may keep the
// share of what is left of the output that its input bits are of what is left of the input.
// A group that comes out under its share leaves the room to those after it, one that goes over
// takes it from them, so the last groups neither starve nor waste room.
class TSizePlan {
public:
  TSizePlan() = default;
  // InputBytes: all the bytes the engine will be given; OutputBytes: what its output may take.
  TSizePlan(std::int64_t InputBytes, std::int64_t OutputBytes) : FInput(InputBytes), FOutput(OutputBytes) {}

  bool Active() const { return FInput > 0; }
  // The budget of a group of GroupInputBits whose first unit begins after InputBytesBefore of
  // the input, when OutputBytesBefore have been written.
  std::int64_t GroupBudget(std::int64_t GroupInputBits, std::int64_t InputBytesBefore,
                           std::int64_t OutputBytesBefore) const;

private:
  std::int64_t FInput = 0;
  std::int64_t FOutput = 0;
};

}  // namespace varlow
