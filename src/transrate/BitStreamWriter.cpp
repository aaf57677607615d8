#include "transrate/BitStreamWriter.h"

#include <algorithm>
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

bool TBitStreamWriter::PutBitsNearEnd(std::uint32_t Value, std::int32_t Count) {
  if (FBytePos + 4 >= FDestSize) {
    FOverflow = -1;
    return false;
  }
  if (Count <= 0) return true;
  if (Count > 32 - FBitPos) {
    // Wider than the current word allows: the high part first, then the low 16 bits.
    return PutBitsNearEnd(Value >> 16, Count - 16) && PutBitsNearEnd(Value & 0xFFFFu, 16);
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

bool TBitStreamWriter::CopyBits(const std::uint8_t* Source, std::int64_t SourceBit, std::int64_t Count) {
  // Up to 56 bits per step (an 8-byte load holds at least 57 from any bit), ORed into the
  // zero-filled destination as one 64-bit word while there is room for it; the last step masked
  // to its count. Close to the end of the destination, the tail goes through PutBits, which
  // reports the overflow.
  while (Count > 0 && FBytePos + 12 < FDestSize) {
    const int n = static_cast<int>(std::min<std::int64_t>(Count, 56));
    std::uint64_t in;
    std::memcpy(&in, Source + (SourceBit >> 3), 8);
    const std::uint64_t bits = (__builtin_bswap64(in) << (SourceBit & 7)) & (~std::uint64_t{0} << (64 - n));
    std::uint64_t out;
    std::memcpy(&out, FCurrent, 8);
    out |= __builtin_bswap64(bits >> FBitPos);
    std::memcpy(FCurrent, &out, 8);
    const std::int32_t end = FBitPos + n;
    FCurrent += end >> 3;
    FBytePos += end >> 3;
    FBitPos = end & 7;
    SourceBit += n;
    Count -= n;
  }
  while (Count > 0) {
    const int n = static_cast<int>(std::min<std::int64_t>(Count, 24));
    std::uint64_t in;
    std::memcpy(&in, Source + (SourceBit >> 3), 8);
    if (!PutBits(static_cast<std::uint32_t>((__builtin_bswap64(in) << (SourceBit & 7)) >> (64 - n)), n)) return false;
    SourceBit += n;
    Count -= n;
  }
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
