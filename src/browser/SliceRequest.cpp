#include "browser/SliceRequest.h"

#include <cstring>
#include <mutex>

#include "slice/MPEGVideoViewer.h"
#include "support/Log.h"
#include "support/Trap.h"
#include "syntax/StartCodes.h"

namespace varlow {

namespace {

constexpr std::int32_t kMaxBackSteps = 52;

// The request's walk: `explained` is given the viewer once it has run.
template <class Explained>
TSliceRequestResult Explain(TPackIndex& index, std::int64_t pictureOffset, std::int32_t sliceIndex, TTreeSink* sink,
                            Explained&& explained) {
  TSliceRequestResult result = TSliceRequestResult::Failed;
  const bool ran = Trap("TForm1.UpdataSliceDetails", [&] {
    result = TSliceRequestResult::NothingRead;
    TByteSource* stream = index.Stream();
    if (stream == nullptr) return;
    std::lock_guard lock(index.IndexLock());

    // A pack must start at the offset: the list may be older than the file's bytes.
    std::uint8_t code4[4] = {};
    const std::int64_t probe = stream->ReadAt(pictureOffset, code4);
    if (probe <= 0) return;
    if (probe < 4 || !IsIndexedStartCode(code4)) {
      result = TSliceRequestResult::NoPackStarts;
      return;
    }
    result = TSliceRequestResult::NoSequenceHeader;

    // The governing sequence header: back one indexed pack at a time, at most 52 packs.
    std::int64_t q = pictureOffset;
    std::int64_t sequenceOffset = -1;
    for (std::int32_t step = 0; step < kMaxBackSteps && sequenceOffset < 0; ++step) {
      std::int64_t r = q;
      std::uint32_t code = 0;
      if (!index.SearchBackPackPositionFromPos(r, 2, code)) {
        LogMessage("wex: Error in TForm1.btnDetailsClick - SearchBackPackPositionFromPos call...");
        return;
      }
      if (r >= 0 && r < q && code == kSequenceHeaderCode) sequenceOffset = r;
      else q = r;
    }
    if (sequenceOffset < 0) return;

    const std::int64_t pictureBytes = ReadBlockAt(*stream, pictureOffset, index.ScanBuffer(), kSearchReadSize);
    const std::int64_t sequenceBytes = ReadBlockAt(*stream, sequenceOffset, index.DataBuffer(), kSequenceReadSize);
    if (pictureBytes <= 0 || sequenceBytes <= 0) {
      LogMessage("wex: Error in TForm1.btnDetailsClick - reading sequence header...");
      result = TSliceRequestResult::NothingRead;
      return;
    }
    // Read again with the picture: the start code must still be there.
    if (pictureBytes < 4 || !IsIndexedStartCode(index.ScanBuffer().Data())) {
      result = TSliceRequestResult::NoPackStarts;
      return;
    }

    TMPEGVideoViewer viewer;
    viewer.FTreeView = sink;
    viewer.DecodeFrame(index.DataBuffer().Data(), static_cast<std::int32_t>(sequenceBytes));
    viewer.SetSlice(index.ScanBuffer().Data(), static_cast<std::int32_t>(pictureBytes), sliceIndex);
    explained(viewer);
    result = TSliceRequestResult::Explained;
  });
  return ran ? result : TSliceRequestResult::Failed;
}

}  // namespace

TSliceRequestResult UpdataSliceDetails(TPackIndex& index, std::int64_t pictureOffset, std::int32_t sliceIndex,
                                       TTreeSink& sink, TTreeSink::NodeId* sliceNode) {
  if (sliceNode != nullptr) *sliceNode = TTreeSink::kRoot;
  return Explain(index, pictureOffset, sliceIndex, &sink, [sliceNode](const TMPEGVideoViewer& viewer) {
    if (sliceNode != nullptr) *sliceNode = viewer.SliceNode();
  });
}

std::vector<std::int32_t> DamagedSlices(TPackIndex& index, std::int64_t pictureOffset) {
  std::vector<std::int32_t> damaged;
  Explain(index, pictureOffset, -1, nullptr, [&damaged](const TMPEGVideoViewer& viewer) {
    for (const auto& trace : viewer.SliceTraces())
      if (trace.InvalidCodes > 0) damaged.push_back(trace.SliceIndex);
  });
  return damaged;
}

}  // namespace varlow
