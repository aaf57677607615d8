#pragma once
// What a transrated stream's headers declare about its rate, rewritten as its units go out. A
// stream brought under a rate below the one its sequence headers declare is declared at that
// rate (bit_rate_value and the sequence extension's bit_rate_extension), so that a decoder's
// buffer model runs at the rate the stream now keeps; and since its pictures no longer arrive
// as a constant-rate encoder timed them, every picture's vbv_delay becomes 0xFFFF (variable
// rate: the buffer fills at bit_rate until full).
#include <cstdint>
#include <span>

namespace varlow {

class TRateDeclaration {
 public:
  // Rate: the output's rate in bit/s; 0 (a run aimed at a size) leaves the declared rates.
  explicit TRateDeclaration(std::int64_t Rate = 0) : FRate(Rate) {}

  // From now on units are rewritten: called once the stream's pictures begin to change (a
  // stream that already keeps the rate goes out byte for byte as it came).
  void Start() { FActive = true; }
  // Rewrites the headers at the front of one unit (everything before its first slice) once
  // started: sequence headers declaring more than the rate declare the rate (an MPEG-1 header
  // declaring a variable rate, 0x3FFFF, keeps it), every picture's vbv_delay becomes 0xFFFF.
  void Rewrite(std::span<std::uint8_t> Unit);

  // Whether units are rewritten, and the rate the last sequence header rewritten declares (0
  // while none declared more than the rate).
  bool Active() const { return FActive; }
  std::int64_t LoweredRate() const { return FLowered; }
  // Of the headers rewritten so far: the rate and buffer (in bits) the last sequence header
  // declares, its low_delay, and the bytes of the last unit up to the end of its picture start
  // code (0 when it had none).
  std::int64_t Rate() const { return FRateNow; }
  std::int64_t BufferBits() const { return FBufferBits; }
  bool LowDelay() const { return FLowDelay; }
  std::size_t PictureStartEnd() const { return FPictureStartEnd; }

  // 400 bit/s units of bit_rate, rounded up so that the declaration is never below the rate.
  static std::uint32_t RateUnits(std::int64_t Rate) { return static_cast<std::uint32_t>((Rate + 399) / 400); }

 private:
  void SequenceHeader(std::span<std::uint8_t> Unit, std::size_t At);

  std::int64_t FRate;
  bool FActive = false;
  std::int64_t FLowered = 0;
  std::int64_t FRateNow = 0;
  std::int64_t FBufferBits = 0;
  bool FLowDelay = false;
  std::size_t FPictureStartEnd = 0;
};

}  // namespace varlow
