#include "syntax/BitStream3.h"

#include <stdexcept>

#include "support/Trap.h"

namespace varlow {

namespace {

constexpr std::uint32_t Mask(int n) { return n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1u; }

} // namespace

HRESULT TBitStream3::SetData(const std::uint8_t* data, std::int32_t size) {
  HRESULT result = E_FAIL;
  Trap("TBitStream3.SetData", [&] {
    if (data == nullptr || size <= 0) return;
    FData = FCurrent = data;
    FDataSize = size;
    FBytePos = FBitIndex = FError = 0;
    result = S_OK;
  });
  return result;
}

std::uint32_t TBitStream3::Shortage() {
  FError = -1;
  return 0;
}

std::uint32_t TBitStream3::Window() const {
  return std::uint32_t{FCurrent[0]} << 24 | std::uint32_t{FCurrent[1]} << 16 | std::uint32_t{FCurrent[2]} << 8 |
         FCurrent[3];
}

std::uint32_t TBitStream3::Peek(int n) const {
  // A 32-bit window holds the next n bits only while FBitIndex + n <= 32; a wider read would
  // need a fifth byte that the availability test did not cover.
  if (n < 0 || FBitIndex + n > 32) throw std::out_of_range("TBitStream3: read wider than the window");
  if (n == 0) return 0;
  return (Window() >> (32 - FBitIndex - n)) & Mask(n);
}

void TBitStream3::Skip(int n) {
  const int bits = FBitIndex + n;
  FCurrent += bits / 8;
  FBytePos += bits / 8;
  FBitIndex = bits % 8;
}

std::uint32_t TBitStream3::ReadBit() {
  if (!Available(0)) return Shortage();
  const std::uint32_t bit = (*FCurrent >> (7 - FBitIndex)) & 1u;
  Skip(1);
  return bit;
}

std::uint32_t TBitStream3::NextBit() {
  if (!Available(4)) return Shortage();
  return Peek(1);
}

std::uint32_t TBitStream3::ReadBits(int n) {
  if (!Available(4)) return Shortage();
  const std::uint32_t value = Peek(n);
  Skip(n);
  return value;
}

void TBitStream3::ByteAlign() {
  if (FBitIndex > 0) Skip(8 - FBitIndex);
}

std::uint32_t TBitStream3::ReadAligned8Bit() {
  if (!Available(1)) return Shortage();
  const std::uint32_t value = *FCurrent;
  ++FCurrent;
  ++FBytePos;
  return value;
}

std::uint32_t TBitStream3::NextAligned16Bit() {
  if (!Available(2)) return Shortage();
  return std::uint32_t{FCurrent[0]} << 8 | FCurrent[1];
}

std::uint32_t TBitStream3::ReadAligned32Bit() {
  if (!Available(4)) return Shortage();
  const std::uint32_t value = Window();
  FCurrent += 4;
  FBytePos += 4;
  return value;
}

std::uint32_t TBitStream3::NextAligned32Bit() {
  if (!Available(4)) return Shortage();
  return Window();
}

void TBitStream3::SkipAlignedByte() {
  ++FCurrent;
  ++FBytePos;
}

} // namespace varlow
