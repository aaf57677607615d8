#include "picture/gui/PictureImage.h"

namespace varlow {

QImage PictureToImage(const TDecodedPicture& picture, TFieldView view) {
  const int height = ViewHeight(picture, view);
  if (picture.Width <= 0 || height <= 0) return {};
  QImage image(picture.Width, height, QImage::Format_RGB888);
  if (image.isNull()) return image;
  // Converted straight into the image's rows.
  const std::span<std::uint8_t> pixels(image.bits(), static_cast<std::size_t>(image.sizeInBytes()));
  if (!ConvertToRgb(picture, view, pixels, static_cast<std::size_t>(image.bytesPerLine()))) return {};
  return image;
}

} // namespace varlow
