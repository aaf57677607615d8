#pragma once
#include <deque>
#include <vector>

#include "overview/OverviewRecords.h"

namespace varlow {

// How many frame periods a picture stays on show:
//  - an MPEG-1 picture (no coding extension): one;
//  - a field picture: half a frame, so the two fields of a frame make one;
//  - a frame picture of an interlaced sequence: two fields, three with repeat_first_field;
//  - a frame picture of a progressive sequence: one frame, two with repeat_first_field, three
//    with repeat_first_field and top_field_first.
double FramePeriods(const TPictureRecord& picture);

// Seconds picture i stays on show at its sequence's frame rate; 0 when the rate is unknown.
double PictureSeconds(const TOverviewData& data, std::size_t i);

// Calls visit(i, bits) for every picture i with the bits of the one second of stream that ends
// with it: the pictures (with the headers after them) that begin at most one second before it
// ends. Pictures are timed in stream order, one after the other. Keeps only that second's
// start times, so it needs no memory per picture.
template <class Visit>
void ForEachSecondWindow(const TOverviewData& data, Visit&& visit) {
  constexpr double kEpsilon = 1e-6;  // cumulative sums of periods are not exact
  std::deque<double> starts;          // start times of the pictures in the window
  std::size_t first = 0;
  double t = 0;
  double bits = 0;
  for (std::size_t i = 0; i < data.Pictures.size(); ++i) {
    starts.push_back(t);
    t += PictureSeconds(data, i);
    bits += 8.0 * static_cast<double>(data.UnitBytes(i));
    while (first < i && starts.front() < t - 1.0 - kEpsilon) {
      bits -= 8.0 * static_cast<double>(data.UnitBytes(first));
      starts.pop_front();
      ++first;
    }
    visit(i, bits);
  }
}

// For every picture, the bit rate over the one second of stream that ends with it: the bits of
// the pictures (with the headers after them) that begin less than one second before it ends.
// Pictures are timed in stream order, one after the other.
std::vector<float> SlidingSecondBitRates(const TOverviewData& data);

} // namespace varlow
