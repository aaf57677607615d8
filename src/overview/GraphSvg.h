#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "overview/OverviewRecords.h"

namespace varlow {

struct TSvgGraphOptions {
  std::size_t First = 0;  // first picture drawn
  std::size_t Count = 0;  // pictures drawn (cut to those there are)
  int Width = 1200;
  int Height = 400;
  // Bit rate of the one second ending at each picture drawn, from First on (SecondBitRates);
  // null or empty: no line.
  const std::vector<float>* Rates = nullptr;
  double DeclaredBitRate = 0;  // 0: no line
};

// The picture-size graph as an SVG document: one <rect class="bar X"> per picture (X the coding
// type letter), a dashed line at each group start, the one-second bit rate as a polyline and the
// declared bit rate as a horizontal line, both against the right-hand scale.
std::string GraphToSvg(const TOverviewData& data, const TSvgGraphOptions& options);

} // namespace varlow
