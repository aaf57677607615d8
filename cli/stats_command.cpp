#include <unistd.h>

#include <cstdio>
#include <string>

#include "Commands.h"
#include "OpenStream.h"
#include "overview/OverviewReport.h"
#include "overview/OverviewScanner.h"
#include "overview/OverviewStatistics.h"

namespace varlow::cli {

namespace {

// "scanning  42% 1234567 / 2939393 bytes" on a terminal's standard error, redrawn when the
// percentage moves; nothing when standard error is not a terminal.
class TScanProgress {
public:
  TScanProgress() : FShown(isatty(STDERR_FILENO) != 0) {}
  ~TScanProgress() {
    if (FShown && FLast >= 0) std::fputs("\r\033[K", stderr);
  }
  void Update(std::int64_t done, std::int64_t total) {
    if (!FShown || total <= 0) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == FLast) return;
    FLast = percent;
    std::fprintf(stderr, "\rscanning %3d%% %lld / %lld bytes", percent, static_cast<long long>(done),
                 static_cast<long long>(total));
    std::fflush(stderr);
  }

private:
  bool FShown;
  int FLast = -1;
};

} // namespace

bool ScanWholeFile(const std::string& path, const Args& args, TOverviewData& data) {
  auto stream = OpenVideoStream(path, args);
  if (!stream) return false;
  TScanProgress progress;
  TOverviewScanner().Scan(*stream, data, nullptr, nullptr,
                          [&progress](std::int64_t done, std::int64_t total) { progress.Update(done, total); });
  if (data.Report.State == TScanReport::End::ReadFailed) {
    std::fprintf(stderr, "varlow-cli: %s: reading failed after %lld bytes\n", path.c_str(),
                 static_cast<long long>(data.Report.BytesScanned));
    return false;
  }
  return true;
}

// varlow-cli stats FILE [--json]
int RunStats(const Args& args) {
  const auto files = Positionals(args, {});
  if (files.size() != 1) {
    std::fputs("usage: varlow-cli stats FILE [--json]\n", stderr);
    return 2;
  }
  TOverviewData data;
  const bool read = ScanWholeFile(files[0], args, data);
  if (!read && data.Report.BytesScanned == 0) return 1;
  const TOverviewStatistics statistics = ComputeStatistics(data);
  const std::string text = Flag(args, "--json") ? StatisticsToJson(statistics, data.Report)
                                                : StatisticsToText(statistics, data.Report);
  std::fputs(text.c_str(), stdout);
  return read ? 0 : 1;
}

} // namespace varlow::cli
