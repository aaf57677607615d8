#include "picture/RgbPicture.h"

#include <algorithm>
#include <memory>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace varlow {

namespace {

struct TSwsContextFree { void operator()(SwsContext* p) const { sws_freeContext(p); } };
using TSwsContextPtr = std::unique_ptr<SwsContext, TSwsContextFree>;

constexpr std::size_t kRowAlignment = 32;

// One plane of a view: its first row and the distance between its rows.
struct TPlane {
  const std::uint8_t* Data = nullptr;
  int Stride = 0;
};

// A view of the picture as the converter reads it: a frame, or one field's lines as a picture
// of half the height. Planes are read in place, but copied into Owned when the field lacks
// chroma rows (a height of 4n + 2 leaves the bottom field one short: its last one is repeated)
// or when they are so narrow that the converter's vector code would read past their end.
// Not copyable: Planes may point into Owned.
struct TSourceView {
  TSourceView() = default;
  TSourceView(const TSourceView&) = delete;
  TSourceView& operator=(const TSourceView&) = delete;
  TSourceView(TSourceView&&) = default;

  AVPixelFormat Format = AV_PIX_FMT_NONE;
  int Width = 0;
  int Height = 0;
  TPlane Planes[3];
  std::vector<std::uint8_t> Owned[3];
};

// Planes narrower than this are copied with as many bytes of padding after each row.
constexpr int kNarrowPlane = 16;

// How a chroma dimension relates to the luma one: the same, half of it (rounded up), or neither.
enum class TChromaScale { Full, Half, None };
TChromaScale ChromaScale(std::int32_t chroma, std::int32_t luma) {
  if (chroma == luma) return TChromaScale::Full;
  if (chroma * 2 == luma || chroma * 2 == luma + 1) return TChromaScale::Half;
  return TChromaScale::None;
}

AVPixelFormat SourceFormat(const TDecodedPicture& p) {
  using S = TChromaScale;
  const S across = ChromaScale(p.ChromaWidth, p.Width), down = ChromaScale(p.ChromaHeight, p.Height);
  if (across == S::Half) return down == S::Half ? AV_PIX_FMT_YUV420P : down == S::Full ? AV_PIX_FMT_YUV422P : AV_PIX_FMT_NONE;
  if (across == S::Full) return down == S::Half ? AV_PIX_FMT_YUV440P : down == S::Full ? AV_PIX_FMT_YUV444P : AV_PIX_FMT_NONE;
  return AV_PIX_FMT_NONE;
}

bool HalfWidthChroma(AVPixelFormat format) { return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUV422P; }
bool HalfHeightChroma(AVPixelFormat format) { return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUV440P; }

bool PlanesComplete(const TDecodedPicture& p) {
  const std::size_t luma = static_cast<std::size_t>(p.Width) * static_cast<std::size_t>(p.Height);
  const std::size_t chroma = static_cast<std::size_t>(p.ChromaWidth) * static_cast<std::size_t>(p.ChromaHeight);
  return p.Y.size() >= luma && p.Cb.size() >= chroma && p.Cr.size() >= chroma;
}

TSourceView MakeSourceView(const TDecodedPicture& p, TFieldView view) {
  TSourceView source;
  source.Format = SourceFormat(p);
  source.Width = p.Width;
  source.Height = ViewHeight(p, view);
  const int first = view == TFieldView::Bottom ? 1 : 0;
  const int step = view == TFieldView::Frame ? 1 : 2;
  // 4:2:0 chroma rows alternate between the fields as the luma rows do; 4:2:2 and 4:4:4 have a
  // chroma row for every luma row.
  const int chromaNeeded = HalfHeightChroma(source.Format) ? (source.Height + 1) / 2 : source.Height;
  const std::vector<std::uint8_t>* data[3] = {&p.Y, &p.Cb, &p.Cr};
  for (int c = 0; c < 3; ++c) {
    const int width = c == 0 ? p.Width : p.ChromaWidth;
    const int height = c == 0 ? p.Height : p.ChromaHeight;
    const int needed = c == 0 ? source.Height : chromaNeeded;
    const int available = step == 1 ? height : (height - first + 1) / 2;
    const std::uint8_t* rows = data[c]->data();
    if (available >= needed && width >= kNarrowPlane) {
      source.Planes[c] = {rows + static_cast<std::size_t>(first) * static_cast<std::size_t>(width), width * step};
      continue;
    }
    const std::size_t stride = static_cast<std::size_t>(width) + (width < kNarrowPlane ? kNarrowPlane : 0);
    std::vector<std::uint8_t>& owned = source.Owned[c];
    owned.assign(stride * static_cast<std::size_t>(needed), 0);
    for (int r = 0; r < needed; ++r) {
      const int from = available > 0 ? first + step * std::min(r, available - 1) : height - 1;
      std::copy_n(rows + static_cast<std::size_t>(from) * static_cast<std::size_t>(width), width,
                  owned.data() + static_cast<std::size_t>(r) * stride);
    }
    source.Planes[c] = {owned.data(), static_cast<int>(stride)};
  }
  return source;
}

int SwsMatrix(TColourMatrix matrix) {
  switch (matrix) {
    case TColourMatrix::Bt709: return SWS_CS_ITU709;
    case TColourMatrix::Fcc: return SWS_CS_FCC;
    case TColourMatrix::Smpte240M: return SWS_CS_SMPTE240M;
    case TColourMatrix::Bt601: break;
  }
  return SWS_CS_ITU601;
}

// Where chroma samples sit among the luma samples, in 1/256 of a luma sample from the first
// one (0 where chroma is not subsampled): MPEG-2 puts them on the even columns, MPEG-1 between
// two; vertically 4:2:0 chroma lies between two lines of a frame, and a quarter and three
// quarters of the way down in the top and bottom field.
int HorizontalChromaPosition(const TDecodedPicture& p, AVPixelFormat format) {
  return !HalfWidthChroma(format) || p.ChromaCosited ? 0 : 128;
}
int VerticalChromaPosition(TFieldView view, AVPixelFormat format) {
  if (!HalfHeightChroma(format)) return 0;
  return view == TFieldView::Top ? 64 : view == TFieldView::Bottom ? 192 : 128;
}

// A converter for the view: bilinear chroma upsampling to every pixel with exact rounding
// (luma passes unscaled), video range Y'CbCr in through the picture's matrix, full range out.
TSwsContextPtr MakeContext(const TDecodedPicture& p, const TSourceView& source, TFieldView view) {
  TSwsContextPtr context(sws_alloc_context());
  if (!context) return nullptr;
  SwsContext* c = context.get();
  const std::int64_t flags = SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;
  const bool set = av_opt_set_int(c, "srcw", source.Width, 0) >= 0 && av_opt_set_int(c, "srch", source.Height, 0) >= 0 &&
                   av_opt_set_int(c, "dstw", source.Width, 0) >= 0 && av_opt_set_int(c, "dsth", source.Height, 0) >= 0 &&
                   av_opt_set_int(c, "src_format", source.Format, 0) >= 0 &&
                   av_opt_set_int(c, "dst_format", AV_PIX_FMT_RGB24, 0) >= 0 &&
                   av_opt_set_int(c, "sws_flags", flags, 0) >= 0 &&
                   av_opt_set_int(c, "src_h_chr_pos", HorizontalChromaPosition(p, source.Format), 0) >= 0 &&
                   av_opt_set_int(c, "src_v_chr_pos", VerticalChromaPosition(view, source.Format), 0) >= 0;
  if (!set || sws_init_context(c, nullptr, nullptr) < 0) return nullptr;
  int *inverse = nullptr, *table = nullptr;
  int sourceFull = 0, destinationFull = 0, brightness = 0, contrast = 0, saturation = 0;
  if (sws_getColorspaceDetails(c, &inverse, &sourceFull, &table, &destinationFull, &brightness, &contrast,
                               &saturation) < 0 ||
      sws_setColorspaceDetails(c, sws_getCoefficients(SwsMatrix(ColourMatrixOf(p))), 0, table, 1, brightness, contrast,
                               saturation) < 0)
    return nullptr;
  return context;
}

} // namespace

TColourMatrix ColourMatrixOf(const TDecodedPicture& picture) {
  switch (picture.MatrixCoefficients) {
    case 1: return TColourMatrix::Bt709;
    case 4: return TColourMatrix::Fcc;
    case 5:
    case 6: return TColourMatrix::Bt601;
    case 7: return TColourMatrix::Smpte240M;
    default: break;
  }
  // Unsignalled: high definition is BT.709, standard definition BT.601.
  return picture.Width >= 1280 || picture.Height > 576 ? TColourMatrix::Bt709 : TColourMatrix::Bt601;
}

std::int32_t ViewHeight(const TDecodedPicture& picture, TFieldView view) {
  switch (view) {
    case TFieldView::Frame: return picture.Height;
    case TFieldView::Top: return (picture.Height + 1) / 2;
    case TFieldView::Bottom: return picture.Height / 2;
  }
  return picture.Height;
}

bool ConvertToRgb(const TDecodedPicture& picture, TFieldView view, std::span<std::uint8_t> pixels, std::size_t stride) {
  const std::int32_t height = ViewHeight(picture, view);
  if (picture.Width <= 0 || height <= 0 || !PlanesComplete(picture)) return false;
  if (stride < static_cast<std::size_t>(picture.Width) * 3 || pixels.size() < stride * static_cast<std::size_t>(height))
    return false;
  const TSourceView source = MakeSourceView(picture, view);
  if (source.Format == AV_PIX_FMT_NONE) return false;
  const TSwsContextPtr context = MakeContext(picture, source, view);
  if (!context) return false;
  const std::uint8_t* const planes[4] = {source.Planes[0].Data, source.Planes[1].Data, source.Planes[2].Data, nullptr};
  const int strides[4] = {source.Planes[0].Stride, source.Planes[1].Stride, source.Planes[2].Stride, 0};
  std::uint8_t* const out[4] = {pixels.data(), nullptr, nullptr, nullptr};
  const int outStrides[4] = {static_cast<int>(stride), 0, 0, 0};
  return sws_scale(context.get(), planes, strides, 0, source.Height, out, outStrides) == source.Height;
}

TRgbPicture ConvertToRgb(const TDecodedPicture& picture, TFieldView view) {
  TRgbPicture rgb;
  rgb.Width = picture.Width;
  rgb.Height = ViewHeight(picture, view);
  if (rgb.Width <= 0 || rgb.Height <= 0) return {};
  rgb.Stride = (static_cast<std::size_t>(rgb.Width) * 3 + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
  rgb.Pixels.resize(rgb.Stride * static_cast<std::size_t>(rgb.Height));
  if (!ConvertToRgb(picture, view, rgb.Pixels, rgb.Stride)) return {};
  return rgb;
}

} // namespace varlow
