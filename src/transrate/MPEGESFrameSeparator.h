#pragma once
#include <cstdint>
#include <functional>

#include "support/HResult.h"
#include "transrate/Buffer.h"

namespace varlow {

// Where the separator delivers units: (StreamId, Reserved, Data, Size). Data points into the
// separator's buffer, is followed by readable padding, and is valid only during the call.
using TMPEGESReceiveFunction =
    std::function<HRESULT(std::int32_t StreamId, std::int32_t Reserved, const std::uint8_t* Data, std::int32_t Size)>;

// Cuts an MPEG-2 video elementary stream arriving in blocks of any size into picture units:
// each picture together with the sequence header, extensions, GOP header and user data in front
// of it, cut at byte-exact start-code boundaries.
class TMPEGESVideoFrameSeparatorEx {
public:
  static constexpr std::int32_t kVideoStreamId = 224;
  // First size of the buffer of held bytes; it grows geometrically whenever a block does not
  // fit, so a separator is cheap to make and a large unit costs amortised constant time per byte.
  static constexpr std::int32_t kInitialCapacity = 64 * 1024;
  // A pending unit that grows past this without a cut is damage (no picture boundary in
  // 64 MiB): its bytes are dropped so that memory stays bounded.
  static constexpr std::int32_t kMaxUnitSize = 64 * 1024 * 1024;

  TMPEGESVideoFrameSeparatorEx();
  ~TMPEGESVideoFrameSeparatorEx();
  TMPEGESVideoFrameSeparatorEx(const TMPEGESVideoFrameSeparatorEx&) = delete;
  TMPEGESVideoFrameSeparatorEx& operator=(const TMPEGESVideoFrameSeparatorEx&) = delete;

  HRESULT SetMPEGESReceiveFunctionObj(TMPEGESReceiveFunction Method);
  // Appends a block and delivers every unit it completes.
  HRESULT AddData(const std::uint8_t* Data, std::int32_t Size);
  // Scans the held bytes and delivers every complete unit.
  HRESULT Process();
  // End of input: delivers what is still held, the last picture with whatever follows it.
  // When no picture lies in the remainder (a sequence end code, trailing headers), it is
  // delivered with FFrameCodingType 0.
  HRESULT Flush();
  HRESULT SendFrame(const std::uint8_t* Data, std::int32_t Size);

  // picture_coding_type of the unit being delivered (1 I, 2 P, 3 B; 0 for a remainder
  // without a picture).
  std::int32_t FrameCodingType() const { return FFrameCodingType; }
  // Whether a GOP header lies in the unit being delivered.
  bool GOPStart() const { return FGOPStart != 0; }
  // Bytes held and not yet delivered.
  std::int32_t HeldBytes() const { return FBuffer.DataSize(); }

private:
  // Delivers the bytes FFrameStart .. P; true when the receiver was called without failure.
  bool Deliver(std::int32_t P);
  void DropOversizedUnit();

  TBuffer FBuffer;
  TMPEGESReceiveFunction FReceiveFunctionObj;
  std::int32_t FLastCode = 0;
  std::int32_t FFrameStart = 0;
  std::int32_t FScanPos = 0;
  std::int32_t FFrameCodingType = 0;
  std::int32_t FCodingType = 0;
  std::int32_t FGOPStart = 0;
};

} // namespace varlow
