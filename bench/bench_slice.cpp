// Time to explain the largest slice of a 1920x1080 picture into an in-memory tree, as the
// slice request does it: a new viewer, the sequence headers, then the picture block.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "slice/MPEGVideoViewer.h"
#include "support/MemoryTree.h"
#include "support/PaddedBuffer.h"

namespace {

struct Hd1080 {
  varlow::TPaddedBuffer bytes;
  std::size_t sequence = 0, picture = 0;
  std::int32_t slice = -1;
  std::int64_t sliceBits = 0;

  Hd1080() {
    std::ifstream in(VARLOW_TEST_STREAMS "/hd1080.m2v", std::ios::binary);
    std::vector<std::uint8_t> raw{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    bytes = varlow::TPaddedBuffer(raw.size());
    bytes.Assign(raw);
    // The largest slice of the stream: from its start code to the next start code.
    std::size_t currentPicture = 0, sliceStart = 0;
    std::int32_t sliceInPicture = -1, currentSlice = -1;
    std::size_t currentSliceStart = 0;
    auto closeSlice = [&](std::size_t end) {
      if (currentSlice >= 0 && static_cast<std::int64_t>(end - currentSliceStart) * 8 > sliceBits) {
        sliceBits = static_cast<std::int64_t>(end - currentSliceStart) * 8;
        picture = currentPicture;
        slice = currentSlice;
        sliceStart = currentSliceStart;
      }
      currentSlice = -1;
    };
    for (std::size_t i = 0; i + 3 < raw.size(); ++i) {
      if (raw[i] != 0 || raw[i + 1] != 0 || raw[i + 2] != 1) continue;
      closeSlice(i);
      if (raw[i + 3] == 0x00) {
        currentPicture = i;
        sliceInPicture = -1;
      } else if (raw[i + 3] >= 0x01 && raw[i + 3] <= 0xAF) {
        currentSlice = ++sliceInPicture;
        currentSliceStart = i;
      }
    }
    closeSlice(raw.size());
    (void)sliceStart;
  }
};

void BM_ExplainLargestHd1080Slice(benchmark::State& state) {
  static const Hd1080 stream;
  if (stream.slice < 0) {
    state.SkipWithError("hd1080.m2v not found or without slices");
    return;
  }
  // The request hands the analyser up to 2 MiB from the picture on.
  const std::size_t pictureBytes = std::min<std::size_t>(stream.bytes.Size() - stream.picture, 2u << 20);
  std::size_t nodes = 0;
  for (auto _ : state) {
    varlow::TMemoryTree tree;
    varlow::TMPEGVideoViewer viewer;
    viewer.FTreeView = &tree;
    viewer.DecodeFrame(stream.bytes.Data(), static_cast<std::int32_t>(stream.picture + 4));
    viewer.SetSlice(stream.bytes.Data() + stream.picture, static_cast<std::int32_t>(pictureBytes), stream.slice);
    nodes = tree.Size();
    benchmark::DoNotOptimize(nodes);
  }
  state.counters["nodes"] = static_cast<double>(nodes);
  state.counters["slice_bytes"] = static_cast<double>(stream.sliceBits / 8);
}
BENCHMARK(BM_ExplainLargestHd1080Slice)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
