#include "overview/GraphSvg.h"

#include <algorithm>
#include <cstdio>

#include "overview/GraphStyle.h"
#include "syntax/CodeTables.h"

namespace varlow {

namespace {

std::string Colour(std::uint32_t rgb) {
  char text[8];
  std::snprintf(text, sizeof text, "#%06X", rgb & 0xFFFFFFu);
  return text;
}

std::string Num(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", v);
  return text;
}

constexpr double kMarginLeft = 60;
constexpr double kMarginRight = 70;
constexpr double kMarginTop = 10;
constexpr double kMarginBottom = 24;

} // namespace

std::string GraphToSvg(const TOverviewData& data, const TSvgGraphOptions& o) {
  const std::size_t first = std::min(o.First, data.Pictures.size());
  const std::size_t count = std::min(o.Count, data.Pictures.size() - first);
  const double plotW = std::max(10.0, o.Width - kMarginLeft - kMarginRight);
  const double plotH = std::max(10.0, o.Height - kMarginTop - kMarginBottom);
  const double bottom = kMarginTop + plotH;

  std::int64_t maxBytes = 1;
  double maxRate = o.DeclaredBitRate;
  for (std::size_t i = first; i < first + count; ++i) {
    maxBytes = std::max(maxBytes, data.Pictures[i].Size());
    if (o.Rates && i - first < o.Rates->size()) maxRate = std::max(maxRate, double((*o.Rates)[i - first]));
  }
  if (maxRate <= 0) maxRate = 1;
  const double slot = count ? plotW / static_cast<double>(count) : plotW;
  const double barW = std::max(slot * 0.8, 0.1);

  std::string svg;
  svg.reserve(200 + count * 110);
  svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(o.Width) + "\" height=\"" +
         std::to_string(o.Height) + "\" viewBox=\"0 0 " + std::to_string(o.Width) + " " + std::to_string(o.Height) +
         "\">\n";
  svg += "<title>Picture sizes, pictures " + std::to_string(first) + " to " +
         std::to_string(count ? first + count - 1 : first) + "</title>\n";
  svg += "<rect x=\"0\" y=\"0\" width=\"" + std::to_string(o.Width) + "\" height=\"" + std::to_string(o.Height) +
         "\" fill=\"#FFFFFF\"/>\n";
  // Axes with their largest values.
  svg += "<line x1=\"" + Num(kMarginLeft) + "\" y1=\"" + Num(bottom) + "\" x2=\"" + Num(kMarginLeft + plotW) +
         "\" y2=\"" + Num(bottom) + "\" stroke=\"#000000\"/>\n";
  svg += "<text x=\"2\" y=\"" + Num(kMarginTop + 10) + "\" font-size=\"10\">" + std::to_string(maxBytes) +
         " B</text>\n";
  svg += "<text x=\"" + Num(kMarginLeft + plotW + 4) + "\" y=\"" + Num(kMarginTop + 10) + "\" font-size=\"10\">" +
         std::to_string(static_cast<long long>(maxRate)) + " bit/s</text>\n";

  svg += "<g id=\"groups\" stroke=\"" + Colour(kColourGroup) + "\" stroke-dasharray=\"3,3\">\n";
  for (std::size_t i = first; i < first + count; ++i) {
    const std::uint32_t group = data.GroupOf(i);
    const bool groupStart = group != kNoIndex && data.Groups[group].FirstPicture == i;
    if (!groupStart) continue;
    const double x = kMarginLeft + slot * static_cast<double>(i - first);
    svg += "<line x1=\"" + Num(x) + "\" y1=\"" + Num(kMarginTop) + "\" x2=\"" + Num(x) + "\" y2=\"" + Num(bottom) +
           "\"/>\n";
  }
  svg += "</g>\n<g id=\"bars\">\n";
  for (std::size_t i = first; i < first + count; ++i) {
    const TPictureRecord& p = data.Pictures[i];
    const double h = plotH * static_cast<double>(p.Size()) / static_cast<double>(maxBytes);
    const double x = kMarginLeft + slot * static_cast<double>(i - first);
    svg += "<rect class=\"bar ";
    svg += CodingTypeName(p.CodingType());
    svg += "\" x=\"" + Num(x) + "\" y=\"" + Num(bottom - h) + "\" width=\"" + Num(barW) + "\" height=\"" + Num(h) +
           "\" fill=\"" + Colour(CodingTypeColour(p.CodingType())) + "\"><title>" + std::to_string(p.Offset()) + ": " +
           std::to_string(p.Size()) + " bytes</title></rect>\n";
  }
  svg += "</g>\n";
  if (o.Rates && count > 0) {
    svg += "<polyline id=\"rate\" fill=\"none\" stroke=\"" + Colour(kColourRate) + "\" points=\"";
    for (std::size_t i = first; i < first + count && i - first < o.Rates->size(); ++i) {
      const double x = kMarginLeft + slot * (static_cast<double>(i - first) + 0.5);
      const double y = bottom - plotH * (*o.Rates)[i - first] / maxRate;
      svg += Num(x) + "," + Num(y) + " ";
    }
    svg += "\"/>\n";
  }
  if (o.DeclaredBitRate > 0) {
    const double y = bottom - plotH * o.DeclaredBitRate / maxRate;
    svg += "<line id=\"declared\" x1=\"" + Num(kMarginLeft) + "\" y1=\"" + Num(y) + "\" x2=\"" +
           Num(kMarginLeft + plotW) + "\" y2=\"" + Num(y) + "\" stroke=\"" + Colour(kColourDeclared) +
           "\" stroke-dasharray=\"6,3\"/>\n";
  }
  svg += "</svg>\n";
  return svg;
}

} // namespace varlow
