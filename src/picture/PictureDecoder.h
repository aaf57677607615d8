#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "picture/DecodedPicture.h"
#include "picture/PictureCache.h"

namespace varlow {

class TAvDecoder;
class TByteSource;

struct TPictureResult {
  enum class TStatus { Ok, ReferenceMissing, NotAPicture, Failed, Cancelled };
  TStatus Status = TStatus::Failed;
  TDecodedPicturePtr Picture;  // set when Status is Ok
  bool FromCache = false;
  std::string Message;         // what the view says instead of a picture
};

// Decodes the picture whose pack starts at a file offset: it walks back to the I picture the
// picture depends on (past the group's start when an open group's leading B picture needs the
// group before), feeds the decoder from there in coding order and keeps what comes out in a
// small cache. One decoder serves one thread at a time; `cancel` is polled between pictures.
class TPictureDecoder {
public:
  // `cacheBytes`: what the cache may hold (about 32 pictures of 1920x1080 4:2:0 by default).
  // `stream`: the video stream of a container, as OpenVideoSource takes it.
  explicit TPictureDecoder(std::string path, std::size_t cacheBytes = std::size_t{100} << 20,
                           std::int32_t stream = -1);
  ~TPictureDecoder();
  TPictureDecoder(const TPictureDecoder&) = delete;
  TPictureDecoder& operator=(const TPictureDecoder&) = delete;

  TPictureResult Decode(std::int64_t offset, const std::atomic<bool>* cancel = nullptr);
  // Decodes on after the picture asked for last, to the end of its group or `maxPictures`
  // pictures, so that stepping on through the group is served from the cache. Returns the
  // offsets of the picture packs it decoded, in coding order.
  std::vector<std::int64_t> Prefetch(const std::atomic<bool>* cancel = nullptr, std::int32_t maxPictures = 16);

  TPictureCache& Cache() { return FCache; }
  const std::string& Path() const { return FPath; }

private:
  struct TPacket {
    std::vector<std::uint8_t> Bytes;
    std::int64_t Key = 0;        // offset of the picture unit
    std::int64_t FrameKey = 0;   // offset of the frame's first field
    std::int64_t SecondField = -1;  // for a first field: the second field's offset once known
    bool B = false;
    bool GroupStart = false;     // a group or sequence header comes with it
  };
  struct TRun;

  TPictureResult DecodeFresh(std::int64_t offset, const std::atomic<bool>* cancel);
  void Keep(std::int64_t key, TDecodedPicturePtr picture);

  std::string FPath;
  std::int32_t FStreamIndex;
  std::unique_ptr<TByteSource> FStream;
  TPictureCache FCache;
  std::unique_ptr<TRun> FRun;  // the decoder and the packets after the last picture asked for
};

} // namespace varlow
