#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "picture/DecodedPicture.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace varlow {

// Owning handles for the decoder library's objects, freed with the library's own functions.
struct TCodecContextFree { void operator()(AVCodecContext* p) const; };
struct TFrameFree { void operator()(AVFrame* p) const; };
struct TPacketFree { void operator()(AVPacket* p) const; };
using TCodecContextPtr = std::unique_ptr<AVCodecContext, TCodecContextFree>;
using TFramePtr = std::unique_ptr<AVFrame, TFrameFree>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketFree>;

// An MPEG-1/MPEG-2 video decoder fed one picture (with the headers in front of it) per call.
// Every frame it gives back carries the key of the packet that began it, so a caller tells
// its pictures apart whatever order the decoder puts them out in.
class TAvDecoder {
public:
  using TFrameHandler = std::function<void(std::int64_t key, TDecodedPicturePtr picture)>;

  // `mpeg1`: the stream has no sequence extension. Throws std::runtime_error when the library
  // has no such decoder or cannot open it.
  explicit TAvDecoder(bool mpeg1);
  TAvDecoder(const TAvDecoder&) = delete;
  TAvDecoder& operator=(const TAvDecoder&) = delete;

  // Decodes one packet; `skip` asks the decoder to drop it when it is a B picture, which no
  // other picture refers to. Frames that come out go to `onFrame`.
  void Send(std::span<const std::uint8_t> bytes, std::int64_t key, bool skip, const TFrameHandler& onFrame);
  // Ends the stream: the decoder gives out the frames it still holds.
  void Flush(const TFrameHandler& onFrame);

private:
  void Drain(const TFrameHandler& onFrame);

  TCodecContextPtr FContext;
  TFramePtr FFrame;
  TPacketPtr FPacket;
};

} // namespace varlow
