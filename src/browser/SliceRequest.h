#pragma once
#include <cstdint>

#include "browser/PackIndex.h"
#include "support/TreeSink.h"

namespace varlow {

// Explains slice `sliceIndex` (0-based, in file order; negative: every slice) of the picture
// pack at `pictureOffset` into `sink`: walks back at most 52 packs to the governing sequence
// header, reads 2 MiB of picture data and 1 MiB of sequence data, runs the slice analyser.
// `sliceNode` receives the analyser's last slice node (TTreeSink::kRoot when none), which the
// window expands one level. Failures are logged under "TForm1.UpdataSliceDetails".
void UpdataSliceDetails(TPackIndex& index, std::int64_t pictureOffset, std::int32_t sliceIndex, TTreeSink& sink,
                        TTreeSink::NodeId* sliceNode);

} // namespace varlow
