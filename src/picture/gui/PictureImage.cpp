#include "picture/gui/PictureImage.h"

#include <algorithm>

namespace varlow {

namespace {

// The matrix's products for every 8-bit value, and a clipping table over their sums' range:
// a 1080p frame converts with table reads and adds only.
struct TConversionTables {
  int Luma[256], RedFromCr[256], GreenFromCb[256], GreenFromCr[256], BlueFromCb[256];
  std::uint8_t Clip[2048];
  static constexpr int kClipBias = 768;

  TConversionTables() {
    for (int v = 0; v < 256; ++v) {
      Luma[v] = 298 * (v - 16) + 128;
      RedFromCr[v] = 409 * (v - 128);
      GreenFromCb[v] = -100 * (v - 128);
      GreenFromCr[v] = -208 * (v - 128);
      BlueFromCb[v] = 516 * (v - 128);
    }
    for (int i = 0; i < 2048; ++i) Clip[i] = static_cast<std::uint8_t>(std::clamp(i - kClipBias, 0, 255));
  }
  std::uint8_t Out(int sum) const { return Clip[std::clamp((sum >> 8) + kClipBias, 0, 2047)]; }
};

const TConversionTables& Tables() {
  static const TConversionTables tables;
  return tables;
}

} // namespace

QImage PictureToImage(const TDecodedPicture& picture, TFieldView view) {
  const int width = picture.Width;
  const int firstLine = view == TFieldView::Bottom ? 1 : 0;
  const int step = view == TFieldView::Frame ? 1 : 2;
  const int height = view == TFieldView::Frame ? picture.Height : (picture.Height - firstLine + 1) / 2;
  QImage image(width, height, QImage::Format_RGB888);
  if (image.isNull() || width <= 0) return image;
  const int chromaRowDivisor = picture.ChromaHeight > 0 ? std::max(1, picture.Height / picture.ChromaHeight) : 1;
  const int chromaColumnShift = picture.ChromaWidth * 2 <= picture.Width + 1 ? 1 : 0;
  for (int row = 0; row < height; ++row) {
    const int y = firstLine + row * step;
    // 4:2:0 chroma of an interlaced frame belongs to the field: rows of one field share it.
    int cy = y / chromaRowDivisor;
    if (chromaRowDivisor == 2 && view != TFieldView::Frame) cy = ((y >> 2) << 1) | (y & 1);
    cy = std::min(cy, picture.ChromaHeight - 1);
    const std::uint8_t* lumaRow = picture.Y.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    const std::uint8_t* cbRow = picture.Cb.data() + static_cast<std::size_t>(cy) * static_cast<std::size_t>(picture.ChromaWidth);
    const std::uint8_t* crRow = picture.Cr.data() + static_cast<std::size_t>(cy) * static_cast<std::size_t>(picture.ChromaWidth);
    std::uint8_t* out = image.scanLine(row);
    const TConversionTables& t = Tables();
    for (int x = 0; x < width; ++x) {
      const int c = t.Luma[lumaRow[x]];
      const std::uint8_t cb = cbRow[x >> chromaColumnShift], cr = crRow[x >> chromaColumnShift];
      out[3 * x] = t.Out(c + t.RedFromCr[cr]);
      out[3 * x + 1] = t.Out(c + t.GreenFromCb[cb] + t.GreenFromCr[cr]);
      out[3 * x + 2] = t.Out(c + t.BlueFromCb[cb]);
    }
  }
  return image;
}

} // namespace varlow
