#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestStreams.h"
#include "TransrateRun.h"
#include "support/Log.h"
#include "transrate/Buffer.h"
#include "transrate/MPEG2VideoTransrateClass.h"
#include "transrate/MPEGESFrameSeparator.h"
#include "transrate/MPEGVideoTranscoder.h"

using namespace varlow;
using namespace varlow::test;

namespace {

struct TPictureUnit {
  std::vector<std::uint8_t> Bytes;
  int Type;
};

std::vector<TPictureUnit> Units(const std::vector<std::uint8_t>& stream) {
  std::vector<TPictureUnit> units;
  TMPEGESVideoFrameSeparatorEx separator;
  separator.SetMPEGESReceiveFunctionObj([&](std::int32_t, std::int32_t, const std::uint8_t* d, std::int32_t n) {
    units.push_back({{d, d + n}, separator.FrameCodingType()});
    return S_OK;
  });
  separator.AddData(stream.data(), static_cast<std::int32_t>(stream.size()));
  separator.Flush();
  return units;
}

// Cuts every picture of a stream at one level, by decoding or from the analysis record.
std::vector<std::uint8_t> CutAll(const std::vector<TPictureUnit>& units, int level, bool recorded) {
  TMPEGVideoTranscoder transcoder;
  std::vector<std::uint8_t> out;
  TMPEGVideoTranscoder::TCutRecord record;
  for (const auto& unit : units) {
    if (unit.Type < 1 || unit.Type > 3) {
      out.insert(out.end(), unit.Bytes.begin(), unit.Bytes.end());
      continue;
    }
    TBuffer copy;
    copy.Append(unit.Bytes.data(), static_cast<std::int32_t>(unit.Bytes.size()));
    const auto size = static_cast<std::int32_t>(unit.Bytes.size());
    const auto before = transcoder.SequenceValues();
    EXPECT_EQ(transcoder.Analyse(unit.Type, copy.DataPtr(), size), S_OK);
    EXPECT_FALSE(transcoder.Damaged());
    transcoder.TakeCutRecord(record);
    const auto after = transcoder.SequenceValues();
    transcoder.SetSequenceValues(before);
    if (recorded) transcoder.UseCutRecord(&record);
    std::vector<std::uint8_t> block(unit.Bytes.size() + 64);
    std::int32_t written = static_cast<std::int32_t>(block.size());
    EXPECT_EQ(transcoder.Cut(unit.Type, copy.DataPtr(), block.data(), size, written, level), S_OK);
    EXPECT_FALSE(transcoder.Damaged());
    EXPECT_LE(written, size);
    out.insert(out.end(), block.begin(), block.begin() + written);
    transcoder.SetSequenceValues(after);  // the next analysis goes on from this picture's headers
  }
  return out;
}

} // namespace

// Every cut level gives a stream that decodes without an error, level 0 included (a coded
// non-intra block keeps its first code), and the cut from the analysis record is the same
// as the cut by decoding.
TEST(TMPEGVideoTranscoder, EveryCutLevelDecodesAndTheRecordedCutMatches) {
  for (const char* name : {"i420_interlaced.m2v", "i422_interlaced.m2v", "p420_tools.m2v"}) {
    const auto units = Units(ReadFileBytes(OwnStream(name)));
    for (int level : {0, 1, 4}) {
      SCOPED_TRACE(std::string(name) + " at level " + std::to_string(level));
      const auto decoded = CutAll(units, level, false);
      EXPECT_TRUE(CutAll(units, level, true) == decoded);
      EXPECT_TRUE(FfmpegDecodesCleanly(WriteTemp("cut_" + std::to_string(level) + "_" + name, decoded)));
    }
  }
}

TEST(TMPEGVideoTranscoder, CostCurveAddsUpToTheCoefficientBits) {
  const auto units = Units(ReadFileBytes(OwnStream("p420_plain.m2v")));
  TMPEGVideoTranscoder transcoder;
  ASSERT_EQ(units[0].Type, 1);
  TBuffer copy;
  copy.Append(units[0].Bytes.data(), static_cast<std::int32_t>(units[0].Bytes.size()));
  const auto size = static_cast<std::int32_t>(units[0].Bytes.size());
  ASSERT_EQ(transcoder.DecodeFrame(copy.DataPtr(), size), S_OK);
  const int maxIndex = transcoder.MaxCoefIndex();
  ASSERT_GT(maxIndex, 1);
  std::int64_t all = 0;
  for (int k = 1; k <= maxIndex; ++k) all += transcoder.CoefBits()[static_cast<std::size_t>(k)];
  EXPECT_EQ(transcoder.CoefBits()[static_cast<std::size_t>(maxIndex) + 1], 0);
  // Cutting at level 0 removes every AC code of an intra picture: what the curve counts, give or
  // take the alignment of each slice's last byte.
  std::vector<std::uint8_t> block(units[0].Bytes.size() + 64);
  std::int32_t written = static_cast<std::int32_t>(block.size());
  ASSERT_EQ(transcoder.DirectCutLevels(copy.DataPtr(), block.data(), size, written, 0), S_OK);
  const std::int64_t saved = std::int64_t{size} * 8 - std::int64_t{written} * 8;
  EXPECT_LE(saved, all + 7 * 18);
  EXPECT_GE(saved, all - 7 * 18);
  // At its top level the picture comes out bit for bit.
  written = static_cast<std::int32_t>(block.size());
  ASSERT_EQ(transcoder.DirectCutLevels(copy.DataPtr(), block.data(), size, written, maxIndex), S_OK);
  EXPECT_TRUE(std::vector<std::uint8_t>(block.begin(), block.begin() + written) == units[0].Bytes);
}

TEST(TMPEGVideoTranscoder, UnparseablePicturesAreReportedDamaged) {
  // MPEG-1 pictures (no picture coding extension) and damaged slices are not cut.
  const auto mpeg1 = Units(ReadFileBytes(OwnStream("mpeg1.m1v")));
  TMPEGVideoTranscoder transcoder;
  TBuffer copy;
  copy.Append(mpeg1[0].Bytes.data(), static_cast<std::int32_t>(mpeg1[0].Bytes.size()));
  EXPECT_EQ(transcoder.DecodeFrame(copy.DataPtr(), copy.DataSize()), S_OK);
  EXPECT_TRUE(transcoder.Damaged());

  ScopedLogCapture capture;
  auto units = Units(ReadFileBytes(OwnStream("p420_plain.m2v")));
  auto& bytes = units[1].Bytes;  // a P picture with 40 bytes of ones in its slices
  for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 40; ++i) bytes[i] = 0xFF;
  TBuffer damaged;
  damaged.Append(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  transcoder.SetPFrame(damaged.DataPtr(), damaged.DataSize());
  EXPECT_TRUE(transcoder.Damaged());
}

// An analysis pass without the cut record finds what the full pass finds: the cost curve, the
// alignment reserve, damage and the block bits the record adds up to. A cut handed the
// incomplete record walks the syntax and writes the same picture as with the full record.
TEST(TMPEGVideoTranscoder, AnalysisWithoutTheCutRecordCountsTheSame) {
  for (const char* name : {"i420_interlaced.m2v", "p420_tools.m2v", "matrices.m2v", "mpeg1.m1v"}) {
    SCOPED_TRACE(name);
    const auto units = Units(ReadFileBytes(OwnStream(name)));
    TMPEGVideoTranscoder full, light;
    full.SetMpeg1(true);  // the re-quantiser's walk, MPEG-1 included
    light.SetMpeg1(true);
    light.SetCutRecording(false);
    TMPEGVideoTranscoder::TCutRecord fullRecord, lightRecord;
    int cuts = 0;
    for (const auto& unit : units) {
      if (unit.Type < 1 || unit.Type > 3) continue;
      TBuffer copy;
      copy.Append(unit.Bytes.data(), static_cast<std::int32_t>(unit.Bytes.size()));
      const auto size = static_cast<std::int32_t>(unit.Bytes.size());
      const auto before = full.SequenceValues();
      ASSERT_EQ(full.Analyse(unit.Type, copy.DataPtr(), size), S_OK);
      ASSERT_EQ(light.Analyse(unit.Type, copy.DataPtr(), size), S_OK);
      full.TakeCutRecord(fullRecord);
      light.TakeCutRecord(lightRecord);
      ASSERT_EQ(light.Damaged(), full.Damaged());
      EXPECT_TRUE(fullRecord.Complete);
      EXPECT_FALSE(lightRecord.Complete);
      EXPECT_TRUE(lightRecord.Marks.empty() && lightRecord.CodeEnds.empty());
      EXPECT_EQ(light.CoefBits(), full.CoefBits());
      EXPECT_EQ(light.MaxCoefIndex(), full.MaxCoefIndex());
      EXPECT_EQ(light.AlignmentReserve(), full.AlignmentReserve());
      EXPECT_EQ(light.BlockBits(), full.BlockBits());
      if (!full.Damaged()) {
        EXPECT_EQ(full.BlockBits(), BlockBits(fullRecord));
      }
      if (full.Damaged() || full.MaxCoefIndex() < 2) continue;
      // Both cut from the same headers; the light one walks the syntax.
      const auto after = full.SequenceValues();
      std::vector<std::uint8_t> a(unit.Bytes.size() + 64), b(a.size());
      std::int32_t na = static_cast<std::int32_t>(a.size()), nb = na;
      full.SetSequenceValues(before);
      full.UseCutRecord(&fullRecord);
      ASSERT_EQ(full.Cut(unit.Type, copy.DataPtr(), a.data(), size, na, 1), S_OK);
      light.SetSequenceValues(before);
      light.UseCutRecord(&lightRecord);
      ASSERT_EQ(light.Cut(unit.Type, copy.DataPtr(), b.data(), size, nb, 1), S_OK);
      ASSERT_EQ(na, nb);
      EXPECT_TRUE(std::equal(a.begin(), a.begin() + na, b.begin()));
      EXPECT_LT(na, size);
      ++cuts;
      full.SetSequenceValues(after);
      light.SetSequenceValues(after);
    }
    EXPECT_GT(cuts, 2);
  }
}

// The transrater follows headers apart from the analysis, so that workers can analyse groups
// in any order: stepping over the slices must leave exactly the sequence values an analysis
// leaves, unit by unit, through matrices, 4:2:2, MPEG-1 and a stream joined to another.
TEST(TMPEGVideoTranscoder, ReadingHeadersLeavesWhatAnAnalysisLeaves) {
  const auto same = [](const TMPEGVideoTranscoder::TSequenceValues& a, const TMPEGVideoTranscoder::TSequenceValues& b) {
    return a.HorizontalSizeValue == b.HorizontalSizeValue && a.VerticalSizeValue == b.VerticalSizeValue &&
           a.HorizontalSize == b.HorizontalSize && a.VerticalSize == b.VerticalSize && a.ChromaFormat == b.ChromaFormat &&
           a.HaveSequenceExtension == b.HaveSequenceExtension && a.Matrices == b.Matrices &&
           a.VbvBufferSizeValue == b.VbvBufferSizeValue && a.VbvBufferSize == b.VbvBufferSize;
  };
  std::vector<std::uint8_t> joined = ReadFileBytes(OwnStream("matrices.m2v"));
  const auto hd = ReadFileBytes(OwnStream("hd1080.m2v"));
  joined.insert(joined.end(), hd.begin(), hd.end());
  const std::vector<std::pair<std::string, std::vector<std::uint8_t>>> streams = {
      {"i422_interlaced.m2v", ReadFileBytes(OwnStream("i422_interlaced.m2v"))},
      {"mpeg1.m1v", ReadFileBytes(OwnStream("mpeg1.m1v"))},
      {"matrices.m2v + hd1080.m2v", joined}};
  for (const auto& [name, bytes] : streams) {
    SCOPED_TRACE(name);
    TMPEGVideoTranscoder analysis, headers;
    analysis.SetMpeg1(true);
    int changes = 0;
    for (const auto& unit : Units(bytes)) {
      if (unit.Type < 1 || unit.Type > 3) continue;
      TBuffer copy;
      copy.Append(unit.Bytes.data(), static_cast<std::int32_t>(unit.Bytes.size()));
      const auto size = static_cast<std::int32_t>(unit.Bytes.size());
      const auto before = headers.SequenceValues();
      ASSERT_EQ(analysis.Analyse(unit.Type, copy.DataPtr(), size), S_OK);
      ASSERT_EQ(headers.ReadHeaders(copy.DataPtr(), size), S_OK);
      ASSERT_TRUE(same(analysis.SequenceValues(), headers.SequenceValues()));
      if (!same(before, headers.SequenceValues())) ++changes;
    }
    EXPECT_GE(changes, 1);  // the first sequence header at least
  }
}
