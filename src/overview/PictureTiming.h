#pragma once
#include <cstddef>
#include <deque>
#include <vector>

#include "overview/OverviewRecords.h"

namespace varlow {

// How many frame periods a picture stays on show (PictureFramePeriods).
double FramePeriods(const TPictureRecord& picture);

// Seconds picture i stays on show at its sequence's frame rate; 0 when the rate is unknown.
double PictureSeconds(const TOverviewData& data, std::size_t i);

// PictureSeconds for pictures asked in rising order, without a search of the sequences per
// picture: the walks over all pictures use it.
class TPictureClock {
public:
  explicit TPictureClock(const TOverviewData& data) : FData(data) {}
  double Seconds(std::size_t i);

private:
  const TOverviewData& FData;
  std::size_t FSequence = 0;
  bool FStarted = false;
  double FRate = 0;
};

// The bits of the one second of stream up to the picture last added: the pictures (with the
// headers after them) that begin less than one second before it begins, itself included.
// Pictures are timed in stream order, one after the other. The most bits any one-second stretch
// of the stream holds is the most of these (a stretch can always be moved until its end meets a
// picture's start), at every frame rate: at 29.97 frames/s a second holds 30 pictures, not the 29
// that end within it. Keeps only that second's pictures.
class TSecondWindow {
public:
  // Adds the next picture; returns the window's bits.
  double Add(double seconds, std::int64_t unitBytes);

private:
  struct TEntry {
    double Start;
    double Bits;
  };
  std::deque<TEntry> FEntries;
  double FTime = 0;
  double FBits = 0;
};

// Calls visit(i, bits) for every picture i with the bits of the one second of stream that ends
// with it (TSecondWindow). Needs no memory per picture.
template <class Visit>
void ForEachSecondWindow(const TOverviewData& data, Visit&& visit) {
  TPictureClock clock(data);
  TSecondWindow window;
  for (std::size_t i = 0; i < data.Pictures.size(); ++i) visit(i, window.Add(clock.Seconds(i), data.UnitBytes(i)));
}

// For every picture, the bit rate over the one second of stream that ends with it.
std::vector<float> SlidingSecondBitRates(const TOverviewData& data);

} // namespace varlow
