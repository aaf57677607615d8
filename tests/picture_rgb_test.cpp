// Conversion of decoded pictures to RGB: the matrix a picture is converted with, field views
// that keep their own field's chroma, and pictures or buffers the converter refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "picture/RgbPicture.h"

using namespace varlow;

namespace {

struct TSample {
  int Y, Cb, Cr;
};

// A picture of one colour; `bottom` is the chroma of the bottom field's chroma rows (every
// other chroma row from the second on).
TDecodedPicture FlatPicture(int width, int height, int chromaWidth, int chromaHeight, TSample top, TSample bottom) {
  TDecodedPicture p;
  p.Width = width;
  p.Height = height;
  p.ChromaWidth = chromaWidth;
  p.ChromaHeight = chromaHeight;
  p.Y.assign(static_cast<std::size_t>(width * height), static_cast<std::uint8_t>(top.Y));
  for (int row = 0; row < chromaHeight; ++row) {
    const TSample& s = row % 2 == 0 ? top : bottom;
    p.Cb.insert(p.Cb.end(), static_cast<std::size_t>(chromaWidth), static_cast<std::uint8_t>(s.Cb));
    p.Cr.insert(p.Cr.end(), static_cast<std::size_t>(chromaWidth), static_cast<std::uint8_t>(s.Cr));
  }
  return p;
}

struct TRgb {
  double R, G, B;
};

// Video range Y'CbCr to full range R'G'B' from the matrix's luma weights, in floating point.
TRgb Expected(TSample s, double kr, double kb) {
  const double kg = 1.0 - kr - kb;
  const double y = (s.Y - 16) * 255.0 / 219.0, cb = (s.Cb - 128) * 255.0 / 224.0, cr = (s.Cr - 128) * 255.0 / 224.0;
  return {y + 2 * (1 - kr) * cr, y - 2 * (1 - kb) * kb / kg * cb - 2 * (1 - kr) * kr / kg * cr, y + 2 * (1 - kb) * cb};
}

// Every pixel of the converted picture lies within one step of `expected`.
void ExpectEveryPixel(const TRgbPicture& rgb, TRgb expected) {
  ASSERT_FALSE(rgb.Pixels.empty());
  int wrong = 0;
  for (int y = 0; y < rgb.Height; ++y) {
    for (int x = 0; x < rgb.Width; ++x) {
      const std::uint8_t* px = rgb.Pixels.data() + static_cast<std::size_t>(y) * rgb.Stride + 3 * static_cast<std::size_t>(x);
      if (std::abs(px[0] - expected.R) > 1.0 || std::abs(px[1] - expected.G) > 1.0 || std::abs(px[2] - expected.B) > 1.0) {
        if (wrong++ == 0) {
          ADD_FAILURE() << "pixel " << x << "," << y << " is " << int(px[0]) << "," << int(px[1]) << "," << int(px[2])
                        << ", expected " << expected.R << "," << expected.G << "," << expected.B;
        }
      }
    }
  }
  EXPECT_EQ(wrong, 0);
}

constexpr TSample kOrange{120, 90, 170};
constexpr TSample kTeal{120, 170, 80};

} // namespace

TEST(PictureRgb, MatrixIsTheSignalledOneElseBt709AboveStandardDefinition) {
  struct TCase {
    int Code, Width, Height;
    TColourMatrix Matrix;
    double Kr, Kb;
  };
  const TCase cases[] = {
      {2, 720, 576, TColourMatrix::Bt601, 0.299, 0.114},     // unspecified, SD
      {2, 352, 288, TColourMatrix::Bt601, 0.299, 0.114},
      {2, 1920, 1080, TColourMatrix::Bt709, 0.2126, 0.0722}, // unspecified, HD
      {2, 1280, 720, TColourMatrix::Bt709, 0.2126, 0.0722},
      {3, 1440, 1088, TColourMatrix::Bt709, 0.2126, 0.0722}, // reserved: as unspecified
      {1, 720, 576, TColourMatrix::Bt709, 0.2126, 0.0722},   // signalled BT.709 on SD
      {5, 1920, 1080, TColourMatrix::Bt601, 0.299, 0.114},   // signalled BT.470 B/G on HD
      {6, 720, 480, TColourMatrix::Bt601, 0.299, 0.114},     // SMPTE 170M
      {4, 720, 480, TColourMatrix::Fcc, 0.30, 0.11},
      {7, 1920, 1080, TColourMatrix::Smpte240M, 0.212, 0.087},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE("matrix_coefficients " + std::to_string(c.Code) + " at " + std::to_string(c.Width) + "x" +
                 std::to_string(c.Height));
    TDecodedPicture p = FlatPicture(c.Width, c.Height, c.Width / 2, c.Height / 2, kOrange, kOrange);
    p.MatrixCoefficients = c.Code;
    EXPECT_EQ(ColourMatrixOf(p), c.Matrix);
    ExpectEveryPixel(ConvertToRgb(p), Expected(kOrange, c.Kr, c.Kb));
  }
}

TEST(PictureRgb, FieldViewsKeepTheirOwnFieldsChroma) {
  // 4:2:0 chroma rows alternate between the fields; 4:2:2 and 4:4:4 have one per line. A
  // height of 4n + 2 leaves the bottom field one chroma row short of its lines: its last row is
  // repeated. Planes narrower than the converter reads at once are read from padded copies.
  struct TCase {
    const char* Name;
    int Width, Height, ChromaWidth, ChromaHeight;
  };
  for (const TCase& c : {TCase{"4:2:0", 32, 16, 16, 8}, TCase{"4:2:2", 32, 16, 16, 16}, TCase{"4:2:0 4n+2", 32, 6, 16, 3},
                         TCase{"4:2:0 odd", 33, 17, 17, 9}, TCase{"4:2:0 narrow", 6, 10, 3, 5},
                         TCase{"4:4:4", 20, 8, 20, 8}}) {
    SCOPED_TRACE(c.Name);
    const TDecodedPicture p = FlatPicture(c.Width, c.Height, c.ChromaWidth, c.ChromaHeight, kOrange, kTeal);
    const TRgbPicture top = ConvertToRgb(p, TFieldView::Top), bottom = ConvertToRgb(p, TFieldView::Bottom);
    EXPECT_EQ(top.Height, (c.Height + 1) / 2);
    EXPECT_EQ(bottom.Height, c.Height / 2);
    ExpectEveryPixel(top, Expected(kOrange, 0.299, 0.114));
    ExpectEveryPixel(bottom, Expected(kTeal, 0.299, 0.114));
    // The frame holds both.
    const TRgbPicture frame = ConvertToRgb(p);
    ASSERT_EQ(frame.Height, c.Height);
    EXPECT_GT(frame.Pixels[0], frame.Pixels[2]);  // orange: red over blue
    bool mixed = false;
    for (int y = 1; y < frame.Height; ++y) mixed = mixed || frame.Pixels[frame.Stride * static_cast<std::size_t>(y)] != frame.Pixels[0];
    EXPECT_TRUE(mixed);
  }
}

TEST(PictureRgb, RefusesPicturesAndBuffersThatDoNotFit) {
  const TDecodedPicture good = FlatPicture(32, 16, 16, 8, kOrange, kOrange);
  EXPECT_TRUE(ConvertToRgb(TDecodedPicture{}).Pixels.empty());
  TDecodedPicture shortLuma = good;
  shortLuma.Y.resize(shortLuma.Y.size() - 1);
  EXPECT_TRUE(ConvertToRgb(shortLuma).Pixels.empty());
  // Chroma a quarter of the width is no format the decoder gives.
  EXPECT_TRUE(ConvertToRgb(FlatPicture(32, 16, 8, 8, kOrange, kOrange)).Pixels.empty());
  // A field of a single line has no other field.
  EXPECT_TRUE(ConvertToRgb(FlatPicture(8, 1, 4, 1, kOrange, kOrange), TFieldView::Bottom).Pixels.empty());

  // The caller's buffer: rows too narrow, or too few of them, are refused and left untouched.
  std::vector<std::uint8_t> buffer(96 * 16, 7);
  EXPECT_FALSE(ConvertToRgb(good, TFieldView::Frame, buffer, 95));
  EXPECT_FALSE(ConvertToRgb(good, TFieldView::Frame, std::span(buffer).first(96 * 15), 96));
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(96 * 16, 7));
  EXPECT_TRUE(ConvertToRgb(good, TFieldView::Frame, buffer, 96));
  EXPECT_TRUE(ConvertToRgb(good, TFieldView::Top, std::span(buffer).first(96 * 8), 96));
  const TRgbPicture rgb = ConvertToRgb(good);
  EXPECT_EQ(rgb.Stride % 32, 0u);
  EXPECT_GE(rgb.Stride, 96u);
}
