#pragma once
#include <QImage>

#include "picture/DecodedPicture.h"

namespace varlow {

// Which lines of a frame to show: all of them, or the lines of one field.
enum class TFieldView { Frame, Top, Bottom };

// The picture as 8-bit RGB (ITU-R BT.601 matrix, video range), chroma repeated over the luma
// samples it covers. A field view holds every other line, so it is half as high as the frame.
QImage PictureToImage(const TDecodedPicture& picture, TFieldView view = TFieldView::Frame);

} // namespace varlow
