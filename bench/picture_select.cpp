// Showing a picture: a 1920x1080 B picture in the middle of a 15-picture group decoded from the
// group's I picture with its macroblocks analysed (what the pane does before it paints), and the
// next picture of the group, which the pane's prefetch has put in the cache.
// The stream is made by bench/picture_speed.sh; VARLOW_PICTURE_STREAM names it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "picture/MacroblockMap.h"
#include "picture/PictureDecoder.h"
#include "picture/PictureLoader.h"
#include "picture/StreamUnits.h"
#include "support/FileStream.h"

namespace {

struct GroupStream {
  std::string path;
  std::int64_t middleB = -1, next = -1;

  GroupStream() {
    const char* env = std::getenv("VARLOW_PICTURE_STREAM");
    path = env != nullptr ? env : "";
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> raw{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // The B picture at the middle of the first group in coding order, and the pack after it.
    std::vector<varlow::TStreamUnit> pictures;
    int groups = 0;
    for (const auto& u : varlow::ScanStreamUnits(raw, 0, true)) {
      if (u.Code == 0xB8 && ++groups > 1) break;
      if (u.IsPicture()) pictures.push_back(u);
    }
    for (std::size_t i = pictures.size() / 2; i + 1 < pictures.size(); ++i) {
      if (pictures[i].PictureCodingType == 3) {
        middleB = pictures[i].Offset;
        next = pictures[i + 1].Offset;
        break;
      }
    }
  }
};

const GroupStream& Stream() {
  static const GroupStream stream;
  return stream;
}

void SelectMiddleB(benchmark::State& state) {
  const auto& s = Stream();
  if (s.middleB < 0) {
    state.SkipWithError("no stream: run bench/picture_speed.sh");
    return;
  }
  for (auto _ : state) {
    varlow::TPictureLoader loader(s.path);  // nothing cached
    auto loaded = loader.Load(s.middleB);
    benchmark::DoNotOptimize(loaded.Picture.Picture);
    benchmark::DoNotOptimize(loaded.Map);
  }
}
BENCHMARK(SelectMiddleB)->Unit(benchmark::kMillisecond)->UseRealTime();

void DecodeOnlyMiddleB(benchmark::State& state) {
  const auto& s = Stream();
  if (s.middleB < 0) {
    state.SkipWithError("no stream: run bench/picture_speed.sh");
    return;
  }
  for (auto _ : state) {
    varlow::TPictureDecoder decoder(s.path);
    benchmark::DoNotOptimize(decoder.Decode(s.middleB).Picture);
  }
}
BENCHMARK(DecodeOnlyMiddleB)->Unit(benchmark::kMillisecond)->UseRealTime();

void NextPictureOfTheGroup(benchmark::State& state) {
  const auto& s = Stream();
  if (s.middleB < 0) {
    state.SkipWithError("no stream: run bench/picture_speed.sh");
    return;
  }
  varlow::TPictureLoader loader(s.path);
  loader.Load(s.middleB);
  loader.Prefetch();  // what the pane does while the picture is on screen
  for (auto _ : state) {
    auto loaded = loader.Load(s.next);
    if (!loaded.Picture.FromCache) state.SkipWithError("the next picture was not cached");
    benchmark::DoNotOptimize(loaded.Map);
  }
}
BENCHMARK(NextPictureOfTheGroup)->Unit(benchmark::kMillisecond)->UseRealTime();

void AnalyseMacroblocksOnly(benchmark::State& state) {
  const auto& s = Stream();
  if (s.middleB < 0) {
    state.SkipWithError("no stream: run bench/picture_speed.sh");
    return;
  }
  auto file = varlow::TByteSource::OpenPlain(s.path, varlow::TFileStream::Mode::ReadOnly);
  for (auto _ : state) benchmark::DoNotOptimize(varlow::AnalysePictureMacroblocks(*file, s.middleB).Macroblocks.data());
}
BENCHMARK(AnalyseMacroblocksOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
