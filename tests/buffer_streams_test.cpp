// The buffer model on real streams, against a model written here from the bytes alone: its own
// walk over the start codes for the pictures, their units and the sequence parameters, and a
// simulation in time (arrival times per unit, decoding times from vbv_delay or the frame rate).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>

#include "buffer/VbvCurve.h"
#include "container/OpenSource.h"
#include "overview_craft.h"

using namespace varlow;
using namespace varlow::test;

namespace {

struct TBufferRefPicture {
  std::int64_t UnitBegin = 0;  // bytes
  std::int64_t Start = 0;      // of the picture start code
  int Type = 0;
  int VbvDelay = 0xFFFF;
  bool Extension = false, Field = false, Repeat = false, TopFirst = false;
  // The sequence in force.
  double Rate = 0;
  double Buffer = 0;
  double FrameRate = 0;
  bool Progressive = true, LowDelay = false;
};

struct TBufferRefStream {
  std::vector<TBufferRefPicture> Pictures;
  std::int64_t End = 0;
};

std::uint64_t BitsAt(const std::vector<std::uint8_t>& b, std::size_t byte, int from, int count) {
  std::uint64_t v = 0;
  for (int k = 0; k < count; ++k) {
    const std::size_t bit = static_cast<std::size_t>(from + k);
    const std::size_t at = byte + bit / 8;
    v = v << 1 | (at < b.size() ? (b[at] >> (7 - bit % 8)) & 1u : 0u);
  }
  return v;
}

TBufferRefStream Walk(const std::vector<std::uint8_t>& b) {
  static const double kRates[] = {0, 24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60};
  TBufferRefStream s;
  std::uint64_t rate = 0, buffer = 0, code = 0;
  double n = 0, d = 0;
  bool progressive = true, lowDelay = false, inPicture = false, mpeg2 = false;
  std::int64_t boundary = -1;  // where the headers in front of the next picture begin
  std::int64_t first = -1;
  for (std::size_t i = 0; i + 4 <= b.size(); ++i) {
    if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1) continue;
    const int c = b[i + 3];
    const auto at = static_cast<std::int64_t>(i);
    if (first < 0) first = at;
    if (c == 0xB3 || c == 0xB8 || c == 0xB7) {
      if (inPicture && boundary < 0) boundary = at;
      inPicture = false;
    }
    if (c == 0xB3) {
      code = BitsAt(b, i + 4, 28, 4);
      rate = BitsAt(b, i + 4, 32, 18);
      buffer = BitsAt(b, i + 4, 51, 10);
      mpeg2 = false, progressive = true, lowDelay = false, n = 0, d = 0;
    } else if (c == 0xB5 && BitsAt(b, i + 4, 0, 4) == 1) {
      mpeg2 = true;
      progressive = BitsAt(b, i + 4, 12, 1);
      rate |= BitsAt(b, i + 4, 19, 12) << 18;
      buffer |= BitsAt(b, i + 4, 32, 8) << 10;
      lowDelay = BitsAt(b, i + 4, 40, 1);
      n = static_cast<double>(BitsAt(b, i + 4, 41, 2));
      d = static_cast<double>(BitsAt(b, i + 4, 43, 5));
    } else if (c == 0xB5 && BitsAt(b, i + 4, 0, 4) == 8 && !s.Pictures.empty() && inPicture) {
      TBufferRefPicture& p = s.Pictures.back();
      p.Extension = true;
      const auto structure = BitsAt(b, i + 4, 22, 2);
      p.Field = structure == 1 || structure == 2;
      p.TopFirst = BitsAt(b, i + 4, 24, 1);
      p.Repeat = BitsAt(b, i + 4, 30, 1);
    } else if (c == 0x00) {
      TBufferRefPicture p;
      p.Start = at;
      p.UnitBegin = s.Pictures.empty() ? first : (boundary >= 0 ? boundary : at);
      p.Type = static_cast<int>(BitsAt(b, i + 4, 10, 3));
      p.VbvDelay = static_cast<int>(BitsAt(b, i + 4, 13, 16));
      const bool variable = !mpeg2 && rate == 0x3FFFF;
      p.Rate = variable ? 0 : 400.0 * static_cast<double>(rate);
      p.Buffer = 16384.0 * static_cast<double>(buffer);
      p.FrameRate = code < 9 ? kRates[code] * (n + 1) / (d + 1) : 0;
      p.Progressive = progressive;
      p.LowDelay = lowDelay;
      s.Pictures.push_back(p);
      inPicture = true;
      boundary = -1;
    }
  }
  s.End = static_cast<std::int64_t>(b.size());
  return s;
}

double Periods(const TBufferRefPicture& p) {
  if (!p.Extension) return 1;
  if (p.Field) return 0.5;
  if (!p.Repeat) return 1;
  return p.Progressive ? (p.TopFirst ? 3 : 2) : 1.5;
}

struct TBufferRefPoint {
  double Before = 0, After = 0, Time = 0;
};

// Decoding times from the frame rate: while an I or P picture is decoded the one before it is
// on show (a B picture, or any of a low-delay sequence, is shown as it is decoded).
std::vector<double> Intervals(const std::vector<TBufferRefPicture>& pictures) {
  std::vector<double> out;
  double shown = 0;
  bool haveAnchor = false, secondField = false;
  for (const TBufferRefPicture& p : pictures) {
    const bool anchor = p.Type == 1 || p.Type == 2;
    const bool delayed = anchor && !p.LowDelay && haveAnchor;
    double periods = delayed ? shown : Periods(p);
    if (p.Field) {
      periods = secondField ? 0.5 : (delayed ? shown - 0.5 : 0.5);
      secondField = !secondField;
    } else {
      secondField = false;
    }
    if (anchor) {
      shown = p.Field ? 1.0 : Periods(p);
      haveAnchor = true;
    }
    out.push_back(p.FrameRate > 0 ? periods / p.FrameRate : 0);
  }
  return out;
}

std::vector<TBufferRefPoint> Simulate(const TBufferRefStream& s, bool constant) {
  const auto& pics = s.Pictures;
  const std::size_t count = pics.size();
  std::vector<double> unitBits(count), unitStartBits(count), arrivalStart(count + 1, 0);
  for (std::size_t k = 0; k < count; ++k) {
    const std::int64_t end = k + 1 < count ? pics[k + 1].UnitBegin : s.End;
    unitBits[k] = 8.0 * static_cast<double>(end - pics[k].UnitBegin);
    unitStartBits[k] = 8.0 * static_cast<double>(pics[k].UnitBegin - pics[0].UnitBegin);
    arrivalStart[k + 1] = arrivalStart[k] + unitBits[k] / pics[k].Rate;
  }
  const double total = count ? unitStartBits[count - 1] + unitBits[count - 1] : 0;
  // Bits arrived by time t, at each unit's rate in turn.
  auto arrived = [&](double t) {
    const auto k = static_cast<std::size_t>(std::upper_bound(arrivalStart.begin(), arrivalStart.end() - 1, t) -
                                            arrivalStart.begin());
    if (k == 0) return 0.0;
    const std::size_t u = k - 1;
    return std::min(total, unitStartBits[u] + (t - arrivalStart[u]) * pics[u].Rate);
  };
  const std::vector<double> intervals = Intervals(pics);
  std::vector<TBufferRefPoint> out(count);
  double removed = 0, occupancy = 0;
  for (std::size_t n = 0; n < count; ++n) {
    TBufferRefPoint& p = out[n];
    if (constant) {
      p.Time = pics[n].VbvDelay != 0xFFFF
                   ? arrivalStart[n] +
                         (8.0 * static_cast<double>(pics[n].Start - pics[n].UnitBegin) + 32) / pics[n].Rate +
                         pics[n].VbvDelay / 90000.0
                   : out[n - 1].Time + intervals[n - 1];
      p.Before = arrived(p.Time) - removed;
    } else if (n == 0) {
      p.Before = std::min(pics[0].Buffer, total);
      p.Time = p.Before / pics[0].Rate;
    } else {
      p.Time = out[n - 1].Time + intervals[n - 1];
      const double filled = occupancy + pics[n].Rate * intervals[n - 1];
      p.Before = std::min({filled, std::max(pics[n].Buffer, occupancy), total - removed});
    }
    p.After = p.Before - unitBits[n];
    occupancy = p.After;
    removed += unitBits[n];
  }
  return out;
}

// The elementary streams of the tests: the project's own and the third-party ones.
std::vector<std::string> ElementaryStreams() {
  std::vector<std::string> paths = {SampleStream()};
  for (const std::string& name : OwnStreamNames()) paths.push_back(OwnStream(name));
  for (const char* name :
       {"lowrisc_test.m2v", "test_2.mpg", "cinecutie_test.m2v", "greyramp.mpg", "gen2brain_test.m1v",
        "idet_soft_telecine.m2v", "idet_interlaced_bff.m2v", "damaged/mwgoldsmith_test.m2v", "damaged/test.mpeg1video"})
    paths.push_back(SharedStream(name));
  return paths;
}

}  // namespace

TEST(BufferStreams, ModelAgreesWithTheOneWrittenHere) {
  int compared = 0;
  for (const std::string& path : ElementaryStreams()) {
    if (!Exists(path)) continue;
    SCOPED_TRACE(path);
    const TBufferRefStream ref = Walk(ReadFileBytes(path));
    const TOverviewData data = ScanPath(path);
    const TVbvCurve curve = ComputeVbvCurve(data);
    ASSERT_EQ(curve.Points.size(), ref.Pictures.size());
    if (ref.Pictures.empty()) continue;
    const bool constant = std::any_of(ref.Pictures.begin(), ref.Pictures.end(),
                                      [](const TBufferRefPicture& p) { return p.VbvDelay != 0xFFFF; });
    EXPECT_EQ(curve.Summary.Mode, constant ? TVbvMode::Constant : TVbvMode::Variable);
    const bool modelled = std::all_of(ref.Pictures.begin(), ref.Pictures.end(), [&](const TBufferRefPicture& p) {
      return p.Rate > 0 && p.Buffer > 0 && (constant || p.FrameRate > 0);
    });
    ASSERT_EQ(curve.Summary.Modelled, modelled);
    if (!modelled) continue;
    const std::vector<TBufferRefPoint> points = Simulate(ref, constant);
    std::int64_t underflows = 0, overflows = 0;
    for (std::size_t n = 0; n < points.size(); ++n) {
      SCOPED_TRACE(n);
      ASSERT_NEAR(static_cast<double>(curve.Points[n].Before), points[n].Before, 1.5);
      ASSERT_NEAR(static_cast<double>(curve.Points[n].After), points[n].After, 1.5);
      ASSERT_NEAR(curve.Points[n].Time, points[n].Time, 1e-6);
      const double bits = points[n].Before - points[n].After;
      if (points[n].Before < bits - 0.5) ++underflows;
      if (points[n].Before > ref.Pictures[n].Buffer + 0.5) ++overflows;
    }
    EXPECT_EQ(curve.Summary.Underflows, underflows);
    EXPECT_EQ(curve.Summary.Overflows, overflows);
    ++compared;
  }
  EXPECT_GE(compared, 6);
}

// The constant-rate streams' encoders chose each vbv_delay so that pictures decode a display
// period apart: the decoding times the delays give step as the frame-rate rule says, which
// judges that rule (I and P pictures timed by the one on show) by the encoders' own numbers.
TEST(BufferStreams, DelaysOfConstantRateStreamsStepByDisplayPeriods) {
  int checked = 0;
  for (const char* name : {"lowrisc_test.m2v", "greyramp.mpg", "gen2brain_test.m1v"}) {
    const std::string path = SharedStream(name);
    if (!Exists(path)) continue;
    SCOPED_TRACE(name);
    const TBufferRefStream ref = Walk(ReadFileBytes(path));
    const TVbvCurve curve = ComputeVbvCurve(ScanPath(path));
    ASSERT_EQ(curve.Summary.Mode, TVbvMode::Constant);
    const std::vector<double> intervals = Intervals(ref.Pictures);
    for (std::size_t n = 1; n < curve.Points.size(); ++n) {
      SCOPED_TRACE(n);
      // A tick of the 90 kHz clock each side, for the encoders' rounding.
      EXPECT_NEAR(curve.Points[n].Time - curve.Points[n - 1].Time, intervals[n - 1], 2.5 / 90000);
    }
    ++checked;
  }
  if (checked == 0) GTEST_SKIP() << "no shared streams";
}

// Inside a container the video bytes are the same, so is the buffer: units are measured in the
// video bytes, not between file offsets with packet headers among them.
TEST(BufferStreams, ContainersGiveTheBufferOfTheirVideo) {
  int compared = 0;
  const auto same = [&](const std::string& elementary, const std::string& container) {
    if (!Exists(elementary) || !Exists(container)) return;
    SCOPED_TRACE(container);
    TOverviewData data;
    auto source = OpenVideoSource(container, TFileStream::Mode::ReadOnly).Source;
    ASSERT_TRUE(source);
    TOverviewScanner().Scan(*source, data);
    const TVbvCurve inner = ComputeVbvCurve(data);
    const TVbvCurve plain = ComputeVbvCurve(ScanPath(elementary));
    ASSERT_EQ(inner.Points.size(), plain.Points.size());
    for (std::size_t i = 0; i < inner.Points.size(); ++i) {
      ASSERT_EQ(inner.Points[i].Before, plain.Points[i].Before) << i;
      ASSERT_EQ(inner.Points[i].After, plain.Points[i].After) << i;
    }
    EXPECT_EQ(inner.Summary.Underflows, plain.Summary.Underflows);
    EXPECT_EQ(inner.Summary.LowestPicture, plain.Summary.LowestPicture);
    ++compared;
  };
  for (const char* stem : {"p420_tools", "i420_interlaced", "hd1080"})
    for (const char* ext : {".ts", ".m2ts", ".vob", ".mpg"})
      same(OwnStream(std::string(stem) + ".m2v"), OwnStream(std::string(stem) + ext));
  same(SharedStream("idet_soft_telecine.m2v"), SharedStream("containers/bt601-525_480_telecined_soft.ts"));
  same(SharedStream("idet_interlaced_bff.m2v"), SharedStream("containers/bt601-525_480_interlaced_bff.ts"));
  if (compared == 0) GTEST_SKIP() << "no streams";
}

// ffmpeg's parser cuts an elementary stream where Annex-style units begin: a picture with the
// sequence and group headers in front of it. Its packet sizes are the units' sizes.
TEST(BufferStreams, UnitsAreThePacketsFfprobeCuts) {
  int compared = 0;
  for (const char* name :
       {"greyramp.mpg", "idet_soft_telecine.m2v", "gen2brain_test.m1v", "cinecutie_test.m2v", "lowrisc_test.m2v"}) {
    const std::string path = SharedStream(name);
    if (!Exists(path)) continue;
    SCOPED_TRACE(name);
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(
        popen(
            ("ffprobe -v error -f mpegvideo -show_entries packet=size -of csv=p=0 '" + path + "' 2>/dev/null").c_str(),
            "r"),
        pclose);
    if (!pipe) continue;
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) out.append(buffer, n);
    std::istringstream lines(out);
    std::vector<std::int64_t> sizes;
    for (std::int64_t size; lines >> size;) sizes.push_back(size);
    if (sizes.empty()) continue;  // no ffprobe
    const TVbvCurve curve = ComputeVbvCurve(ScanPath(path));
    ASSERT_EQ(sizes.size(), curve.Points.size());
    for (std::size_t i = 0; i < sizes.size(); ++i)
      ASSERT_EQ(8 * sizes[i], curve.Points[i].Before - curve.Points[i].After) << i;
    ++compared;
  }
  if (compared == 0) GTEST_SKIP() << "no ffprobe or no shared streams";
}
