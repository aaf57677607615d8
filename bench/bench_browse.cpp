// Browsing cost on a large sparse file: a refill plus the search of each move must cost the same
// at the start of a 10 GiB file as anywhere in it (a fixed 2-5 MiB read per move).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "browser/PackIndex.h"

namespace {

constexpr std::int64_t kGiB = 1024LL * 1024 * 1024;
constexpr std::int64_t kFileSize = 10 * kGiB;
constexpr std::int64_t kMiddle = 5 * kGiB + 3;

// A 10 GiB sparse file with the bundled sample written at the start, in the middle and at the end.
class TSparseFile {
public:
  TSparseFile() {
    path_ = (std::filesystem::temp_directory_path() / ("varlow-bench-" + std::to_string(::getpid()) + ".m2v")).string();
    std::ifstream in(std::string(VARLOW_SOURCE_DIR) + "/samples/sample.m2v", std::ios::binary);
    const std::vector<char> sample{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::ofstream out(path_, std::ios::binary);
    for (std::int64_t at : {std::int64_t{0}, kMiddle, kFileSize - static_cast<std::int64_t>(sample.size())}) {
      out.seekp(at);
      out.write(sample.data(), static_cast<std::streamsize>(sample.size()));
    }
  }
  ~TSparseFile() { std::filesystem::remove(path_); }
  const std::string& Path() const { return path_; }

private:
  std::string path_;
};

TSparseFile& File() {
  static TSparseFile file;
  return file;
}

std::unique_ptr<varlow::TPackIndex> OpenIndex() {
  auto index = std::make_unique<varlow::TPackIndex>();
  index->SetStream(varlow::TByteSource::OpenPlain(File().Path(), varlow::TFileStream::Mode::ReadOnly));
  index->SetRowsPerPage(40);
  index->RefreshPosition(0);
  return index;
}

void BM_StepDownAtStart(benchmark::State& state) {
  auto index = OpenIndex();
  for (auto _ : state) {
    index->Home();
    index->StepDown();
    benchmark::DoNotOptimize(index->PackCount());
  }
}
BENCHMARK(BM_StepDownAtStart)->Unit(benchmark::kMillisecond);

void BM_JumpIntoMiddle(benchmark::State& state) {
  auto index = OpenIndex();
  for (auto _ : state) {
    index->JumpToScrollPos(static_cast<std::int32_t>(kMiddle / 100));
    benchmark::DoNotOptimize(index->PackCount());
  }
}
BENCHMARK(BM_JumpIntoMiddle)->Unit(benchmark::kMillisecond);

void BM_JumpIntoHole(benchmark::State& state) {
  // Nothing within 2 MiB either way: both searches and a 5 MiB refill of zeros.
  auto index = OpenIndex();
  for (auto _ : state) {
    index->JumpToScrollPos(static_cast<std::int32_t>(7 * kGiB / 100));
    benchmark::DoNotOptimize(index->PackCount());
  }
}
BENCHMARK(BM_JumpIntoHole)->Unit(benchmark::kMillisecond);

void BM_EndOfFile(benchmark::State& state) {
  auto index = OpenIndex();
  for (auto _ : state) {
    index->End();
    benchmark::DoNotOptimize(index->PackCount());
  }
}
BENCHMARK(BM_EndOfFile)->Unit(benchmark::kMillisecond);

void BM_PageDownThroughMiddle(benchmark::State& state) {
  auto index = OpenIndex();
  index->JumpToScrollPos(static_cast<std::int32_t>(kMiddle / 100));
  for (auto _ : state) {
    if (!index->PageDown()) index->JumpToScrollPos(static_cast<std::int32_t>(kMiddle / 100));
    benchmark::DoNotOptimize(index->PackCount());
  }
}
BENCHMARK(BM_PageDownThroughMiddle)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
