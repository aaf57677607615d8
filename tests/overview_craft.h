#pragma once
// Shared by the overview tests: an independent byte-by-byte reference scan, the list of every
// stream the tests can read, and a writer of small crafted streams.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "TestBitWriter.h"
#include "TestStreams.h"
#include "overview/OverviewScanner.h"
#include "support/FileStream.h"

namespace varlow::test {

struct TRefPicture {
  std::int64_t Offset = 0;
  std::int64_t Size = 0;
  int CodingType = 0;
  int TemporalReference = 0;
  std::int64_t Group = -1;  // groups before it, minus one
};

struct TRefScan {
  std::vector<TRefPicture> Pictures;
  std::int64_t Groups = 0;
};

// Walks the bytes one at a time: a pack starts at 00 00 01 followed by 00, B3, B7 or B8 and
// runs to the next one or the end; picture fields are read straight from the two bytes after
// the picture start code (temporal_reference 10 bits, picture_coding_type 3 bits).
inline TRefScan ReferenceScan(const std::vector<std::uint8_t>& b) {
  TRefScan ref;
  bool open = false;
  for (std::size_t i = 0; i + 4 <= b.size(); ++i) {
    if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1) continue;
    const std::uint8_t code = b[i + 3];
    if (code != 0x00 && code != 0xB3 && code != 0xB7 && code != 0xB8) continue;
    if (open) ref.Pictures.back().Size = static_cast<std::int64_t>(i) - ref.Pictures.back().Offset;
    open = false;
    if (code == 0xB8) ++ref.Groups;
    if (code != 0x00) continue;
    TRefPicture p;
    p.Offset = static_cast<std::int64_t>(i);
    const int b4 = i + 4 < b.size() ? b[i + 4] : 0;
    const int b5 = i + 5 < b.size() ? b[i + 5] : 0;
    p.TemporalReference = (b4 << 2) | (b5 >> 6);
    p.CodingType = (b5 >> 3) & 7;
    p.Group = ref.Groups - 1;
    ref.Pictures.push_back(p);
    open = true;
  }
  if (open) ref.Pictures.back().Size = static_cast<std::int64_t>(b.size()) - ref.Pictures.back().Offset;
  return ref;
}

inline TOverviewData ScanPath(const std::string& path, std::size_t blockSize = TOverviewScanner::kDefaultBlockSize) {
  TOverviewData data;
  auto stream = TByteSource::OpenPlain(path, TFileStream::Mode::ReadOnly);
  if (stream) TOverviewScanner(blockSize).Scan(*stream, data);
  return data;
}

// Every stream the tests may read: the project's own, the sample and the third-party ones
// (damaged and non-video files included).
inline std::vector<std::string> AllStreams() {
  std::vector<std::string> paths = {SampleStream()};
  for (const std::string& dir : {std::string(VARLOW_TEST_STREAMS), std::string(VARLOW_SHARED_STREAMS),
                                 SharedStream("damaged"), SharedStream("negative")}) {
    if (!Exists(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      const std::string ext = entry.path().extension().string();
      if (entry.is_regular_file() && ext != ".md" && ext != ".tmp" && entry.path().filename() != "stamp")
        paths.push_back(entry.path().string());
    }
  }
  return paths;
}

// Small crafted streams, field by field.
class TStreamCraft {
public:
  TStreamCraft& SequenceHeader(int width, int height, int frameRateCode, std::uint32_t bitRateValue = 12500,
                               std::uint32_t vbv = 112) {
    w.StartCode(0x1B3).Put(width, 12).Put(height, 12).Put(2, 4).Put(frameRateCode, 4);
    w.Put(bitRateValue, 18).Put(1, 1).Put(vbv, 10).Put(0, 1).Put(0, 1).Put(0, 1);
    return *this;
  }
  TStreamCraft& SequenceExtension(bool progressive, int chroma = 1, int profileLevel = 0x48, int rateN = 0,
                                  int rateD = 0) {
    w.StartCode(0x1B5).Put(1, 4).Put(profileLevel, 8).Put(progressive, 1).Put(chroma, 2).Put(0, 2).Put(0, 2);
    w.Put(0, 12).Put(1, 1).Put(0, 8).Put(0, 1).Put(rateN, 2).Put(rateD, 5);
    return *this;
  }
  TStreamCraft& Group(bool closed, bool broken = false) {
    w.StartCode(0x1B8).Put(0, 25).Put(closed, 1).Put(broken, 1);
    return *this;
  }
  TStreamCraft& Picture(int temporalReference, int type, std::uint32_t vbvDelay = 0xFFFF) {
    w.StartCode(0x100).Put(temporalReference, 10).Put(type, 3).Put(vbvDelay, 16);
    if (type == 2 || type == 3) w.Put(0, 1).Put(1, 3);
    if (type == 3) w.Put(0, 1).Put(1, 3);
    w.Put(0, 1);
    return *this;
  }
  // fCodes: the four f_codes, f_code[0][0] in the high 4 bits.
  TStreamCraft& CodingExtension(int structure, bool topFirst, bool repeat, bool progressiveFrame,
                                std::uint32_t fCodes = 0xFFFF) {
    w.StartCode(0x1B5).Put(8, 4).Put(fCodes, 16).Put(0, 2).Put(structure, 2).Put(topFirst, 1).Put(1, 1);
    w.Put(0, 4).Put(repeat, 1).Put(0, 1).Put(progressiveFrame, 1).Put(0, 1);
    return *this;
  }
  // A slice of `bytes` bytes that hold no start code prefix.
  TStreamCraft& Slice(std::size_t bytes = 16) {
    w.StartCode(0x101).Raw(std::vector<std::uint8_t>(bytes, 0x5A));
    return *this;
  }
  TStreamCraft& Raw(const std::vector<std::uint8_t>& bytes) {
    w.Raw(bytes);
    return *this;
  }
  TStreamCraft& End() {
    w.StartCode(0x1B7);
    return *this;
  }
  std::vector<std::uint8_t> Bytes() const { return w.Bytes(); }

private:
  TTestBitWriter w;
};

} // namespace varlow::test
