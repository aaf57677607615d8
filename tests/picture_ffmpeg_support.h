#pragma once
// Debian's ffmpeg as the judge of decoded pictures: which output frame a pack becomes, the
// frame's luma as ffmpeg decodes it, its RGB picture, and its macroblock-type grid.
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "TestStreams.h"
#include "picture/StreamUnits.h"

namespace varlow::test {

inline std::string Capture(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return out;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) out.append(buffer, n);
  return out;
}

inline std::vector<TStreamUnit> FileUnits(const std::string& path) { return ScanStreamUnits(ReadFileBytes(path), 0, true); }

// The first I and P picture and a B picture after the group's first P (so not a leading one).
inline std::vector<TStreamUnit> PicturesToCheck(const std::vector<TStreamUnit>& units) {
  std::vector<TStreamUnit> chosen;
  bool haveI = false, haveP = false, haveB = false;
  for (const TStreamUnit& u : units) {
    if (!u.IsPicture() || u.SecondField) continue;
    if (u.PictureCodingType == 1 && !haveI) { chosen.push_back(u); haveI = true; }
    else if (u.PictureCodingType == 2 && !haveP) { chosen.push_back(u); haveP = true; }
    else if (u.PictureCodingType == 3 && haveP && !haveB) { chosen.push_back(u); haveB = true; }
  }
  return chosen;
}

// Packet positions of the frames ffmpeg outputs, in display order.
inline std::vector<long long> FramePacketPositions(const std::string& path) {
  std::vector<long long> positions;
  const std::string text = Capture("ffprobe -v error -show_entries frame=pkt_pos -of csv=p=0 '" + path + "'");
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) positions.push_back(std::stoll(line));
    at = end + 1;
  }
  return positions;
}

// Display index of the frame whose packet holds the picture at `offset`: the frame with the
// largest packet position not past it; -1 when none.
inline int DisplayIndexOf(const std::vector<long long>& positions, long long offset) {
  int best = -1;
  for (int i = 0; i < static_cast<int>(positions.size()); ++i) {
    if (positions[static_cast<std::size_t>(i)] <= offset &&
        (best < 0 || positions[static_cast<std::size_t>(i)] > positions[static_cast<std::size_t>(best)]))
      best = i;
  }
  return best;
}

// Luma of output frame `index` (ffmpeg's own decode), or of a picture file's RGB converted back,
// in full range (what ffmpeg's gray format holds).
inline std::vector<std::uint8_t> FfmpegLuma(const std::string& input, int index) {
  const std::string select = index >= 0 ? " -vf 'select=eq(n\\," + std::to_string(index) + ")'" : "";
  const std::string text = Capture("ffmpeg -nostdin -v error -i '" + input + "'" + select +
                                   " -frames:v 1 -pix_fmt gray -f rawvideo - 2>/dev/null");
  return {text.begin(), text.end()};
}

// The Y plane of output frame `index` as the decoder gave it (video range): the first
// width x height bytes of the frame in its own planar format.
inline std::vector<std::uint8_t> FfmpegYPlane(const std::string& input, int index, std::size_t samples) {
  const std::string text = Capture("ffmpeg -nostdin -v error -i '" + input + "' -vf 'select=eq(n\\," +
                                   std::to_string(index) + ")' -frames:v 1 -f rawvideo - 2>/dev/null");
  return {text.begin(), text.begin() + static_cast<std::ptrdiff_t>(std::min(samples, text.size()))};
}

// What ffprobe says of a file's first video stream.
struct FfmpegVideo {
  int width = 0, height = 0;
  std::string pixFmt, colorSpace, chromaLocation;
};
inline FfmpegVideo ProbeVideo(const std::string& path) {
  FfmpegVideo video;
  const std::string text = Capture("ffprobe -v error -select_streams v:0 -show_entries "
                                   "stream=width,height,pix_fmt,color_space,chroma_location -of default=nw=1 '" +
                                   path + "'");
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "width") video.width = std::stoi(value);
    else if (key == "height") video.height = std::stoi(value);
    else if (key == "pix_fmt") video.pixFmt = value;
    else if (key == "color_space") video.colorSpace = value;
    else if (key == "chroma_location") video.chromaLocation = value;
  }
  return video;
}

// ffmpeg's PNG of output frame `index` (of its field "top" or "bottom" when `field` names one),
// converted by its scale filter with chroma interpolated to every pixel and exact rounding, the
// chroma siting the stream declares, and `matrix` ("auto": what the stream signals). Returns
// ffmpeg's exit status.
inline int FfmpegPng(const std::string& input, int index, const std::string& field, const std::string& matrix,
                     const std::string& png) {
  const FfmpegVideo video = ProbeVideo(input);
  const bool cosited = video.chromaLocation == "left" || video.chromaLocation == "topleft";
  const bool chroma420 = video.pixFmt == "yuv420p";
  const int horizontal = cosited || video.pixFmt == "yuv444p" ? 0 : 128;
  const int vertical = !chroma420 ? 0 : field == "top" ? 64 : field == "bottom" ? 192 : 128;
  const std::string filters = "select=eq(n\\," + std::to_string(index) + ")" + (field.empty() ? "" : ",field=" + field) +
                              ",scale=in_color_matrix=" + matrix + ":in_h_chr_pos=" + std::to_string(horizontal) +
                              ":in_v_chr_pos=" + std::to_string(vertical) +
                              ":flags=bilinear+accurate_rnd+full_chroma_int";
  const std::string command = "ffmpeg -nostdin -v error -y -i '" + input + "' -vf '" + filters +
                              "' -frames:v 1 -pix_fmt rgb24 '" + png + "' 2>/dev/null";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline double PsnrY(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0.0;
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double d = double(a[i]) - double(b[i]);
    sum += d * d;
  }
  if (sum == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 / (sum / double(a.size())));
}

// ffmpeg's "-debug mb_type" grid, one string of type characters per picture in display order.
struct FfmpegTypeGrid {
  char type = '?';
  std::vector<std::string> rows;
};
inline std::vector<FfmpegTypeGrid> FfmpegTypeGrids(const std::string& path) {
  std::vector<FfmpegTypeGrid> grids;
  const std::string text = Capture("ffmpeg -nostdin -hide_banner -nostats -threads 1 -debug mb_type -i '" + path +
                                   "' -f null - 2>&1");
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    const auto bracket = line.find("] ");
    if (line.rfind("[mpeg", 0) != 0 || bracket == std::string::npos) continue;
    std::string body = line.substr(bracket + 2);
    if (body.rfind("New frame, type: ", 0) == 0) {
      grids.push_back({body[17], {}});
      continue;
    }
    if (grids.empty()) continue;
    std::string cells;
    for (std::size_t i = 0; i < body.size(); i += 3) cells += body[i];
    while (!cells.empty() && cells.back() == ' ') cells.pop_back();
    if (!cells.empty()) grids.back().rows.push_back(cells);
  }
  return grids;
}

} // namespace varlow::test
