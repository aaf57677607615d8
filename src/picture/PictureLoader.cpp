#include "picture/PictureLoader.h"

#include "container/OpenSource.h"

namespace varlow {

TPictureLoader::TPictureLoader(std::string path, std::int32_t stream)
    : FDecoder(path, std::size_t{100} << 20, stream),
      FStream(OpenVideoSource(path, TFileStream::Mode::ReadOnly, stream).Source) {}

TPictureLoader::TMapPtr TPictureLoader::Analyse(std::int64_t offset) {
  for (auto it = FMaps.begin(); it != FMaps.end(); ++it) {
    if (it->first != offset) continue;
    FMaps.splice(FMaps.begin(), FMaps, it);
    return FMaps.front().second;
  }
  if (!FStream) return nullptr;
  auto map = std::make_shared<const TMacroblockMap>(AnalysePictureMacroblocks(*FStream, offset));
  FMaps.emplace_front(offset, map);
  if (FMaps.size() > kMapsKept) FMaps.pop_back();
  return map;
}

TPictureLoader::TLoaded TPictureLoader::Load(std::int64_t offset, const std::atomic<bool>* cancel) {
  TLoaded loaded;
  loaded.Picture = FDecoder.Decode(offset, cancel);
  if (loaded.Picture.Status == TPictureResult::TStatus::Ok) loaded.Map = Analyse(offset);
  return loaded;
}

void TPictureLoader::Prefetch(const std::atomic<bool>* cancel) {
  for (std::int64_t offset : FDecoder.Prefetch(cancel)) {
    if (cancel != nullptr && cancel->load()) return;
    Analyse(offset);
  }
}

} // namespace varlow
