#pragma once
#include <cstdint>
#include <vector>

#include "browser/PackIndex.h"
#include "support/TreeSink.h"

namespace varlow {

// What a slice request came to.
enum class TSliceRequestResult {
  Explained,        // the analyser ran (the tree may still be empty: no such slice)
  NothingRead,      // no file, or nothing could be read at the offset
  NoPackStarts,     // no indexed start code begins at the offset: the analyser did not run
  NoSequenceHeader, // none within 52 packs before the picture, or the back search failed
  Failed,           // a failure was trapped
};

// Explains slice `sliceIndex` (0-based, in file order; negative: every slice) of the picture
// pack at `pictureOffset` into `sink`: walks back at most 52 packs to the governing sequence
// header, reads 2 MiB of picture data and 1 MiB of sequence data, runs the slice analyser.
// `sliceNode` receives the analyser's last slice node (TTreeSink::kRoot when none), which the
// window expands one level. The analyser runs only when an indexed start code begins at
// `pictureOffset`. Failures are logged under "TForm1.UpdataSliceDetails".
TSliceRequestResult UpdataSliceDetails(TPackIndex& index, std::int64_t pictureOffset, std::int32_t sliceIndex, TTreeSink& sink,
                        TTreeSink::NodeId* sliceNode);

// The slices of the picture pack at `pictureOffset` (0-based, in file order) that hold a code no
// table knows, found by the same request with every slice explained silently; empty when all
// are sound or the picture cannot be explained.
std::vector<std::int32_t> DamagedSlices(TPackIndex& index, std::int64_t pictureOffset);

} // namespace varlow
