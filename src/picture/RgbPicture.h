#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "picture/DecodedPicture.h"

namespace varlow {

// Which lines of a frame to show: all of them, or the lines of one field.
enum class TFieldView { Frame, Top, Bottom };

// The Y'CbCr to R'G'B' matrices a sequence can signal (matrix_coefficients).
enum class TColourMatrix { Bt601, Bt709, Fcc, Smpte240M };

// The matrix a picture is converted with: the one its sequence display extension gives, else
// ITU-R BT.709 for pictures larger than standard definition and BT.601 for the others.
TColourMatrix ColourMatrixOf(const TDecodedPicture& picture);

// Rows a view of the picture has: a field holds every other line of the frame.
std::int32_t ViewHeight(const TDecodedPicture& picture, TFieldView view);

// 8-bit R'G'B' pixels: Height rows of Stride bytes, each starting with Width R, G, B triplets.
// Stride is a multiple of 32, so rows suit the converter's vector code and QImage alike.
struct TRgbPicture {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::size_t Stride = 0;
  std::vector<std::uint8_t> Pixels;
};

// Converts the picture (video range, the matrix ColourMatrixOf picks) with FFmpeg's libswscale,
// chroma interpolated to every pixel. A field view converts that field's own lines, luma and
// chroma, as a picture of half the height. The result is empty when the conversion fails.
TRgbPicture ConvertToRgb(const TDecodedPicture& picture, TFieldView view = TFieldView::Frame);

// The same into a caller's buffer of ViewHeight rows of `stride` bytes (at least 3 x Width).
// Returns false, leaving `pixels` untouched, when the buffer is too small or conversion fails.
bool ConvertToRgb(const TDecodedPicture& picture, TFieldView view, std::span<std::uint8_t> pixels, std::size_t stride);

} // namespace varlow
