// Feeds arbitrary bytes to the transrate controller in blocks whose sizes the input chooses,
// then flushes: the engine must never crash nor read or write outside a buffer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/Log.h"
#include "support/PaddedBuffer.h"
#include "transrate/MPEG2VideoTransrateClass.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    varlow::SetLogSink([](std::string_view) {});
    return true;
  }();
  (void)quiet;
  if (size < 2) return 0;
  // The last two bytes pick the rate, the method and the block size. Taken from the end, they
  // leave a seed stream's first start code whole, and a seed's own bytes there give blocks of
  // every size rather than always the byte-by-byte feed its leading zeros would give.
  const std::int32_t rate = 1'500'000 + (data[size - 2] & 0x0F) * 3'000'000;
  // One more bit of the same byte picks the method, so both walk every input's pictures.
  const auto method =
      (data[size - 2] & 0x10) != 0 ? varlow::TTransrateMethod::Cut : varlow::TTransrateMethod::Requant;
  const std::size_t block = 1 + static_cast<std::size_t>(data[size - 1]) * 97;
  size -= 2;

  varlow::TMPEG2VideoTransrateClass transrate;
  transrate.SetMethod(method);
  std::size_t delivered = 0;
  transrate.SetMPEGESTransReceiveFunctionObj([&](const std::uint8_t* d, std::int32_t n, std::int32_t) {
    for (std::int32_t i = 0; i < n; ++i) delivered += d[i];  // touch every delivered byte
    return S_OK;
  });
  transrate.SetMaxOutputBitrate(rate);
  varlow::TPaddedBuffer buffer(block);
  for (std::size_t at = 0; at < size; at += block) {
    const std::size_t n = std::min(block, size - at);
    buffer.Assign({data + at, n});
    transrate.AddData(buffer.Data(), static_cast<std::int32_t>(n));
  }
  transrate.Flush();
  return 0;
}
