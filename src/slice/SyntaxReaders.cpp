#include "slice/SyntaxReaders.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace varlow {

std::int32_t ReadMpeg1EscapeLevel(TBitStream4& bs, std::int32_t& bits) noexcept {
  std::uint32_t first = bs.ReadBits(8);
  bits = 8;
  if (first == 0x00 || first == 0x80) {
    std::uint32_t second = bs.ReadBits(8);
    bits = 16;
    return first == 0x00 ? static_cast<std::int32_t>(second) : static_cast<std::int32_t>(second) - 256;
  }
  return first >= 0x80 ? static_cast<std::int32_t>(first) - 256 : static_cast<std::int32_t>(first);
}

bool NextStartCode(TBitStream4& bs) noexcept {
  bs.ByteAlign();
  if (bs.Error()) return false;
  // Fast part: positions whose three bytes lie inside the block. There every step of the
  // byte loop succeeds, so jumping straight to the first prefix (or to the tail) is the same.
  const std::uint8_t* data = bs.Data();
  std::int64_t i = bs.ByteIndex();
  const std::int64_t lastInside = std::int64_t{bs.Size()} - 3;
  while (i <= lastInside) {
    const void* zero = std::memchr(data + i, 0, static_cast<std::size_t>(lastInside - i + 1));
    if (zero == nullptr) {
      i = lastInside + 1;
      break;
    }
    i = static_cast<const std::uint8_t*>(zero) - data;
    if (data[i + 1] == 0 && data[i + 2] == 1) break;
    ++i;
  }
  while (i > bs.ByteIndex()) {
    std::int64_t step = std::min<std::int64_t>(i - bs.ByteIndex(), std::int64_t{1} << 27);
    bs.DumpBits(static_cast<std::int32_t>(8 * step));
  }
  // The tail, where the availability rule decides, runs the byte loop itself.
  while (!bs.Error()) {
    if (bs.NextAligned24Bit() == 0x000001) return true;
    bs.ReadBits(8);
  }
  return false;
}

std::string_view BlockName(std::int32_t blockIndex) noexcept {
  static constexpr std::array<std::string_view, 12> kNames = {"Y1", "Y2", "Y3", "Y4", "U1", "V1",
                                                              "U2", "V2", "U3", "V3", "U4", "V4"};
  if (blockIndex < 0 || blockIndex >= 12) return "?";
  return kNames[static_cast<std::size_t>(blockIndex)];
}

std::string_view NotCodedBlockName(std::int32_t blockIndex) noexcept {
  static constexpr std::array<std::string_view, 12> kNames = {
      "Y1 (not coded)", "Y2 (not coded)", "Y3 (not coded)", "Y4 (not coded)", "U1 (not coded)", "V1 (not coded)",
      "U2 (not coded)", "V2 (not coded)", "U3 (not coded)", "V3 (not coded)", "U4 (not coded)", "V4 (not coded)"};
  if (blockIndex < 0 || blockIndex >= 12) return "? (not coded)";
  return kNames[static_cast<std::size_t>(blockIndex)];
}

}  // namespace varlow
