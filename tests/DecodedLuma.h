#pragma once
// Decodes a stream file to its luma pictures with ffmpeg or libmpeg2's mpeg2dec, and measures
// how far two decoded pictures lie apart: PSNR of the whole picture and of its worst band of 16
// lines (one macroblock row, so one damaged slice of a frame picture shows on its own).
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace varlow::test {

struct TDecodedLuma {
  int Width = 0;
  int Height = 0;
  std::vector<std::vector<std::uint8_t>> Pictures;  // Width * Height bytes each, display order
  bool Clean = false;                               // the decoder exited with 0 and reported nothing
  std::string Errors;                               // what it reported
};

// Runs `command` in a shell and returns its standard output; `status` gets its exit status.
inline std::vector<std::uint8_t> CaptureOutput(const std::string& command, int& status) {
  std::vector<std::uint8_t> out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  status = -1;
  if (!pipe) return out;
  std::uint8_t chunk[1 << 16];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe.get())) > 0;)
    out.insert(out.end(), chunk, chunk + n);
  const int raw = pclose(pipe.release());
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// ffmpeg's pictures, one per decoded frame (no repeats for repeat_first_field, no drops), with
// every error check on: -xerror and +explode stop at the first damaged macroblock.
inline TDecodedLuma DecodeLumaWithFfmpeg(const std::string& path, int width, int height) {
  TDecodedLuma d{width, height, {}, false, {}};
  const std::string log = path + ".ffmpeg.log";
  int status = 0;
  const auto raw =
      CaptureOutput("ffmpeg -nostdin -v error -xerror -err_detect +explode -i '" + path +
                        "' -fps_mode passthrough -vf extractplanes=y -f rawvideo -pix_fmt gray - 2>'" + log + "'",
                    status);
  d.Errors = ReadText(log);
  std::remove(log.c_str());
  d.Clean = status == 0 && d.Errors.empty();
  const std::size_t size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (size == 0) return d;
  for (std::size_t at = 0; at + size <= raw.size(); at += size)
    d.Pictures.emplace_back(raw.begin() + static_cast<std::ptrdiff_t>(at),
                            raw.begin() + static_cast<std::ptrdiff_t>(at + size));
  return d;
}

// mpeg2dec's pictures. Its PGM pictures are padded to whole macroblocks and carry the chroma
// below the luma; only the visible luma is kept. libmpeg2 conceals damage without a word, so
// Clean says only that it ran.
inline TDecodedLuma DecodeLumaWithMpeg2dec(const std::string& path, int width, int height) {
  TDecodedLuma d{width, height, {}, false, {}};
  int status = 0;
  const auto pgm = CaptureOutput("mpeg2dec -o pgmpipe '" + path + "' 2>/dev/null", status);
  d.Clean = status == 0;
  std::size_t i = 0;
  while (i < pgm.size()) {
    int fields[3] = {};  // "P5", then width, height, maximum value
    std::size_t j = i + 2;
    for (int& f : fields) {
      while (j < pgm.size() && (pgm[j] == ' ' || pgm[j] == '\n')) ++j;
      for (; j < pgm.size() && pgm[j] >= '0' && pgm[j] <= '9'; ++j) f = f * 10 + (pgm[j] - '0');
    }
    ++j;  // the single white space after the maximum value
    const std::size_t w = static_cast<std::size_t>(fields[0]), h = static_cast<std::size_t>(fields[1]);
    if (pgm[i] != 'P' || w < static_cast<std::size_t>(width) || j + w * h > pgm.size()) {
      d.Clean = false;
      break;
    }
    std::vector<std::uint8_t> luma;
    luma.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
      const auto row = pgm.begin() + static_cast<std::ptrdiff_t>(j + static_cast<std::size_t>(y) * w);
      luma.insert(luma.end(), row, row + width);
    }
    d.Pictures.push_back(std::move(luma));
    i = j + w * h;
  }
  return d;
}

struct TPictureDistance {
  double Psnr = 99;       // the whole picture
  double WorstBand = 99;  // the worst band of 16 lines
};

inline double PsnrOf(double squaredError, double samples) {
  if (squaredError <= 0 || samples <= 0) return 99;
  return std::min(99.0, 10 * std::log10(255.0 * 255.0 * samples / squaredError));
}

inline TPictureDistance Distance(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b, int width,
                                 int height) {
  TPictureDistance d;
  if (a.size() != b.size() || width <= 0) return {0, 0};
  double total = 0;
  for (int top = 0; top < height; top += 16) {
    const int rows = std::min(16, height - top);
    double band = 0;
    for (std::size_t i = static_cast<std::size_t>(top) * static_cast<std::size_t>(width),
                     end = i + static_cast<std::size_t>(rows) * static_cast<std::size_t>(width);
         i < end; ++i) {
      const double e = static_cast<double>(a[i]) - static_cast<double>(b[i]);
      band += e * e;
    }
    total += band;
    d.WorstBand = std::min(d.WorstBand, PsnrOf(band, double(rows) * width));
  }
  d.Psnr = PsnrOf(total, double(height) * width);
  return d;
}

}  // namespace varlow::test
