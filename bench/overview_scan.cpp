// Speed of the whole-file overview scan against plain reading of the same file from the page
// cache (what `cat FILE > /dev/null` does: 128 KiB reads, nothing looked at).
//   overview_scan [--benchmark_filter=...]      file: $VARLOW_BENCH_FILE, else a 256 MiB file
//                                              made from the project's sample stream in /tmp
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "overview/OverviewScanner.h"
#include "overview/OverviewStatistics.h"
#include "support/FileStream.h"

namespace {

const std::string& BenchFile() {
  static const std::string path = [] {
    if (const char* given = std::getenv("VARLOW_BENCH_FILE")) return std::string(given);
    const std::string made = "/tmp/varlow-overview-bench-" + std::to_string(::getuid()) + ".m2v";
    constexpr std::uintmax_t kSize = 256u << 20;
    if (!std::filesystem::exists(made) || std::filesystem::file_size(made) < kSize) {
      std::ifstream in(std::string(VARLOW_SOURCE_DIR) + "/samples/sample.m2v", std::ios::binary);
      const std::vector<char> sample((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::ofstream out(made, std::ios::binary | std::ios::trunc);
      for (std::uintmax_t n = 0; n < kSize && !sample.empty(); n += sample.size())
        out.write(sample.data(), static_cast<std::streamsize>(sample.size()));
    }
    return made;
  }();
  return path;
}

void BM_ReadOnly(benchmark::State& state) {
  auto stream = varlow::TByteSource::OpenPlain(BenchFile(), varlow::TFileStream::Mode::ReadOnly);
  std::vector<std::uint8_t> block(static_cast<std::size_t>(state.range(0)));
  std::int64_t total = 0;
  for (auto _ : state) {
    std::int64_t at = 0;
    for (std::int64_t n; (n = stream->ReadAt(at, block)) > 0;) at += n;
    total += at;
  }
  state.SetBytesProcessed(total);
}
BENCHMARK(BM_ReadOnly)->Arg(128 << 10)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OverviewScan(benchmark::State& state) {
  auto stream = varlow::TByteSource::OpenPlain(BenchFile(), varlow::TFileStream::Mode::ReadOnly);
  std::int64_t total = 0;
  std::size_t pictures = 0;
  for (auto _ : state) {
    varlow::TOverviewData data;
    varlow::TOverviewScanner(static_cast<std::size_t>(state.range(0))).Scan(*stream, data);
    total += data.Report.BytesScanned;
    pictures = data.Pictures.size();
  }
  state.SetBytesProcessed(total);
  state.counters["pictures"] = static_cast<double>(pictures);
}
BENCHMARK(BM_OverviewScan)
    ->Arg(32 << 10)
    ->Arg(64 << 10)
    ->Arg(128 << 10)
    ->Arg(256 << 10)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Statistics(benchmark::State& state) {
  auto stream = varlow::TByteSource::OpenPlain(BenchFile(), varlow::TFileStream::Mode::ReadOnly);
  varlow::TOverviewData data;
  varlow::TOverviewScanner().Scan(*stream, data);
  for (auto _ : state) benchmark::DoNotOptimize(varlow::ComputeStatistics(data));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(data.Pictures.size()));
}
BENCHMARK(BM_Statistics)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
