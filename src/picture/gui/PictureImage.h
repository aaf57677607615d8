#pragma once
#include <QImage>

#include "picture/DecodedPicture.h"
#include "picture/RgbPicture.h"

namespace varlow {

// The picture as 8-bit RGB, converted by the core's ConvertToRgb (the matrix the stream
// signals, chroma interpolated). A field view holds that field's lines, so it is half as high
// as the frame. A null image when the picture cannot be converted.
QImage PictureToImage(const TDecodedPicture& picture, TFieldView view = TFieldView::Frame);

} // namespace varlow
