// The overview graph's labels and layout: units that scale with the values, labels that are
// never cut, the picture numbers under their own bars on short streams, and SVG and PNG drawn
// alike by one painting.
#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTest>
#include <mutex>

#include "overview/GraphStyle.h"
#include "overview/gui/GraphLabels.h"
#include "overview/gui/OverviewGraph.h"

using namespace varlow;

namespace {

// `count` frame pictures at 25 Hz in groups of 12, I then B B P; sizes from `size(i)`.
template <class Size>
TOverviewData Pictures(std::size_t count, Size size, std::uint64_t bitRateValue = 15000, bool mpeg2 = true) {
  TOverviewData data;
  TSequenceInfo sequence;
  sequence.Width = 720;
  sequence.Height = 576;
  sequence.FrameRateCode = 3;
  sequence.BitRateValue = bitRateValue;
  sequence.Mpeg2 = mpeg2;
  data.Sequences.push_back(sequence);
  std::int64_t offset = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (i % 12 == 0) {
      TGroupRecord group;
      group.Offset = offset;
      group.FirstPicture = static_cast<std::uint32_t>(i);
      data.Groups.push_back(group);
    }
    const std::uint8_t type = i % 12 == 0 ? 1 : i % 3 == 0 ? 2 : 3;
    TPictureRecord picture(offset + 8, static_cast<std::uint16_t>(i % 12), type);
    picture.SetSize(size(i));
    data.Pictures.push_back(picture);
    offset += size(i);
  }
  data.Report.FirstStartCode = 0;
  data.Report.BytesScanned = offset;
  data.Report.State = TScanReport::End::Complete;
  return data;
}

QImage Paint(const TOverviewGraph& graph, const QSize& size) {
  QImage image(size, QImage::Format_RGB32);
  QPainter painter(&image);
  graph.Render(painter, size);
  return image;
}

// The texts of `graph`'s labels fit their boxes, and the boxes lie inside a graph of `size`.
void ExpectLabelsWhole(const TOverviewGraph& graph, const QSize& size) {
  const TGraphLayout l = graph.Layout(size);
  const QFontMetrics metrics(graph.GraphFont());
  const QRect all(QPoint(0, 0), size);
  const std::pair<QRect, QString> labels[] = {
      {l.SizeLabel, l.SizeText}, {l.RateLabel, l.RateText}, {l.FirstNumber, QString::number(l.First)}};
  for (const auto& [box, text] : labels) {
    QVERIFY2(all.contains(box), qPrintable(text));
    QVERIFY2(box.width() >= metrics.horizontalAdvance(text), qPrintable(text));
    QVERIFY2(!box.intersects(l.Plot), qPrintable(text));
  }
  if (!l.LastNumber.isEmpty()) QVERIFY(all.contains(l.LastNumber));
}

}  // namespace

class OverviewGraphLayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void unitsScaleWithTheValue() {
    QCOMPARE(ByteSizeLabel(0), QStringLiteral("0 B"));
    QCOMPARE(ByteSizeLabel(999), QStringLiteral("999 B"));
    QCOMPARE(ByteSizeLabel(149400), QStringLiteral("149.4 kB"));
    QCOMPARE(ByteSizeLabel(1500), QStringLiteral("1.50 kB"));
    QCOMPARE(ByteSizeLabel(999960), QStringLiteral("1.00 MB"));  // not "1000.0 kB"
    QCOMPARE(ByteSizeLabel(4.5e9), QStringLiteral("4.50 GB"));
    QCOMPARE(ByteSizeLabel(12.3e12), QStringLiteral("12.3 TB"));
    QCOMPARE(BitRateLabel(800), QStringLiteral("800 bit/s"));
    QCOMPARE(BitRateLabel(64000), QStringLiteral("64.0 kbit/s"));
    QCOMPARE(BitRateLabel(104857200), QStringLiteral("104.9 Mbit/s"));
    QCOMPARE(BitRateLabel(35995.44e6), QStringLiteral("36.0 Gbit/s"));
    QCOMPARE(BitRateLabel(4.2e9), QStringLiteral("4.20 Gbit/s"));
    QCOMPARE(BitRateLabel(-1), QStringLiteral("0 bit/s"));  // nothing below zero
  }

  void hugePicturesAndRatesKeepTheirLabelsWhole() {
    // A 4.5 GB picture and a rate in Gbit/s: the scales name them in full, outside the plot.
    std::mutex lock;
    const TOverviewData data =
        Pictures(30, [](std::size_t i) -> std::int64_t { return i == 7 ? 4'500'000'000 : 20000; });
    TOverviewGraph graph;
    graph.resize(640, 240);
    graph.SetData(&data, &lock);
    graph.DataGrew(0, true);
    const TGraphLayout l = graph.Layout(graph.size());
    QCOMPARE(l.SizeText, QStringLiteral("4.50 GB"));
    QVERIFY2(l.RateText.endsWith(QStringLiteral(" Gbit/s")), qPrintable(l.RateText));
    ExpectLabelsWhole(graph, graph.size());
    ExpectLabelsWhole(graph, graph.ExportSize());
  }

  void shortStreamsNumberTheirBars_data() {
    QTest::addColumn<int>("count");
    QTest::newRow("3 pictures") << 3;
    QTest::newRow("100 pictures") << 100;
    QTest::newRow("1 picture") << 1;
  }

  void shortStreamsNumberTheirBars() {
    QFETCH(int, count);
    std::mutex lock;
    const TOverviewData data =
        Pictures(static_cast<std::size_t>(count), [](std::size_t) -> std::int64_t { return 30000; });
    TOverviewGraph graph;
    graph.resize(1600, 300);
    graph.SetData(&data, &lock);
    graph.DataGrew(6e6, true);
    const TGraphLayout l = graph.Layout(graph.size());
    QCOMPARE(l.First, std::size_t{0});
    QCOMPARE(l.Last, static_cast<std::size_t>(count - 1));
    ExpectLabelsWhole(graph, graph.size());
    const QImage image = Paint(graph, graph.size());
    // Under each labelled bar's middle stands its number; the last bar's number is centred
    // under it, not at the far right of the plot.
    const double lastMiddle = l.Plot.left() + (static_cast<double>(l.Last) + 0.5) * l.BarWidth;
    const QRect lastNumber = count > 1 ? l.LastNumber : l.FirstNumber;
    QVERIFY2(lastNumber.left() <= lastMiddle + 1 && lastMiddle - 1 <= lastNumber.right() + 1,
             qPrintable(QStringLiteral("bar middle %1, number %2..%3")
                            .arg(lastMiddle)
                            .arg(lastNumber.left())
                            .arg(lastNumber.right())));
    QCOMPARE(image.pixel(static_cast<int>(lastMiddle), l.Plot.bottom() - 2),
             QColor::fromRgb(CodingTypeColour(data.Pictures.back().CodingType())).rgb());
    // Right of the last bar the plot holds no bar.
    const int pastLast = static_cast<int>(l.Plot.left() + (l.Last + 1) * l.BarWidth) + 2;
    if (pastLast < l.Plot.right()) QCOMPARE(image.pixel(pastLast, l.Plot.bottom() - 2), QColor(Qt::white).rgb());
    QVERIFY(l.FirstNumber.left() >= l.Plot.left());
  }

  void svgShowsWhatThePngShows() {
    std::mutex lock;
    const TOverviewData data = Pictures(
        400, [](std::size_t i) -> std::int64_t { return 8000 + 37 * static_cast<std::int64_t>(i % 12) * 500; });
    TOverviewGraph graph;
    graph.resize(900, 320);
    graph.SetData(&data, &lock);
    graph.DataGrew(6e6, true);
    graph.SetBarWidth(6, graph.PlotRect().center().x());  // zoomed in: the exports keep the view
    graph.SetFirstPicture(40);
    QImage png;
    QVERIFY(png.loadFromData(graph.ToPng(), "PNG"));
    QCOMPARE(png.size(), graph.ExportSize());
    QSvgRenderer svg(graph.ToSvg());
    QVERIFY(svg.isValid());
    QCOMPARE(svg.viewBox(), QRect(QPoint(0, 0), png.size()));
    QImage drawn(png.size(), QImage::Format_RGB32);
    drawn.fill(Qt::white);
    {
      QPainter painter(&drawn);
      svg.render(&painter, QRectF(QPointF(0, 0), png.size()));
    }
    // The plot's pixels agree (bars, group lines, rate and declared lines): one layout drawn
    // twice. Text may be drawn with other glyph rendering, so only the plot is compared.
    const QRect plot = graph.Layout(png.size()).Plot;
    auto close = [](QColor a, QColor b) {
      return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) <= 96;
    };
    // A pixel agrees when the other drawing has its colour there or a pixel away: the two back
    // ends may round a fractional edge (a bar's side or top, a dashed line) either way.
    int differing = 0;
    for (int y = plot.top() + 1; y < plot.bottom(); ++y)
      for (int x = plot.left() + 1; x < plot.right(); ++x) {
        bool agrees = false;
        for (int dy = -1; dy <= 1 && !agrees; ++dy)
          for (int dx = -1; dx <= 1 && !agrees; ++dx)
            agrees = close(png.pixelColor(x, y), drawn.pixelColor(x + dx, y + dy));
        differing += !agrees;
      }
    QVERIFY2(differing < plot.width() * plot.height() / 500, qPrintable(QString::number(differing)));
    // And the labels are there in both: the PNG's label boxes hold dark pixels.
    const TGraphLayout l = graph.Layout(png.size());
    for (const QRect& box : {l.SizeLabel, l.RateLabel, l.FirstNumber, l.LastNumber}) {
      int dark = 0;
      for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x) dark += qGray(drawn.pixel(x, y)) < 128;
      QVERIFY(dark > 0);
    }
  }
};

QTEST_MAIN(OverviewGraphLayoutTest)
#include "overview_graph_layout_test.moc"
