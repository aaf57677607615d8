// Any bytes as a container file: the header readers, the probe, the byte source's reads and
// their places, the pack list and the container tree must stay inside what they were given,
// end, and give places that name the file's bytes in order.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "browser/PackDetails.h"
#include "browser/PackIndex.h"
#include "FuzzTempFile.h"
#include "container/ContainerLayout.h"
#include "container/ContainerTree.h"
#include "container/OpenSource.h"
#include "container/PackHeader.h"
#include "container/PesHeader.h"
#include "container/PsiTables.h"
#include "container/TransportPacket.h"
#include "support/MemoryTree.h"

namespace {

using namespace varlow;

// Checks every element a reader reports: a sane width, a position inside what it could read.
struct TCheckedElements {
  std::size_t Bytes;
  std::uint64_t Sum = 0;
  void operator()(const char* name, std::uint64_t value, std::int64_t bitPos, int width) {
    if (name == nullptr || width < 1 || width > 64 || bitPos < 0) __builtin_trap();
    if (width < 64 && value >> width != 0) __builtin_trap();
    Sum += value;
  }
};

void FeedReaders(std::span<const std::uint8_t> bytes) {
  TCheckedElements e{bytes.size()};
  ReadTsPacketHeader(bytes, e);
  ReadPesHeader(bytes, e, false);
  ReadPesHeader(bytes, e, true);
  ReadPackHeader(bytes, e);
  ReadSystemHeader(bytes, e);
  ReadPat(bytes, e);
  ReadPmt(bytes, e);
}

using varlow::fuzz::TTempFile;

// A read's places must name file bytes in increasing order, each found again by IndexAt.
void CheckedRead(const TByteSource& source, std::int64_t begin, std::size_t count) {
  std::vector<std::uint8_t> dest(count);
  TSourcePlaces places;
  const std::int64_t n = source.ReadAt(begin, dest, &places);
  if (n < 0 || static_cast<std::size_t>(n) > count || places.Count() != static_cast<std::size_t>(n)) __builtin_trap();
  std::int64_t last = begin - 1;
  for (std::size_t i = 0; i < places.Count(); ++i) {
    const std::int64_t at = places.OffsetOf(i);
    if (at <= last || at >= source.Size()) __builtin_trap();
    if (places.IndexAt(at) != i) __builtin_trap();
    last = at;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FeedReaders({data, size});
  if (size < 4) return 0;
  const TTempFile temp(data, size, "/tmp/varlow_fuzz_container_XXXXXX");
  if (temp.Path().empty()) return 0;

  if (auto file = TFileStream::Open(temp.Path(), TFileStream::Mode::ReadOnly)) ProbeContainer(*file);
  TOpenedSource opened = OpenVideoSource(temp.Path(), TFileStream::Mode::ReadOnly);
  if (!opened.Source) return 0;
  const auto fileSize = static_cast<std::int64_t>(size);
  CheckedRead(*opened.Source, 0, 4096);
  CheckedRead(*opened.Source, fileSize / 2, 1000);
  CheckedRead(*opened.Source, fileSize > 300 ? fileSize - 300 : 0, 1 << 16);
  for (std::int64_t at : {std::int64_t{0}, fileSize / 3, fileSize - 1, fileSize + 10}) {
    TMemoryTree tree;
    BuildContainerTree(*opened.Source, at, tree);
  }

  // One index for the whole run: building one clears megabytes of scan buffers, which would
  // cost more than everything else an input does. Each input sets its stream and refills it.
  static TPackIndex index;
  index.SetStream(std::move(opened.Source));
  index.SetRowsPerPage(16);
  index.RefreshPosition(0);
  for (std::int32_t i = 0; i < index.PackCount() && i < 4; ++i) {
    const std::int64_t at = index.Pack(i).Offset;
    TMemoryTree tree;
    TPackDetails details;
    UpdatePack(index, at, tree, details);
    TMemoryTree direct;
    BuildContainerTree(*index.Stream(), at, direct);
  }
  index.SetStream(nullptr);
  return 0;
}
