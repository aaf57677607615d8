#pragma once
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <utility>

#include "picture/MacroblockMap.h"
#include "picture/PictureDecoder.h"
#include "container/ByteSource.h"

namespace varlow {

// What a picture view needs of one picture pack: the decoded picture and the analyser's
// macroblocks, both kept for the pictures seen last and for those decoded ahead.
class TPictureLoader {
public:
  using TMapPtr = std::shared_ptr<const TMacroblockMap>;
  struct TLoaded {
    TPictureResult Picture;
    TMapPtr Map;  // empty when the picture did not decode
  };

  // `stream`: the video stream of a container, as OpenVideoSource takes it.
  explicit TPictureLoader(std::string path, std::int32_t stream = -1);
  TPictureLoader(const TPictureLoader&) = delete;
  TPictureLoader& operator=(const TPictureLoader&) = delete;

  TLoaded Load(std::int64_t offset, const std::atomic<bool>* cancel = nullptr);
  // The picture alone: its map is left for Map, so a view can show the picture first.
  TPictureResult LoadPicture(std::int64_t offset, const std::atomic<bool>* cancel = nullptr) {
    return FDecoder.Decode(offset, cancel);
  }
  // The analyser's macroblocks of the picture pack at `offset`, from the cache when it has them.
  TMapPtr Map(std::int64_t offset) { return Analyse(offset); }
  // Decodes and analyses the pictures after the one loaded last, to the end of its group.
  void Prefetch(const std::atomic<bool>* cancel = nullptr);

  const std::string& Path() const { return FDecoder.Path(); }
  TPictureDecoder& Decoder() { return FDecoder; }

private:
  TMapPtr Analyse(std::int64_t offset);

  static constexpr std::size_t kMapsKept = 48;
  TPictureDecoder FDecoder;
  std::unique_ptr<TByteSource> FStream;
  std::list<std::pair<std::int64_t, TMapPtr>> FMaps;  // most recent first
};

} // namespace varlow
