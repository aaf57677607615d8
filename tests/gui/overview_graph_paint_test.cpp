// The picture-size graph zoomed fully out over half a million pictures: each pixel column shows
// the tallest picture among its own, in its type's colour, and the paint is timed (QBENCHMARK;
// run with -tickcounter or -iterations to compare).
#include <QImage>
#include <QPainter>
#include <QTest>
#include <mutex>

#include "overview/GraphStyle.h"
#include "overview/gui/OverviewGraph.h"

using namespace varlow;

namespace {

constexpr std::size_t kPictures = 500000;
constexpr std::size_t kPeak = 312345;        // one I picture ten times the size of the rest
constexpr std::size_t kSecondPeak = 80000;   // a B picture half as large as the peak
constexpr std::int64_t kPlainBytes = 1000;

// Half a million 25 Hz frame pictures: groups of 12 (I then P and B), all of one size but two.
TOverviewData HalfAMillionPictures() {
  TOverviewData data;
  TSequenceInfo sequence;
  sequence.Width = 720;
  sequence.Height = 576;
  sequence.FrameRateCode = 3;  // 25 frames/s
  sequence.BitRateValue = 15000;
  data.Sequences.push_back(sequence);
  std::int64_t offset = 100;
  for (std::size_t i = 0; i < kPictures; ++i) {
    if (i % 12 == 0) {
      TGroupRecord group;
      group.Offset = offset - 12;
      group.FirstPicture = static_cast<std::uint32_t>(i);
      data.Groups.push_back(group);
    }
    const std::uint8_t type = i == kPeak ? 1 : i == kSecondPeak ? 3 : i % 12 == 0 ? 1 : i % 3 == 0 ? 2 : 3;
    const std::int64_t size = i == kPeak ? 10 * kPlainBytes : i == kSecondPeak ? 5 * kPlainBytes : kPlainBytes;
    TPictureRecord picture(offset, static_cast<std::uint16_t>(i % 12), type);
    picture.SetSize(size);
    data.Pictures.push_back(picture);
    offset += size;
  }
  data.Report.FirstStartCode = 0;
  data.Report.BytesScanned = offset;
  data.Report.State = TScanReport::End::Complete;
  return data;
}

QRgb Colour(std::uint32_t rgb) { return QColor::fromRgb(rgb).rgb(); }

}  // namespace

class OverviewGraphPaintTest : public QObject {
  Q_OBJECT
 private:
  TOverviewData FData = HalfAMillionPictures();
  std::mutex FLock;

  void Fit(TOverviewGraph& graph) {
    graph.resize(1000, 300);
    graph.SetData(&FData, &FLock);
    graph.DataGrew(static_cast<double>(FData.Sequences.front().BitRate()), true);
  }

 private slots:
  void zoomedOutColumnsShowTheirTallestPicture() {
    TOverviewGraph graph;
    Fit(graph);
    QVERIFY(graph.BarWidth() < 1);
    QCOMPARE(graph.PictureCount(), kPictures);
    QImage image(graph.size(), QImage::Format_RGB32);
    {
      QPainter painter(&image);
      graph.Render(painter, graph.size());
    }
    const QRect plot = graph.PlotRect();
    const auto columnOf = [&](std::size_t picture) { return plot.left() + static_cast<int>(picture * graph.BarWidth()); };
    // The tallest bar fills the plot in the I colour; half-way up, only its column and the
    // second peak's reach so high.
    const int peak = columnOf(kPeak);
    QCOMPARE(image.pixel(peak, plot.top() + 3), Colour(kColourI));
    QCOMPARE(graph.PictureAt(peak), static_cast<std::int64_t>(kPeak));
    const int second = columnOf(kSecondPeak);
    QCOMPARE(image.pixel(second, plot.bottom() - plot.height() * 4 / 10), Colour(kColourB));
    QCOMPARE(graph.PictureAt(second), static_cast<std::int64_t>(kSecondPeak));
    int tall = 0;
    for (int x = plot.left(); x <= plot.right(); ++x)
      if (image.pixel(x, plot.bottom() - plot.height() * 3 / 4) == Colour(kColourI)) ++tall;
    QCOMPARE(tall, 1);
    // Elsewhere all pictures are of one size: a column shows its first picture, in its colour
    // (the dashed group lines cross some of them).
    const auto typeOf = [](std::size_t i) -> std::uint8_t { return i % 12 == 0 ? 1 : i % 3 == 0 ? 2 : 3; };
    int matching = 0;
    for (int c = 0; c < plot.width(); ++c) {
      const auto from = static_cast<std::size_t>(c / graph.BarWidth());
      matching += image.pixel(plot.left() + c, plot.bottom() - 5) == Colour(CodingTypeColour(typeOf(from)));
    }
    QVERIFY2(matching > plot.width() * 8 / 10, qPrintable(QString::number(matching)));
  }

  void paintZoomedOut() {
    TOverviewGraph graph;
    Fit(graph);
    QImage image(graph.size(), QImage::Format_RGB32);
    QBENCHMARK {
      QPainter painter(&image);
      graph.Render(painter, graph.size());
    }
  }
};

QTEST_MAIN(OverviewGraphPaintTest)
#include "overview_graph_paint_test.moc"
