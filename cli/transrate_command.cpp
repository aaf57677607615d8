#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "Commands.h"
#include "support/FileStream.h"
#include "support/PaddedBuffer.h"
#include "support/Trap.h"
#include "transrate/MPEG2VideoTransrateClass.h"

namespace varlow::cli {

namespace {

constexpr long long kDefaultBitrate = 5'000'000;
constexpr long long kMinBitrate = 1'500'000;
constexpr long long kMaxBitrate = 50'000'000;
constexpr std::size_t kBlockSize = 2 * 1024 * 1024;

// A one-line progress bar on a terminal's standard error, redrawn when the percentage moves.
class TProgressBar {
public:
  explicit TProgressBar(std::int64_t total) : FTotal(total), FShown(isatty(STDERR_FILENO) != 0) {}
  ~TProgressBar() { Finish(); }
  // Ends the bar's line, once.
  void Finish() {
    if (FShown && FLast >= 0) std::fputc('\n', stderr);
    FShown = false;
  }
  void Update(std::int64_t done) {
    if (!FShown || FTotal <= 0) return;
    const int percent = static_cast<int>(done * 100 / FTotal);
    if (percent == FLast) return;
    FLast = percent;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r[%s%s] %3d%% %lld / %lld bytes", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kWidth - filled), '.').c_str(), percent,
                 static_cast<long long>(done), static_cast<long long>(FTotal));
    std::fflush(stderr);
  }

private:
  std::int64_t FTotal;
  bool FShown;
  int FLast = -1;
};

bool SameFile(const TFileStream& input, const std::string& outPath) {
  auto existing = TFileStream::Open(outPath, TFileStream::Mode::ReadOnly);
  return existing && existing->Device() == input.Device() && existing->Inode() == input.Inode();
}

} // namespace

// varlow-cli transrate IN OUT [--bitrate N]
int RunTransrate(const Args& args) {
  const auto files = Positionals(args, {"--bitrate"});
  if (files.size() != 2) {
    std::fputs("usage: varlow-cli transrate IN OUT [--bitrate N]\n", stderr);
    return 2;
  }
  long long bitrate = kDefaultBitrate;
  if (auto text = Option(args, "--bitrate")) {
    auto v = ParseNumber(*text);
    if (!v || *v < kMinBitrate || *v > kMaxBitrate) {
      std::fprintf(stderr, "varlow-cli: bit rate %s is outside 1500000..50000000 bit/s\n", text->c_str());
      return 2;
    }
    bitrate = *v;
  }
  auto input = TFileStream::Open(files[0], TFileStream::Mode::ReadOnly);
  if (!input) {
    std::fprintf(stderr, "varlow-cli: cannot open %s\n", files[0].c_str());
    return 1;
  }
  if (SameFile(*input, files[1])) {
    std::fprintf(stderr, "varlow-cli: the output %s is the input file; nothing written\n", files[1].c_str());
    return 2;
  }
  auto output = TFileStream::Open(files[1], TFileStream::Mode::Create);
  if (!output) {
    std::fprintf(stderr, "varlow-cli: cannot create %s\n", files[1].c_str());
    return 1;
  }

  const auto started = std::chrono::steady_clock::now();
  TMPEG2VideoTransrateClass transrate;
  std::int64_t written = 0;
  transrate.SetMPEGESTransReceiveFunctionObj(
      [&](const std::uint8_t* Data, std::int32_t Size, std::int32_t) {
        HRESULT result = E_FAIL;
        Trap("MPEGESTransReceiveFunctionObj", [&] {
          output->Append({Data, static_cast<std::size_t>(Size)});
          written += Size;
          result = S_OK;
        });
        return result;
      });
  transrate.SetMaxOutputBitrate(static_cast<std::int32_t>(bitrate));

  const std::int64_t total = input->Size();
  TProgressBar progress(total);
  TPaddedBuffer block(kBlockSize);
  std::int64_t position = 0;
  bool readFailed = false;
  for (;;) {
    std::int64_t count = 0;
    if (!Trap("RunTransrate", [&] { count = input->ReadAt(position, block.Span()); })) {
      readFailed = true;
      break;
    }
    if (count <= 0) break;
    transrate.AddData(block.Data(), static_cast<std::int32_t>(count));
    position += count;
    progress.Update(position);
  }
  transrate.Flush();
  progress.Finish();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  const double duration = transrate.Fps() > 0 ? transrate.FramePeriodsOut() / transrate.Fps() : 0;
  const double average = duration > 0 ? static_cast<double>(written) * 8 / duration : 0;
  std::fprintf(stderr,
               "transrate: %lld pictures in, %lld out; %lld -> %lld bytes; average %.0f bit/s (limit %lld); "
               "%.2f s\n",
               static_cast<long long>(transrate.PicturesIn()), static_cast<long long>(transrate.PicturesOut()),
               static_cast<long long>(position), static_cast<long long>(written), average, bitrate, seconds);
  const bool complete =
      !readFailed && transrate.PicturesIn() > 0 && transrate.PicturesOut() == transrate.PicturesIn();
  return complete ? 0 : 1;
}

} // namespace varlow::cli
