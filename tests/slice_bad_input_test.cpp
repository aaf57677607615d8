// Broken input never crashes the analyser nor reads outside its blocks (checked under ASan),
// and each walk ends as a walk should: at a start code it cannot find or at the end of data.
#include <gtest/gtest.h>

#include <random>

#include "TestStreams.h"
#include "slice/MPEGVideoViewer.h"
#include "support/Log.h"
#include "support/MemoryTree.h"
#include "support/PaddedBuffer.h"

using namespace varlow;

namespace {

TPaddedBuffer Copy(const std::uint8_t* data, std::size_t size) {
  TPaddedBuffer b(size);
  b.Assign({data, size});
  return b;
}

struct Stream {
  std::vector<std::uint8_t> raw;
  std::size_t firstPicture = 0;
  explicit Stream(const std::string& name) : raw(test::ReadFileBytes(test::OwnStream(name))) {
    for (std::size_t i = 0; i + 3 < raw.size(); ++i)
      if (raw[i] == 0 && raw[i + 1] == 0 && raw[i + 2] == 1 && raw[i + 3] == 0) {
        firstPicture = i;
        break;
      }
  }
};

HRESULT Walk(const TPaddedBuffer& sequence, const TPaddedBuffer& picture, std::int32_t slice, TMemoryTree& tree) {
  TMPEGVideoViewer viewer;
  viewer.FTreeView = &tree;
  viewer.DecodeFrame(sequence.Data(), static_cast<std::int32_t>(sequence.Size()));
  return viewer.SetSlice(picture.Data(), static_cast<std::int32_t>(picture.Size()), slice);
}

}  // namespace

TEST(SliceBadInput, BlocksOfZerosAndOfOnesFindNoStartCode) {
  ScopedLogCapture quiet;
  for (std::uint8_t fill : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
    std::vector<std::uint8_t> bytes(4096, fill);
    auto block = Copy(bytes.data(), bytes.size());
    TMemoryTree tree;
    TMPEGVideoViewer viewer;
    viewer.FTreeView = &tree;
    EXPECT_EQ(viewer.DecodeFrame(block.Data(), 4096), E_FAIL);
    EXPECT_EQ(viewer.SetSlice(block.Data(), 4096, -1), E_FAIL);
    EXPECT_EQ(tree.Size(), 0u);
  }
  // Empty and null blocks are refused.
  TMPEGVideoViewer viewer;
  EXPECT_EQ(viewer.DecodeFrame(nullptr, 10), E_FAIL);
  std::uint8_t one[8] = {};
  EXPECT_EQ(viewer.SetSlice(one, 0, 0), E_FAIL);
}

TEST(SliceBadInput, PictureOfZerosAndOnesAfterItsStartCode) {
  Stream s("i420_interlaced.m2v");
  auto sequence = Copy(s.raw.data(), s.firstPicture + 4);
  ScopedLogCapture quiet;
  for (std::uint8_t fill : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
    // Picture header and extension kept, slice bodies replaced.
    std::vector<std::uint8_t> bytes(s.raw.begin() + static_cast<std::ptrdiff_t>(s.firstPicture),
                                    s.raw.begin() + static_cast<std::ptrdiff_t>(s.firstPicture) + 4000);
    for (std::size_t i = 0; i + 4 < bytes.size(); ++i)
      if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 1) {
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(i + 4), bytes.end(), fill);
        break;
      }
    auto picture = Copy(bytes.data(), bytes.size());
    TMemoryTree tree;
    Walk(sequence, picture, -1, tree);
    EXPECT_EQ(tree.Roots().size(), 1u) << int(fill);
  }
}

TEST(SliceBadInput, TruncatedPicturesEveryFewBytes) {
  Stream s("p420_tools.m2v");
  auto sequence = Copy(s.raw.data(), s.firstPicture + 4);
  ScopedLogCapture quiet;
  for (std::size_t cut = 1; cut < 3000; cut += 7) {
    auto picture = Copy(s.raw.data() + s.firstPicture, cut);
    TMemoryTree tree;
    HRESULT hr = Walk(sequence, picture, -1, tree);
    EXPECT_TRUE(hr == S_OK || hr == E_FAIL);
  }
}

TEST(SliceBadInput, RandomSlicesAndFlippedBits) {
  Stream s("i422_interlaced.m2v");
  auto sequence = Copy(s.raw.data(), s.firstPicture + 4);
  std::mt19937 random(12345);
  ScopedLogCapture quiet;
  for (int round = 0; round < 60; ++round) {
    // A real picture header, then a slice start code and random bytes, or the real picture
    // with a few flipped bits.
    std::vector<std::uint8_t> bytes(s.raw.begin() + static_cast<std::ptrdiff_t>(s.firstPicture),
                                    s.raw.begin() + static_cast<std::ptrdiff_t>(s.firstPicture) + 20000);
    if (round % 2 == 0) {
      for (std::size_t i = 40; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(random());
      bytes[36] = 0, bytes[37] = 0, bytes[38] = 1, bytes[39] = static_cast<std::uint8_t>(1 + random() % 0xAF);
    } else {
      for (int flip = 0; flip < 20; ++flip) bytes[40 + random() % (bytes.size() - 40)] ^= 1u << (random() % 8);
    }
    auto picture = Copy(bytes.data(), bytes.size());
    TMemoryTree tree;
    Walk(sequence, picture, round % 3 == 0 ? -1 : round % 5, tree);
  }
  SUCCEED();
}

TEST(SliceBadInput, HeadersWithForbiddenValues) {
  // f_code 0 asks for a residual of -1 bits; chroma_format 0 and 3; picture type 4 (D) and 0.
  Stream s("p420_plain.m2v");
  ScopedLogCapture quiet;
  for (int variant = 0; variant < 4; ++variant) {
    std::vector<std::uint8_t> raw = s.raw;
    for (std::size_t i = 0; i + 8 < s.firstPicture + 200 && i + 8 < raw.size(); ++i) {
      if (raw[i] != 0 || raw[i + 1] != 0 || raw[i + 2] != 1) continue;
      if (raw[i + 3] == 0xB5 && (raw[i + 4] >> 4) == 1 && variant < 2)  // sequence extension: chroma_format
        raw[i + 5] = static_cast<std::uint8_t>((raw[i + 5] & ~0x06) | (variant == 0 ? 0x00 : 0x06));
      if (raw[i + 3] == 0xB5 && (raw[i + 4] >> 4) == 8 && variant == 2) raw[i + 4] = 0x80;  // f_code[0][0] = 0
      if (raw[i + 3] == 0x00 && variant == 3) raw[i + 5] = static_cast<std::uint8_t>((raw[i + 5] & ~0x38) | (4 << 3));
    }
    auto sequence = Copy(raw.data(), s.firstPicture + 4);
    auto picture = Copy(raw.data() + s.firstPicture, raw.size() - s.firstPicture);
    for (std::int32_t slice : {0, 3, -1}) {
      TMemoryTree tree;
      HRESULT hr = Walk(sequence, picture, slice, tree);
      EXPECT_TRUE(hr == S_OK || hr == E_FAIL) << variant;
    }
  }
}
