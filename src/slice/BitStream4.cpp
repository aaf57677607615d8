#include "slice/BitStream4.h"

#include <string>

#include "support/Log.h"
#include "support/Trap.h"

namespace varlow {

namespace {
// What an unattached reader points at: enough zeros for any fetch, never a null pointer.
constexpr std::uint8_t kNoData[16] = {};
// Bytes after the block that the owner guarantees to be readable.
constexpr std::int64_t kReadableMargin = 7;
}  // namespace

TBitStream4::TBitStream4() noexcept
    : FBitsLeft(-33),  // below every availability threshold
      FData(kNoData),
      FReadableEnd(static_cast<std::int64_t>(sizeof kNoData) - 1) {}

HRESULT TBitStream4::SetData(const std::uint8_t* Data, std::int32_t Size) noexcept {
  HRESULT result = E_FAIL;
  Trap("TBitStream4.SetData", [&] {
    if (Data == nullptr || Size <= 0) return;
    FData = Data;
    FSize = Size;
    FByteIndex = 0;
    FBitIndex = 0;
    FError = 0;
    // Formed in 64 bits, so blocks of any 32-bit size keep an exact count.
    FBitsLeft = std::int64_t{Size} * 8;
    FReadableEnd = std::int64_t{Size} - 1 + kReadableMargin;
    result = S_OK;
  });
  return result;
}

std::uint32_t TBitStream4::NextBitsDWNoCheck(std::int32_t n) noexcept {
  if (!Available(n)) {
    LogMessage("wex: Error in TBitStream4.NextBitsDWNoCheck - no enough bits call...");
    if (n < 0 || n > 32) return 0;
  }
  return Peek(n);
}

void TBitStream4::DumpBitsNoCheck(std::int32_t n) noexcept {
  if (n < 0 || FBitsLeft < std::int64_t{n} - 32) {
    LogMessage("wex: Error in TBitStream4.DumpBitsNoCheck - no enough bits call...");
    if (n < 0) return;
  }
  Move(n);
}

std::uint32_t TBitStream4::ReadAligned8BitDW() noexcept {
  if (FBitsLeft < -24) LogMessage("wex: Error in TBitStream4.ReadAligned8BitDW - no enough bits call...");
  if (FBitIndex != 0) LogMessage("wex: Error in TBitStream4.ReadAligned8BitDW - not aligned.");
  if (FBitsLeft < -24) return Fail();
  std::uint32_t v = ByteAt(FByteIndex);
  MoveBytes(1);
  return v;
}

void TBitStream4::OutputDebugStringNumBits(std::int32_t n) noexcept {
  if (n < 0 || n > 32 || FBitsLeft < std::int64_t{n} - 32) {
    LogMessage("wex: Error in TBitStream4.OutputDebugStringNumBits - not enough bits");
    return;
  }
  try {
    std::uint32_t bits = NextBitsDW(n);
    std::string text(static_cast<std::size_t>(n), '0');
    for (std::int32_t i = 0; i < n; ++i)
      if ((bits >> (n - 1 - i)) & 1u) text[static_cast<std::size_t>(i)] = '1';
    OutputDebugChannelString(text);
  } catch (...) {
    // A diagnostic must never end the caller's walk.
  }
}

}  // namespace varlow
