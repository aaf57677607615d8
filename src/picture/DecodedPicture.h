#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace varlow {

// One decoded frame in the decoder's planar 8-bit Y'CbCr, planes stored without padding.
struct TDecodedPicture {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int32_t ChromaWidth = 0;
  std::int32_t ChromaHeight = 0;
  std::vector<std::uint8_t> Y, Cb, Cr;
  char PictureType = '?';    // 'I', 'P' or 'B' as the decoder saw it
  bool Damaged = false;      // the decoder reported errors it concealed
  bool TopFieldFirst = true;
  // matrix_coefficients of the sequence display extension; 2 (unspecified) when it has none.
  std::int32_t MatrixCoefficients = 2;
  // Chroma samples sit on the even luma columns (MPEG-2) rather than between two (MPEG-1).
  bool ChromaCosited = false;

  std::size_t Bytes() const { return Y.size() + Cb.size() + Cr.size(); }
};

using TDecodedPicturePtr = std::shared_ptr<const TDecodedPicture>;

} // namespace varlow
