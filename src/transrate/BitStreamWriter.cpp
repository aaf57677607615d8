#include "transrate/BitStreamWriter.h"

#include <cstring>

#include "support/Trap.h"

namespace varlow {

HRESULT TBitStreamWriter::SetDestination(std::uint8_t* Dest, std::int32_t Size) {
  if (Dest == nullptr || Size <= 0) return E_FAIL;
  HRESULT result = E_FAIL;
  Trap("TBitStreamWriter.SetDestination", [&] {
    FDest = Dest;
    FDestSize = Size;
    FBytePos = 0;
    FBitPos = 0;
    FCurrent = Dest;
    FOverflow = 0;
    std::memset(Dest, 0, static_cast<std::size_t>(Size));
    result = S_OK;
  });
  return result;
}

bool TBitStreamWriter::PutBits(std::uint32_t Value, std::int32_t Count) {
  if (FBytePos + 4 >= FDestSize) {
    FOverflow = -1;
    return false;
  }
  if (Count <= 0) return true;
  if (Count > 32 - FBitPos) {
    // Wider than the current word allows: the high part first, then the low 16 bits.
    return PutBits(Value >> 16, Count - 16) && PutBits(Value & 0xFFFFu, 16);
  }
  const std::uint32_t mask = Count >= 32 ? 0xFFFFFFFFu : ((1u << Count) - 1u);
  const std::uint32_t word = (Value & mask) << (32 - FBitPos - Count);
  FCurrent[0] |= static_cast<std::uint8_t>(word >> 24);
  FCurrent[1] |= static_cast<std::uint8_t>(word >> 16);
  FCurrent[2] |= static_cast<std::uint8_t>(word >> 8);
  FCurrent[3] |= static_cast<std::uint8_t>(word);
  const std::int32_t bits = FBitPos + Count;
  FBytePos += bits >> 3;
  FCurrent += bits >> 3;
  FBitPos = bits & 7;
  return true;
}

bool TBitStreamWriter::ByteAlign() {
  if (FBytePos + 4 >= FDestSize) {
    FOverflow = -1;
    return false;
  }
  if (FBitPos != 0) {
    ++FBytePos;
    ++FCurrent;
    FBitPos = 0;
  }
  return true;
}

} // namespace varlow
