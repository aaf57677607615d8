// The slice analyser on arbitrary bytes: the first two bytes choose where the sequence part
// ends and which slice is explained; both parts go to the analyser in padded copies.
#include <cstddef>
#include <cstdint>

#include "slice/MPEGVideoViewer.h"
#include "support/Log.h"
#include "support/MemoryTree.h"
#include "support/PaddedBuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  static const bool silenced = [] {
    varlow::SetLogSink([](std::string_view) {});
    return true;
  }();
  (void)silenced;
  const std::size_t body = size - 2;
  const std::size_t split = (static_cast<std::size_t>(data[0]) << 8 | data[1]) % (body + 1);
  const std::int32_t slice = static_cast<std::int32_t>(data[1] % 5) - 1;  // -1 (all) .. 3
  varlow::TPaddedBuffer sequence(split), picture(body - split);
  sequence.Assign({data + 2, split});
  picture.Assign({data + 2 + split, body - split});

  varlow::TMemoryTree tree;
  varlow::TMPEGVideoViewer viewer;
  viewer.FTreeView = &tree;
  viewer.DecodeFrame(sequence.Data(), static_cast<std::int32_t>(sequence.Size()));
  viewer.SetSlice(picture.Data(), static_cast<std::int32_t>(picture.Size()), slice);
  return 0;
}
