#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "Commands.h"
#include "OpenStream.h"
#include "transrate/SizeTarget.h"
#include "transrate/TransrateFile.h"

namespace varlow::cli {

namespace {

constexpr long long kDefaultBitrate = 5'000'000;
constexpr long long kMinBitrate = kMinTransrateBitrate;
constexpr long long kMaxBitrate = kMaxTransrateBitrate;
constexpr int kInterruptedExit = 130;  // what a shell reports for a run ended by Ctrl+C

// A one-line progress bar on a terminal's standard error, redrawn when the percentage moves.
class TProgressBar {
public:
  TProgressBar() : FShown(isatty(STDERR_FILENO) != 0) {}
  ~TProgressBar() { Finish(); }
  // Ends the bar's line, once.
  void Finish() {
    if (FShown && FLast >= 0) std::fputc('\n', stderr);
    FShown = false;
  }
  void Update(std::int64_t done, std::int64_t total) {
    if (!FShown || total <= 0) return;
    const int percent = static_cast<int>(std::min(done, total) * 100 / total);
    if (percent == FLast) return;
    FLast = percent;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r[%s%s] %3d%% %lld / %lld bytes", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kWidth - filled), '.').c_str(), percent,
                 static_cast<long long>(done), static_cast<long long>(total));
    std::fflush(stderr);
  }

private:
  bool FShown;
  int FLast = -1;
};

// Ctrl+C and SIGTERM end the run at the next block, so the temporary output is removed and
// an existing file is left as it was instead of a half-written file being left behind.
volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnInterrupt(int) { gInterrupted = 1; }

class TInterruptGuard {
public:
  TInterruptGuard() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &FOldInt);
    sigaction(SIGTERM, &action, &FOldTerm);
  }
  ~TInterruptGuard() {
    sigaction(SIGINT, &FOldInt, nullptr);
    sigaction(SIGTERM, &FOldTerm, nullptr);
  }
  TInterruptGuard(const TInterruptGuard&) = delete;
  TInterruptGuard& operator=(const TInterruptGuard&) = delete;

private:
  struct sigaction FOldInt {};
  struct sigaction FOldTerm {};
};

// More threads than this only hold more groups of pictures in memory.
constexpr int kMaxThreads = 256;

constexpr const char* kTransrateUsage =
    "usage: varlow-cli transrate IN OUT [--bitrate N | --size SIZE | --ratio F] [--method requant|cut] [--stream N]\n"
    "                            [--keep-mux-rate] [--threads N]\n";

// --size and --ratio: false (with the reason printed) when either is given wrongly.
bool SizeChoice(const Args& args, TTransrateOptions& options) {
  const int chosen = (Flag(args, "--bitrate") ? 1 : 0) + (Flag(args, "--size") ? 1 : 0) + (Flag(args, "--ratio") ? 1 : 0);
  if (chosen > 1) {
    std::fputs("varlow-cli: choose one of --bitrate, --size and --ratio\n", stderr);
    return false;
  }
  if (auto text = Option(args, "--size")) {
    const auto size = ParseSize(*text);
    if (!size) {
      std::fprintf(stderr, "varlow-cli: size %s is not a size in bytes (suffixes k, M, G, KiB, MiB, GiB)\n", text->c_str());
      return false;
    }
    options.SizeBytes = *size;
  }
  if (auto text = Option(args, "--ratio")) {
    char* end = nullptr;
    const double ratio = std::strtod(text->c_str(), &end);
    if (end == text->c_str() || *end != '\0' || !(ratio > 0) || ratio > 1) {
      std::fprintf(stderr, "varlow-cli: ratio %s is not above 0 and at most 1\n", text->c_str());
      return false;
    }
    options.Ratio = ratio;
  }
  if ((options.SizeBytes > 0 || options.Ratio > 0) && Flag(args, "--keep-mux-rate")) {
    std::fputs("varlow-cli: --keep-mux-rate keeps the file's size; it cannot go with --size or --ratio\n", stderr);
    return false;
  }
  return true;
}

} // namespace

// varlow-cli transrate IN OUT [--bitrate N | --size SIZE | --ratio F] [--method requant|cut] [--stream N]
//                             [--keep-mux-rate] [--threads N]
int RunTransrate(const Args& args) {
  const auto files = Positionals(args, {"--bitrate", "--method", "--stream", "--size", "--ratio", "--threads"});
  bool valueMissing = false;
  for (const char* option : {"--bitrate", "--method", "--size", "--ratio", "--threads"})
    if (Flag(args, option) && !Option(args, option)) valueMissing = true;
  if (files.size() != 2 || valueMissing) {
    std::fputs(kTransrateUsage, stderr);
    return 2;
  }
  TTransrateOptions options;
  options.Bitrate = static_cast<std::int32_t>(kDefaultBitrate);
  if (auto text = Option(args, "--bitrate")) {
    auto v = ParseNumber(*text);
    if (!v || *v < kMinBitrate || *v > kMaxBitrate) {
      std::fprintf(stderr, "varlow-cli: bit rate %s is outside %lld..%lld bit/s\n", text->c_str(), kMinBitrate, kMaxBitrate);
      return 2;
    }
    options.Bitrate = static_cast<std::int32_t>(*v);
  }
  if (auto text = Option(args, "--method")) {
    auto method = ParseTransrateMethod(*text);
    if (!method) {
      std::fprintf(stderr, "varlow-cli: unknown method %s (requant or cut)\n", text->c_str());
      return 2;
    }
    options.Method = *method;
  }
  if (auto text = Option(args, "--threads")) {
    auto v = ParseNumber(*text);
    if (!v || *v < 1 || *v > kMaxThreads) {
      std::fprintf(stderr, "varlow-cli: threads %s is outside 1..%d\n", text->c_str(), kMaxThreads);
      return 2;
    }
    options.Threads = static_cast<int>(*v);
  }
  if (!StreamChoice(args, options.Stream)) return 2;
  options.KeepMuxRate = Flag(args, "--keep-mux-rate");
  if (!SizeChoice(args, options)) return 2;

  const auto started = std::chrono::steady_clock::now();
  TTransrateResult result;
  {
    TInterruptGuard interrupts;
    gInterrupted = 0;
    TProgressBar progress;
    result = TransrateFile(files[0], files[1], options, [&](const TTransrateProgress& p) {
      progress.Update(p.InputRead, p.InputSize);
      return gInterrupted == 0;
    });
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  if (result.Status == TTransrateStatus::Refused) {
    std::fprintf(stderr, "varlow-cli: %s; nothing written\n", result.Message.c_str());
    return 2;
  }
  const std::string limit = result.SizeAsked > 0 ? "size " + std::to_string(result.SizeAsked) + " bytes"
                                                : "limit " + std::to_string(options.Bitrate);
  std::fprintf(stderr,
               "transrate: %lld pictures in, %lld out; %lld -> %lld bytes; average %.0f bit/s (%s); "
               "%d of %d groups over budget; %s; %.2f s\n",
               static_cast<long long>(result.PicturesIn), static_cast<long long>(result.PicturesOut),
               static_cast<long long>(result.InputBytes), static_cast<long long>(result.OutputBytes),
               result.AverageBitrate, limit.c_str(), result.GroupsOverBudget, result.Groups,
               std::string(TransrateMethodName(options.Method)).c_str(), seconds);
  if (!result.Carried.empty())
    std::fprintf(stderr, "transrate: video %lld -> %lld bytes; %s\n", static_cast<long long>(result.VideoBytesIn),
                 static_cast<long long>(result.VideoBytesOut), result.Carried.c_str());
  if (const std::string headers = TransrateHeadersNote(result); result.Succeeded() && !headers.empty())
    std::fprintf(stderr, "transrate: %s\n", headers.c_str());
  if (const std::string shortfall = TransrateShortfall(result, options); result.Succeeded() && !shortfall.empty())
    std::fprintf(stderr, "transrate: warning: %s\n", shortfall.c_str());
  switch (result.Status) {
  case TTransrateStatus::Succeeded:
    return 0;
  case TTransrateStatus::Cancelled:
    std::fprintf(stderr, "varlow-cli: interrupted; %s not written\n", files[1].c_str());
    return kInterruptedExit;
  default:
    std::fprintf(stderr, "varlow-cli: %s; %s not written\n", result.Message.c_str(), files[1].c_str());
    return 1;
  }
}

} // namespace varlow::cli
