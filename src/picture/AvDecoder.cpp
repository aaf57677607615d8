#include "picture/AvDecoder.h"

#include <cstring>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

namespace varlow {

void TCodecContextFree::operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
void TFrameFree::operator()(AVFrame* p) const { av_frame_free(&p); }
void TPacketFree::operator()(AVPacket* p) const { av_packet_free(&p); }

namespace {

void CopyPlane(const AVFrame& frame, int plane, std::int32_t width, std::int32_t height, std::vector<std::uint8_t>& out) {
  out.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (std::int32_t y = 0; y < height; ++y) {
    std::memcpy(out.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width),
                frame.data[plane] + static_cast<std::ptrdiff_t>(y) * frame.linesize[plane], static_cast<std::size_t>(width));
  }
}

TDecodedPicturePtr ToPicture(const AVFrame& frame) {
  auto picture = std::make_shared<TDecodedPicture>();
  picture->Width = frame.width;
  picture->Height = frame.height;
  const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
  const int shiftX = format != nullptr ? format->log2_chroma_w : 1;
  const int shiftY = format != nullptr ? format->log2_chroma_h : 1;
  picture->ChromaWidth = -((-frame.width) >> shiftX);
  picture->ChromaHeight = -((-frame.height) >> shiftY);
  CopyPlane(frame, 0, picture->Width, picture->Height, picture->Y);
  CopyPlane(frame, 1, picture->ChromaWidth, picture->ChromaHeight, picture->Cb);
  CopyPlane(frame, 2, picture->ChromaWidth, picture->ChromaHeight, picture->Cr);
  picture->PictureType = av_get_picture_type_char(frame.pict_type);
  picture->Damaged = frame.decode_error_flags != 0 || (frame.flags & AV_FRAME_FLAG_CORRUPT) != 0;
  picture->TopFieldFirst = frame.top_field_first != 0;
  // The decoder reads the colour description of the sequence display extension into the frame.
  picture->MatrixCoefficients = frame.colorspace;
  picture->ChromaCosited = frame.chroma_location == AVCHROMA_LOC_LEFT || frame.chroma_location == AVCHROMA_LOC_TOPLEFT ||
                           frame.chroma_location == AVCHROMA_LOC_BOTTOMLEFT;
  return picture;
}

} // namespace

TAvDecoder::TAvDecoder(bool mpeg1) {
  const AVCodec* codec = avcodec_find_decoder(mpeg1 ? AV_CODEC_ID_MPEG1VIDEO : AV_CODEC_ID_MPEG2VIDEO);
  if (codec == nullptr) throw std::runtime_error("no MPEG-2 video decoder");
  // The library's own messages about damaged data would go to standard error; what the view
  // needs to know comes back with the frame.
  av_log_set_level(AV_LOG_QUIET);
  FContext.reset(avcodec_alloc_context3(codec));
  FFrame.reset(av_frame_alloc());
  FPacket.reset(av_packet_alloc());
  if (!FContext || !FFrame || !FPacket) throw std::runtime_error("decoder allocation failed");
  // Slices of one picture in parallel; frame threads would hold pictures back.
  FContext->thread_type = FF_THREAD_SLICE;
  FContext->thread_count = 2;
  // Damaged pictures come out concealed rather than dropped, so the view shows what is left.
  FContext->flags |= AV_CODEC_FLAG_OUTPUT_CORRUPT;
  FContext->flags2 |= AV_CODEC_FLAG2_SHOW_ALL;
  if (avcodec_open2(FContext.get(), codec, nullptr) < 0) throw std::runtime_error("decoder did not open");
}

void TAvDecoder::Send(std::span<const std::uint8_t> bytes, std::int64_t key, bool skip, const TFrameHandler& onFrame) {
  // The library reads up to its padding past the end of a packet: copy into its own buffer.
  if (av_new_packet(FPacket.get(), static_cast<int>(bytes.size())) < 0) throw std::runtime_error("packet allocation failed");
  std::memcpy(FPacket->data, bytes.data(), bytes.size());
  FPacket->pts = key;
  FPacket->dts = key;
  FContext->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
  const int sent = avcodec_send_packet(FContext.get(), FPacket.get());
  av_packet_unref(FPacket.get());
  // A packet the decoder refuses (damaged headers) is dropped; the pictures after it go on.
  if (sent < 0 && sent != AVERROR(EAGAIN)) return;
  Drain(onFrame);
}

void TAvDecoder::Flush(const TFrameHandler& onFrame) {
  avcodec_send_packet(FContext.get(), nullptr);
  Drain(onFrame);
}

void TAvDecoder::Drain(const TFrameHandler& onFrame) {
  while (avcodec_receive_frame(FContext.get(), FFrame.get()) == 0) {
    const std::int64_t key = FFrame->pts != AV_NOPTS_VALUE ? FFrame->pts : FFrame->best_effort_timestamp;
    TDecodedPicturePtr picture = ToPicture(*FFrame);
    av_frame_unref(FFrame.get());
    onFrame(key, std::move(picture));
  }
}

} // namespace varlow
