#include "transrate/MPEGESFrameSeparator.h"

#include <algorithm>
#include <climits>

#include "support/Log.h"
#include "support/PaddedBuffer.h"
#include "support/Trap.h"

namespace varlow {

namespace {

constexpr std::int32_t kPictureCode = 0x100;
constexpr std::int32_t kSequenceHeaderCode = 0x1B3;
constexpr std::int32_t kSequenceEndCode = 0x1B7;
constexpr std::int32_t kGroupCode = 0x1B8;

// Offset of the next 00 00 01 prefix at or after `from` whose start code byte lies before
// `end`; `end - 3` when there is none. Looks at every third byte while no 00 or 01 shows up.
std::int32_t FindStartCode(const std::uint8_t* d, std::int32_t from, std::int32_t end) {
  std::int32_t i = from + 2;
  while (i < end - 1) {
    const std::uint8_t b = d[i];
    if (b > 1) {
      i += 3;
    } else if (b == 1 && d[i - 1] == 0 && d[i - 2] == 0) {
      return i - 2;
    } else {
      ++i;
    }
  }
  return std::max(from, end - 3);
}

} // namespace

// The buffer is allocated inside the trap: a failure is logged and the separator still
// exists; its buffer then grows with the first block.
TMPEGESVideoFrameSeparatorEx::TMPEGESVideoFrameSeparatorEx() {
  try {
    FBuffer.SetCapacity(kInitialCapacity);
  } catch (...) {
    try {
      LogMessage("wex: error in TMPEGESVideoFrameSeparatorEx.Create call...");
    } catch (...) {
    }
  }
}

TMPEGESVideoFrameSeparatorEx::~TMPEGESVideoFrameSeparatorEx() {
  Trap("TMPEGESVideoFrameSeparatorEx.Destroy", [this] {
    FReceiveFunctionObj = nullptr;
    FBuffer.Clear();
  });
}

HRESULT TMPEGESVideoFrameSeparatorEx::SetMPEGESReceiveFunctionObj(TMPEGESReceiveFunction Method) {
  HRESULT result = E_FAIL;
  Trap("TMPEGESVideoFrameSeparatorEx.SetMPEGESReceiveFunctionObj", [&] {
    FReceiveFunctionObj = std::move(Method);
    result = S_OK;
  });
  return result;
}

HRESULT TMPEGESVideoFrameSeparatorEx::AddData(const std::uint8_t* Data, std::int32_t Size) {
  if (Data == nullptr || Size <= 0) return E_FAIL;
  HRESULT result = E_FAIL;
  Trap("TMPEGESVideoFrameSeparatorEx.AddData", [&] {
    // Grown to half as much again as needed (at least double): a caller's fixed block size
    // then fits beside the unit it completes without a second reallocation.
    const std::int64_t needed = std::int64_t{FBuffer.DataSize()} + Size;
    if (needed > FBuffer.Capacity()) {
      const std::int64_t grown = std::max(needed + needed / 2, std::int64_t{FBuffer.Capacity()} * 2);
      const std::int64_t limit = INT32_MAX - static_cast<std::int64_t>(kReaderPadding);
      if (needed <= limit) FBuffer.SetCapacity(static_cast<std::int32_t>(std::min(grown, limit)));
    }
    FBuffer.Append(Data, Size);  // past 2 GiB it throws, as before
    const HRESULT r = Process();
    if (r < 0) {
      LogMessageFmt("wex: Error in TMPEGESVideoFrameSeparatorEx.AddData - Process Result = $%.8x", {r});
      return;
    }
    result = S_OK;
  });
  return result;
}

bool TMPEGESVideoFrameSeparatorEx::Deliver(std::int32_t P) {
  const HRESULT r = SendFrame(FBuffer.DataPtr() + FFrameStart, P - FFrameStart);
  if (r < 0) {
    LogMessageFmt("wex: Error in TMPEGESVideoFrameSeparatorEx.Process - SendFrame Result = $%.8x", {r});
    return false;
  }
  return true;
}

HRESULT TMPEGESVideoFrameSeparatorEx::Process() {
  if (FBuffer.DataSize() <= 0) return E_FAIL;
  HRESULT result = E_FAIL;
  Trap("TMPEGESVideoFrameSeparatorEx.Process", [&] {
    const std::uint8_t* d = FBuffer.DataPtr();
    const std::int32_t size = FBuffer.DataSize();
    while (FScanPos + 4 <= size) {
      const std::int32_t P = FindStartCode(d, FScanPos, size);
      if (P + 4 > size) {
        FScanPos = P;
        break;
      }
      const std::int32_t code = 0x100 + d[P + 3];
      if (code == kPictureCode) {
        // picture_coding_type sits in the second byte after the start code; wait for it.
        if (P + 6 > size) {
          FScanPos = P;
          break;
        }
        FFrameCodingType = FCodingType;
        FCodingType = (d[P + 5] >> 3) & 7;
        if (FLastCode == kPictureCode) {
          if (!Deliver(P)) return;
          FFrameStart = P;
          FGOPStart = 0;
        }
        FLastCode = kPictureCode;
      } else if (code == kSequenceHeaderCode || code == kSequenceEndCode || code == kGroupCode) {
        if (FLastCode == kPictureCode) {
          FFrameCodingType = FCodingType;
          if (!Deliver(P)) return;
          FFrameStart = P;
          if (code != kGroupCode) FGOPStart = 0;
        }
        if (code == kGroupCode) FGOPStart = -1;
        FLastCode = code;
      }
      FScanPos = P + 4;
    }
    if (FBuffer.DataSize() - FFrameStart > kMaxUnitSize) DropOversizedUnit();
    if (FFrameStart > 0) {
      FBuffer.SetReadPos(FBuffer.ReadPos() + FFrameStart);
      FBuffer.Compact();
      FScanPos -= FFrameStart;
      FFrameStart = 0;
    }
    result = S_OK;
  });
  return result;
}

void TMPEGESVideoFrameSeparatorEx::DropOversizedUnit() {
  LogMessageFmt("wex: TMPEGESVideoFrameSeparatorEx.Process - unit of %d bytes without a picture boundary dropped",
                {FScanPos - FFrameStart});
  FFrameStart = FScanPos;
  FLastCode = 0;
  FGOPStart = 0;
}

HRESULT TMPEGESVideoFrameSeparatorEx::Flush() {
  HRESULT result = E_FAIL;
  Trap("TMPEGESVideoFrameSeparatorEx.Flush", [&] {
    const std::int32_t size = FBuffer.DataSize();
    if (size > FFrameStart) {
      FFrameCodingType = FLastCode == kPictureCode ? FCodingType : 0;
      if (!Deliver(size)) return;
    }
    FBuffer.Clear();
    FLastCode = 0;
    FFrameStart = 0;
    FScanPos = 0;
    FGOPStart = 0;
    FCodingType = 0;
    result = S_OK;
  });
  return result;
}

HRESULT TMPEGESVideoFrameSeparatorEx::SendFrame(const std::uint8_t* Data, std::int32_t Size) {
  HRESULT result = E_FAIL;
  Trap("TMPEGESVideoFrameSeparatorEx.SendFrame", [&] {
    if (FReceiveFunctionObj) FReceiveFunctionObj(kVideoStreamId, 0, Data, Size);
    result = S_OK;
  });
  return result;
}

} // namespace varlow
