#include "container/ByteSource.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "container/ContainerLayout.h"
#include "container/ContainerWalker.h"

namespace varlow {

void TSourcePlaces::Add(std::int64_t offset, std::size_t count) {
  if (count == 0) return;
  if (!FRuns.empty()) {
    const TRun& last = FRuns.back();
    if (last.Offset + static_cast<std::int64_t>(FCount - last.Index) == offset) {
      FCount += count;
      return;
    }
  }
  FRuns.push_back({FCount, offset});
  FCount += count;
}

std::int64_t TSourcePlaces::OffsetOf(std::size_t index) const {
  if (FRuns.empty()) return -1;
  if (index >= FCount) {
    const TRun& last = FRuns.back();
    return last.Offset + static_cast<std::int64_t>(FCount - last.Index);
  }
  auto it = std::upper_bound(FRuns.begin(), FRuns.end(), index, [](std::size_t i, const TRun& r) { return i < r.Index; });
  --it;
  return it->Offset + static_cast<std::int64_t>(index - it->Index);
}

std::size_t TSourcePlaces::IndexAt(std::int64_t offset) const {
  // Runs lie in the file in increasing order: the first run that ends after `offset`.
  for (auto it = std::lower_bound(FRuns.begin(), FRuns.end(), offset,
                                  [this](const TRun& r, std::int64_t o) {
                                    const std::size_t next = &r == &FRuns.back() ? FCount : (&r + 1)->Index;
                                    return r.Offset + static_cast<std::int64_t>(next - r.Index) <= o;
                                  });
       it != FRuns.end(); ++it) {
    return offset <= it->Offset ? it->Index : it->Index + static_cast<std::size_t>(offset - it->Offset);
  }
  return FCount;
}

TByteSource::TByteSource(std::unique_ptr<TFileStream> file) : FFile(std::move(file)) {
  if (!FFile) throw std::invalid_argument("byte source without a file");
}

TByteSource::TByteSource(std::unique_ptr<TFileStream> file, std::shared_ptr<const TContainerLayout> layout)
    : FFile(std::move(file)), FLayout(std::move(layout)) {
  if (!FFile) throw std::invalid_argument("byte source without a file");
  if (FLayout) FWalker = MakeContainerWalker(*FLayout);
}

TByteSource::~TByteSource() = default;

std::unique_ptr<TByteSource> TByteSource::OpenPlain(const std::string& path, TFileStream::Mode mode) {
  auto file = TFileStream::Open(path, mode);
  if (!file) return nullptr;
  return std::make_unique<TByteSource>(std::move(file));
}

std::int64_t TByteSource::ReadAt(std::int64_t begin, std::span<std::uint8_t> dest, TSourcePlaces* places,
                                 std::int64_t end) const {
  if (begin < 0) throw std::runtime_error("negative file position");
  if (FWalker) return FWalker->Read(*FFile, begin, end, dest, places);
  if (places != nullptr) places->Clear();
  if (end <= begin) return 0;
  if (end != kToEnd && static_cast<std::uint64_t>(end - begin) < dest.size())
    dest = dest.first(static_cast<std::size_t>(end - begin));
  const std::int64_t n = FFile->ReadAt(begin, dest);
  if (places != nullptr) places->Add(begin, static_cast<std::size_t>(n));
  return n;
}

std::int64_t ReadBlockAt(const TByteSource& source, std::int64_t position, TPaddedBuffer& buffer, std::size_t size,
                         TSourcePlaces* places) {
  if (size > buffer.Size()) throw std::length_error("read larger than its buffer");
  const std::int64_t n = source.ReadAt(position, {buffer.Data(), size}, places);
  std::memset(buffer.Data() + n, 0, kReaderPadding);
  return n;
}

} // namespace varlow
