#pragma once
#include <cstdint>

namespace varlow {

// Keeps a re-quantised group's pictures from draining a decoder's buffer. The output is sent at
// its declared rate into a buffer of the stream's vbv_buffer_size, which fills until full (the
// variable-rate buffer a transrated stream declares); each picture's bits leave when it is
// decoded, one display period after the picture before. A group's budget keeps the rate over
// the group, but a large picture after a run of large pictures could still find too few bits
// in the buffer: Allowed() is what the next picture may take, and the plan caps its target
// there. The state after a group is what the group after it starts from.
class TBufferGuard {
 public:
  // What is kept back from every picture's allowance, as a share of the buffer: the guard's
  // model counts whole pictures and no start-code timing, so it keeps a margin.
  static constexpr double kMargin = 0.1;

  TBufferGuard() = default;
  // Rate in bit/s and Buffer in bits; either 0 leaves the guard off.
  TBufferGuard(std::int64_t Rate, std::int64_t Buffer);

  bool Active() const { return FRate > 0 && FBuffer > 0; }
  // A new buffer size (a sequence header's); the occupancy stays, within it (a guard that had
  // no buffer starts full).
  void SetBuffer(std::int64_t Buffer);
  // Bits the next picture may take (with the margin kept back); unbounded when off.
  std::int64_t Allowed() const;
  // The next picture leaves with Bits and stays on show Seconds, while the buffer fills.
  void Remove(std::int64_t Bits, double Seconds);
  // The buffer just before the next picture leaves.
  double Occupancy() const { return FOccupancy; }

 private:
  std::int64_t FRate = 0;
  std::int64_t FBuffer = 0;
  double FOccupancy = 0;  // full at the start: a variable-rate decoder waits for a full buffer
};

}  // namespace varlow
