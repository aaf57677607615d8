#pragma once
#include <cstdint>
#include <span>
#include <vector>

namespace varlow {

// The video buffering verifier: the decoder's input buffer as the encoder had to keep it. Bits
// enter at the sequence's bit_rate; at each picture's decoding time all of that picture's bits
// leave at once (with the sequence and group headers in front of it, and the sequence end code
// with the last picture). A picture whose last bit has not arrived by then underflows the
// buffer; a buffer holding more than vbv_buffer_size bits overflows.
//
// Two ways of running it, chosen by the stream:
//  - constant rate (the pictures give vbv_delay): bits arrive at bit_rate without pause, and a
//    picture is decoded vbv_delay 90 kHz ticks after the last byte of its picture start code
//    arrived;
//  - variable rate (vbv_delay 0xFFFF everywhere): bits arrive at bit_rate while the buffer is not
//    full and stop while it is; the first picture is decoded once the buffer is full (or holds the
//    whole stream), each next one a display period later.
enum class TVbvMode { Constant, Variable };

// One picture as the model takes it, in stream order.
struct TVbvPicture {
  std::int64_t UnitBits = 0;          // the bits that leave with it
  std::int64_t StartCodeEndBits = 0;  // bits of its unit up to the end of its picture start code
  std::uint16_t VbvDelay = 0xFFFF;
  std::uint8_t CodingType = 1;  // picture_coding_type
  bool FieldPicture = false;
  double FramePeriods = 1;  // how long it is on show (PictureFramePeriods)
  // The sequence in force.
  std::int64_t BitRate = 0;     // bit/s; 0 when none is declared
  std::int64_t BufferBits = 0;  // vbv_buffer_size in bits
  double FrameRate = 0;         // frames/s
  bool LowDelay = false;
};

// The buffer at one picture's decoding time. Occupancies fall below zero after an underflow:
// the missing bits are owed by the bits still to come.
struct TVbvPoint {
  std::int64_t Before = 0;  // just before the picture leaves
  std::int64_t After = 0;   // just after
  double Time = 0;          // seconds from the stream's first bit entering the buffer
};

struct TVbvEvent {
  enum class Kind : std::uint8_t { Underflow, Overflow };
  Kind What = Kind::Underflow;
  std::uint32_t Picture = 0;  // in stream order, from 0
  std::int64_t Bits = 0;      // the occupancy before the picture left
};

struct TVbvSummary {
  TVbvMode Mode = TVbvMode::Variable;
  // False when a picture's sequence gives no bit rate, no buffer size or (at a variable rate)
  // no frame rate: then there are no figures, only the mode.
  bool Modelled = false;
  std::int64_t Pictures = 0;
  std::int64_t BufferBits = 0;  // of the first picture's sequence
  std::int64_t Rate = 0;
  // The lowest occupancy just after a picture left. The pictures decoded once the whole stream
  // has arrived drain the buffer to empty only because the stream ends: they count only when
  // every picture is one of them.
  std::int64_t LowestBits = 0;
  std::int64_t LowestPicture = -1;
  std::int64_t HighestBits = 0;  // the highest just before one left
  std::int64_t Underflows = 0;
  std::int64_t Overflows = 0;
  std::vector<TVbvEvent> Events;  // the first kMaxEvents of them, in stream order
  static constexpr std::size_t kMaxEvents = 10000;
};

// The model run over pictures handed to it one at a time, so that a walk over millions of
// pictures needs no list of them.
class TVbvModel {
 public:
  // `totalBits`: the whole stream's bits (every picture's UnitBits added), since nothing arrives
  // after its end.
  TVbvModel(TVbvMode mode, std::int64_t totalBits);

  // The next picture; its point (zeros once the model has stopped for want of parameters).
  TVbvPoint Add(const TVbvPicture& picture);
  const TVbvSummary& Summary() const { return FSummary; }

 private:
  // Frame periods from this picture's decoding to the next one's.
  double PeriodsToNext(const TVbvPicture& picture);
  void Record(std::uint32_t index, const TVbvPicture& picture, const TVbvPoint& point, bool drained);

  TVbvSummary FSummary;
  const std::int64_t FTotalBits;
  std::int64_t FRemoved = 0;  // bits of the pictures decoded so far
  double FArrived = 0;        // stream bits in the buffer or gone, at the last decoding time
  double FUnitArrival = 0;    // when the first bit of the next picture's unit arrives (constant rate)
  double FTime = 0;           // the last decoding time
  double FSecondsToNext = 0;  // from the last decoding time to the next
  double FAnchorShown = 0;    // frame periods the last I or P picture (or field pair) is on show
  bool FHaveAnchor = false;
  bool FFieldPending = false;  // the last picture was the first field of a pair
  bool FStopped = false;
  bool FLowestDrained = true;  // the lowest so far is of a picture decoded after the stream's end arrived
};

// The model over a whole list of pictures; fills `points` (one per picture) when given.
TVbvSummary RunVbv(TVbvMode mode, std::span<const TVbvPicture> pictures, std::vector<TVbvPoint>* points = nullptr);

}  // namespace varlow
