// Any bytes as a pack: the header tree and the hex dump must stay inside the pack's buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "browser/HeaderTree.h"
#include "browser/PackDetails.h"
#include "support/MemoryTree.h"
#include "support/PaddedBuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 8192) return 0;
  // The first byte picks the start code, so every tree is reached.
  const std::uint8_t kinds[] = {0x00, 0xB3, 0xB8, 0xB7};
  varlow::TPaddedBuffer pack(size + 3);
  const std::uint8_t code[4] = {0x00, 0x00, 0x01, kinds[data[0] % 4]};
  std::memcpy(pack.Data(), code, 4);
  std::memcpy(pack.Data() + 4, data + 1, size - 1);
  const auto length = static_cast<std::int32_t>(size + 3);

  varlow::TPackRec rec{};
  std::memcpy(rec.StartCode.data(), code, 4);
  const std::int32_t shown = varlow::GetPackLength(pack.Data(), length) < varlow::kHexDumpLimit
                                 ? varlow::GetPackLength(pack.Data(), length)
                                 : varlow::kHexDumpLimit;
  varlow::TBitStream3 reader;
  varlow::TMemoryTree tree;
  varlow::BuildHeaderTree(reader, pack.Data(), shown, rec, tree);
  std::vector<std::string> lines;
  varlow::MemToStrLines2(pack.Data(), shown, &lines, 0x123456789LL);
  return 0;
}
