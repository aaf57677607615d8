// Every slice of every picture of the project's own streams, explained and checked: no code
// the tables do not know, and the last macroblock of each slice ends in the final byte before
// the next start code with only zero bits after it.
#include <gtest/gtest.h>

#include <vector>

#include "TestStreams.h"
#include "slice/MPEGVideoViewer.h"
#include "support/Log.h"
#include "support/MemoryTree.h"
#include "support/PaddedBuffer.h"

using namespace varlow;

namespace {

struct StreamFile {
  TPaddedBuffer bytes;
  std::vector<std::int64_t> sequenceHeaders, pictures;

  explicit StreamFile(const std::string& path) {
    auto raw = test::ReadFileBytes(path);
    bytes = TPaddedBuffer(raw.size());
    bytes.Assign(raw);
    for (std::size_t i = 0; i + 3 < raw.size(); ++i) {
      if (raw[i] != 0 || raw[i + 1] != 0 || raw[i + 2] != 1) continue;
      if (raw[i + 3] == 0xB3) sequenceHeaders.push_back(static_cast<std::int64_t>(i));
      if (raw[i + 3] == 0x00) pictures.push_back(static_cast<std::int64_t>(i));
    }
  }
  std::int32_t Size() const { return static_cast<std::int32_t>(bytes.Size()); }
  const std::uint8_t* At(std::int64_t offset) const { return bytes.Data() + offset; }
  std::int64_t SequenceBefore(std::int64_t picture) const {
    std::int64_t best = -1;
    for (auto s : sequenceHeaders)
      if (s < picture) best = s;
    return best;
  }
  // The first 00 00 01 at or after `offset`, or the file size.
  std::int64_t NextStartCode(std::int64_t offset) const {
    for (std::int64_t i = offset; i + 2 < Size(); ++i)
      if (bytes.Data()[i] == 0 && bytes.Data()[i + 1] == 0 && bytes.Data()[i + 2] == 1) return i;
    return Size();
  }
  bool BitIsSet(std::int64_t bit) const { return (bytes.Data()[bit / 8] >> (7 - bit % 8)) & 1; }
};

struct Explained {
  TMemoryTree tree;
  std::vector<TMPEGVideoViewer::TSliceTrace> traces;
  HRESULT result = E_FAIL;
};

Explained ExplainPicture(const StreamFile& file, std::int64_t picture, std::int32_t sliceIndex) {
  Explained out;
  std::int64_t sequence = file.SequenceBefore(picture);
  TMPEGVideoViewer viewer;
  viewer.FTreeView = &out.tree;
  EXPECT_EQ(viewer.DecodeFrame(file.At(sequence), static_cast<std::int32_t>(picture - sequence + 4)), S_OK);
  out.result = viewer.SetSlice(file.At(picture), static_cast<std::int32_t>(file.Size() - picture), sliceIndex);
  out.traces = viewer.SliceTraces();
  return out;
}

// Explains every slice of every picture of the stream at `path` (but the last `skipLast`
// pictures) and checks each one parses cleanly to its last byte.
void CheckEverySlice(const std::string& path, const std::string& label, std::size_t skipLast = 0) {
  ASSERT_TRUE(test::Exists(path)) << path;
  StreamFile file(path);
  ASSERT_GT(file.pictures.size(), skipLast);
  ScopedLogCapture quiet;
  std::int64_t slices = 0, macroblocks = 0;
  for (std::size_t p = 0; p + skipLast < file.pictures.size(); ++p) {
    const std::int64_t picture = file.pictures[p];
    Explained e = ExplainPicture(file, picture, -1);
    EXPECT_EQ(e.result, S_OK);
    // As many slices as the picture has slice start codes.
    std::int64_t end = p + 1 < file.pictures.size() ? file.pictures[p + 1] : file.Size();
    std::int32_t startCodes = 0;
    for (std::int64_t i = picture; i + 3 < end; ++i)
      if (file.At(i)[0] == 0 && file.At(i)[1] == 0 && file.At(i)[2] == 1 && file.At(i)[3] >= 1 && file.At(i)[3] <= 0xAF)
        ++startCodes;
    ASSERT_EQ(static_cast<std::int32_t>(e.traces.size()), startCodes) << "picture at " << picture;
    for (const auto& t : e.traces) {
      SCOPED_TRACE(testing::Message() << label << " picture at " << picture << ", slice " << t.SliceIndex);
      EXPECT_TRUE(t.Completed);
      EXPECT_EQ(t.InvalidCodes, 0);
      const std::int64_t endBit = picture * 8 + t.EndBit;
      const std::int64_t next = file.NextStartCode((endBit + 7) / 8);
      EXPECT_EQ(next, (endBit + 7) / 8) << "bytes left after the last macroblock";
      for (std::int64_t bit = endBit; bit < next * 8; ++bit) ASSERT_FALSE(file.BitIsSet(bit)) << "bit " << bit;
      ++slices;
      macroblocks += t.MacroBlocks;
    }
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_GT(slices, 0);
  EXPECT_GT(macroblocks, slices);
  std::cout << "      " << label << ": " << file.pictures.size() << " pictures, " << slices << " slices, "
            << macroblocks << " macroblocks\n";
}

class OwnStreams : public ::testing::TestWithParam<std::string> {};

}  // namespace

TEST_P(OwnStreams, EverySliceParsesCleanlyToItsLastByte) { CheckEverySlice(test::OwnStream(GetParam()), GetParam()); }

// Third-party streams from other encoders (MSSG's reference encoder, libavcodec, MPEG-1);
// test_2.mpg ends straight after its last slice.
class SharedStreams : public ::testing::TestWithParam<std::string> {};

TEST_P(SharedStreams, EverySliceParsesCleanlyToItsLastByte) {
  const std::string path = test::SharedStream(GetParam());
  if (!test::Exists(path)) GTEST_SKIP() << path << " is not here";
  // greyramp.mpg's last picture is cut short by the end of the file; every other one is whole.
  CheckEverySlice(path, GetParam(), GetParam() == "greyramp.mpg" ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Slice, SharedStreams,
                         ::testing::Values("lowrisc_test.m2v", "test_2.mpg", "cinecutie_test.m2v",
                                           "gen2brain_test.m1v", "greyramp.mpg"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// Streams with corrupt slices or no video at all: every picture is walked to an end without a
// crash or a read outside the buffers, and the walk still reports its result.
TEST(ForeignStreams, DamagedAndForeignStreamsAreWalkedSafely) {
  for (const char* name : {"damaged/mwgoldsmith_test.m2v", "damaged/test.mpeg1video", "negative/gen2brain_test.mpg",
                           "negative/end-of-sequence.mpg", "greyramp.mpg"}) {
    const std::string path = test::SharedStream(name);
    if (!test::Exists(path)) continue;
    SCOPED_TRACE(name);
    StreamFile file(path);
    ScopedLogCapture quiet;
    for (std::int64_t picture : file.pictures) {
      if (file.SequenceBefore(picture) < 0) continue;
      Explained e = ExplainPicture(file, picture, -1);
      EXPECT_TRUE(e.result == S_OK || e.result == E_FAIL);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Slice, OwnStreams, ::testing::ValuesIn(test::OwnStreamNames()),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });
