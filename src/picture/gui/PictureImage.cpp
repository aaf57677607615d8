#include "picture/gui/PictureImage.h"

#include <algorithm>

namespace varlow {

namespace {

std::uint8_t Clamp(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); }

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
    for (int x = 0; x < width; ++x) {
      const int c = 298 * (lumaRow[x] - 16);
      const int d = cbRow[x >> chromaColumnShift] - 128;
      const int e = crRow[x >> chromaColumnShift] - 128;
      out[3 * x] = Clamp((c + 409 * e + 128) >> 8);
      out[3 * x + 1] = Clamp((c - 100 * d - 208 * e + 128) >> 8);
      out[3 * x + 2] = Clamp((c + 516 * d + 128) >> 8);
    }
  }
  return image;
}

} // namespace varlow
