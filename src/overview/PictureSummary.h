#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "overview/OverviewRecords.h"
#include "overview/PictureTiming.h"

namespace varlow {

// What a zoomed-out graph needs of many pictures at once, kept per block of pictures so that a
// pixel column costs a few blocks, not its pictures: for blocks of 16 pictures, of 256, of
// 4096 and so on, the largest picture and the highest one-second bit rate. Built as the records
// arrive; about half a byte per picture.
class TPictureSummary {
public:
  static constexpr std::size_t kFanOut = 16;

  // The largest picture of a run and the highest bit rate over one second ending in it.
  struct TPeak {
    std::int64_t Picture = -1;  // -1: the run is empty
    std::int64_t Bytes = 0;
    std::uint8_t CodingType = 0;
    float BitRate = 0;
  };

  // Takes in the pictures of `data` not yet seen. A picture's bit rate needs the next picture's
  // offset, so while the scan runs (`final` false) the last picture waits for the next update.
  // `data` must be the records given before, grown; Reset before others.
  void Update(const TOverviewData& data, bool final);
  void Reset() { *this = TPictureSummary(); }
  std::size_t Count() const { return FCount; }  // pictures taken in

  // The largest picture of pictures [from, to) of `data` (the first on a tie) and the highest
  // bit rate of the blocks of 16 pictures that overlap the run (of those taken in).
  TPeak Peak(const TOverviewData& data, std::size_t from, std::size_t to) const;
  std::int64_t MaxBytes() const { return FMaxBytes; }
  double MaxBitRate() const { return FMaxRate; }

private:
  struct TEntry {
    std::uint32_t Picture;  // the largest of the block
    float BitRate;
  };
  void Add(const TOverviewData& data, std::size_t i, float rate);
  TEntry Merge(const TOverviewData& data, TEntry a, TEntry b) const;

  std::vector<std::vector<TEntry>> FLevels;  // level k: blocks of 16^(k+1) pictures, complete ones
  std::vector<TEntry> FOpen;                 // per level, the block being filled
  std::vector<std::size_t> FOpenCount;
  std::size_t FCount = 0;
  std::int64_t FMaxBytes = 0;
  double FMaxRate = 0;
  TSecondWindow FWindow;
};

// The bit rate over the one second of stream that ends with each of pictures [from, to), as
// SlidingSecondBitRates gives it, worked out from the pictures of the second before `from` only.
std::vector<float> SecondBitRates(const TOverviewData& data, std::size_t from, std::size_t to);

} // namespace varlow
