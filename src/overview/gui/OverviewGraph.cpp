#include "overview/gui/OverviewGraph.h"

#include <QBuffer>
#include <QHelpEvent>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSvgGenerator>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "overview/GraphStyle.h"
#include "overview/PictureTiming.h"
#include "overview/gui/GraphLabels.h"
#include "syntax/CodeTables.h"

namespace varlow {

namespace {

// The margins round the plot hold the labels: at least these, wider when a label needs it.
constexpr int kMinMarginLeft = 40;
constexpr int kMinMarginRight = 40;
constexpr int kLabelGap = 4;  // between a label and the plot or the edge
constexpr int kLegendBox = 10;
constexpr int kMinExportWidth = 800;
constexpr int kMinExportHeight = 300;
constexpr double kMaxBarWidth = 48;
constexpr double kFitBarWidthCap = 12;  // a short stream is not blown up to the whole width

QColor Rgb(std::uint32_t rgb) { return QColor::fromRgb(rgb); }

// Runs body with the lock held when there is one.
template <class Body>
auto WithLock(std::mutex* lock, Body&& body) {
  if (!lock) return body();
  std::lock_guard guard(*lock);
  return body();
}

const char* StructureName(std::uint8_t structure) {
  switch (structure) {
    case kTopField: return "top field";
    case kBottomField: return "bottom field";
    case kFramePicture: return "frame";
    default: return "reserved";
  }
}

}  // namespace

TOverviewGraph::TOverviewGraph(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("OverviewGraph"));
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setMinimumHeight(120);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TOverviewGraph::SetData(const TOverviewData* data, std::mutex* lock) {
  FData = data;
  FLock = lock;
  FSummary.Reset();
  FCount = 0;
  FMaxBytes = 1;
  FMaxRate = 1;
  FDeclared = 0;
  FFirst = 0;
  FFitAll = true;
  FMarked = -1;
  update();
}

void TOverviewGraph::DataGrew(double declaredBitRate, bool final) {
  WithLock(FLock, [&] {
    if (!FData) return;
    FSummary.Update(*FData, final);
    FCount = FData->Pictures.size();
    // The last picture waits for its rate, not for its size.
    FMaxBytes = std::max<std::int64_t>({FSummary.MaxBytes(), FCount > 0 ? FData->Pictures.back().Size() : 0, 1});
  });
  FDeclared = declaredBitRate;
  FMaxRate = std::max({1.0, declaredBitRate, FSummary.MaxBitRate()});
  if (FFitAll) FBarWidth = MinBarWidth();
  ClampView();
  update();
  emit ViewChanged();
}

QFont TOverviewGraph::GraphFont() const {
  QFont graphFont = font();
  graphFont.setPixelSize(std::max(8, QFontInfo(font()).pixelSize()));
  return graphFont;
}

TGraphLayout TOverviewGraph::Layout(const QSize& size) const {
  TGraphLayout l;
  const QFontMetrics metrics(GraphFont());
  const int line = metrics.height();
  l.SizeText = ByteSizeLabel(static_cast<double>(FMaxBytes));
  l.RateText = BitRateLabel(FMaxRate);
  const int sizeWidth = metrics.horizontalAdvance(l.SizeText);
  const int rateWidth = metrics.horizontalAdvance(l.RateText);
  // Margins as wide as the scale labels, the top one for half a label over the plot, the
  // bottom one for the picture numbers and the legend.
  const int left = std::max(kMinMarginLeft, sizeWidth + 2 * kLabelGap);
  const int right = std::max(kMinMarginRight, rateWidth + 2 * kLabelGap);
  const int top = line / 2 + kLabelGap;
  const int bottom = 2 * line + 2 * kLabelGap;
  l.Plot = QRect(left, top, std::max(10, size.width() - left - right), std::max(10, size.height() - top - bottom));
  l.SizeLabel = QRect(left - kLabelGap - sizeWidth, l.Plot.top() - line / 2, sizeWidth, line);
  l.RateLabel = QRect(l.Plot.right() + 1 + kLabelGap, l.Plot.top() - line / 2, rateWidth, line);
  l.Legend = QRect(l.Plot.left(), l.Plot.bottom() + 1 + kLabelGap + line, l.Plot.width(), line);

  // The current view's pictures, stretched to this plot's width (an export keeps the view).
  const int viewWidth = size == this->size() ? l.Plot.width() : std::max(1, Layout(this->size()).Plot.width());
  l.BarWidth = FBarWidth * l.Plot.width() / viewWidth;
  if (FCount == 0) return l;
  l.First = std::min(FCount - 1, static_cast<std::size_t>(std::max(0.0, std::floor(FFirst))));
  const double end = std::ceil(FFirst + l.Plot.width() / l.BarWidth);
  l.Last = std::max(l.First, std::min(FCount, static_cast<std::size_t>(std::max(1.0, end))) - 1);

  // Each number under its own bar, kept inside the graph: the first starts at its bar, the
  // last is centred under its bar.
  const int numbersTop = l.Plot.bottom() + 1 + kLabelGap / 2;
  auto barX = [&](double i) { return l.Plot.left() + (i - FFirst) * l.BarWidth; };
  const QString firstText = QString::number(l.First);
  const int firstWidth = metrics.horizontalAdvance(firstText);
  const int firstX = std::clamp(static_cast<int>(std::lround(barX(static_cast<double>(l.First)))), l.Plot.left(),
                                std::max(l.Plot.left(), size.width() - kLabelGap - firstWidth));
  l.FirstNumber = QRect(firstX, numbersTop, firstWidth, line);
  if (l.Last > l.First) {
    const QString lastText = QString::number(l.Last);
    const int lastWidth = metrics.horizontalAdvance(lastText);
    const double centre = barX(static_cast<double>(l.Last) + 0.5);
    int x = static_cast<int>(std::lround(centre - lastWidth / 2.0));
    // Not past the graph's right edge, nor over the first number.
    x = std::min(x, size.width() - kLabelGap - lastWidth);
    x = std::max(x, l.FirstNumber.right() + 1 + kLabelGap);
    l.LastNumber = QRect(x, numbersTop, lastWidth, line);
  }
  return l;
}

QRect TOverviewGraph::PlotRect() const { return Layout(size()).Plot; }

double TOverviewGraph::MinBarWidth() const {
  if (FCount == 0) return kFitBarWidthCap;
  return std::min(kFitBarWidthCap, static_cast<double>(PlotRect().width()) / static_cast<double>(FCount));
}

double TOverviewGraph::PicturesInView() const { return PlotRect().width() / FBarWidth; }

void TOverviewGraph::ClampView() {
  FBarWidth = std::clamp(FBarWidth, MinBarWidth(), kMaxBarWidth);
  const double last = std::max(0.0, static_cast<double>(FCount) - PicturesInView());
  FFirst = std::clamp(FFirst, 0.0, last);
}

void TOverviewGraph::SetBarWidth(double width, double anchorX) {
  // Keep the picture under the anchor where it is.
  const double anchorPicture = FFirst + (anchorX - PlotRect().left()) / FBarWidth;
  FBarWidth = width;
  FFitAll = width <= MinBarWidth();
  ClampView();
  FFirst = anchorPicture - (anchorX - PlotRect().left()) / FBarWidth;
  ClampView();
  update();
  emit ViewChanged();
}

void TOverviewGraph::SetFirstPicture(double first) {
  FFirst = first;
  ClampView();
  update();
  emit ViewChanged();
}

double TOverviewGraph::XOf(std::size_t i) const {
  return PlotRect().left() + (static_cast<double>(i) - FFirst) * FBarWidth;
}

std::int64_t TOverviewGraph::PictureAt(int x) const {
  const QRect plot = PlotRect();
  if (x < plot.left() || x > plot.right() || FCount == 0) return -1;
  const double at = FFirst + (x - plot.left()) / FBarWidth;
  if (FBarWidth < 1) {
    // A column stands for several pictures: take its largest, the one drawn.
    const auto from = static_cast<std::size_t>(std::max(0.0, std::floor(FFirst + (x - plot.left()) / FBarWidth)));
    const auto to = std::min(FCount, static_cast<std::size_t>(std::ceil(FFirst + (x + 1 - plot.left()) / FBarWidth)));
    if (from >= to) return -1;
    return WithLock(FLock, [&]() -> std::int64_t {
      if (!FData || to > FData->Pictures.size()) return -1;
      return FSummary.Peak(*FData, from, to).Picture;
    });
  }
  const auto i = static_cast<std::int64_t>(std::floor(at));
  return i >= 0 && static_cast<std::size_t>(i) < FCount ? i : -1;
}

void TOverviewGraph::MarkOffset(std::int64_t offset) {
  if (offset < 0 || !FData) {
    FMarked = -1;
    update();
    return;
  }
  FMarked = WithLock(FLock, [&]() -> std::int64_t {
    const auto& pictures = FData->Pictures;
    const std::size_t n = std::min(FCount, pictures.size());
    // The last picture that begins at or before the offset.
    std::size_t lo = 0, hi = n;
    while (lo < hi) {
      const std::size_t mid = lo + (hi - lo) / 2;
      if (pictures[mid].Offset() <= offset) lo = mid + 1;
      else hi = mid;
    }
    return lo == 0 ? -1 : static_cast<std::int64_t>(lo - 1);
  });
  if (FMarked >= 0) {
    const double i = static_cast<double>(FMarked);
    if (i < FFirst || i + 1 > FFirst + PicturesInView()) SetFirstPicture(i - PicturesInView() / 2);
  }
  update();
}

void TOverviewGraph::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  Render(painter, size());
  if (hasFocus()) {
    painter.setPen(QPen(palette().highlight().color(), 1, Qt::DotLine));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  }
}

void TOverviewGraph::Render(QPainter& painter, const QSize& size) const {
  const TGraphLayout l = Layout(size);
  const QRect& plot = l.Plot;
  painter.setFont(GraphFont());
  painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  painter.setPen(Qt::black);
  painter.drawLine(plot.bottomLeft(), plot.bottomRight());
  if (!FData || FCount == 0) {
    painter.drawText(plot, Qt::AlignCenter, tr("No pictures"));
    return;
  }
  const double bw = l.BarWidth;
  const double yScale = plot.height() / static_cast<double>(FMaxBytes);
  const double rateScale = plot.height() / FMaxRate;
  const std::size_t first = l.First;
  const std::size_t last = l.Last + 1;
  auto xOf = [&](double i) { return plot.left() + (i - FFirst) * bw; };

  WithLock(FLock, [&] {
    const auto& pictures = FData->Pictures;
    const std::size_t end = std::min(last, pictures.size());
    painter.save();
    painter.setClipRect(plot.adjusted(0, -plot.top(), 0, 0));
    // Bars: one per picture, or the largest picture of each pixel column. The rate line goes
    // through the middle of each bar, or of each column with the highest rate in it.
    QPainterPath path;
    auto rateAt = [&](double x, double rate) {
      const QPointF p(x, plot.bottom() - rate * rateScale);
      if (path.elementCount() == 0) path.moveTo(p);
      else path.lineTo(p);
    };
    if (bw >= 1) {
      const double gap = bw >= 4 ? 1 : 0;
      for (std::size_t i = first; i < end; ++i) {
        const double h = pictures[i].Size() * yScale;
        painter.fillRect(QRectF(xOf(static_cast<double>(i)), plot.bottom() + 1 - h, bw - gap, h),
                         Rgb(CodingTypeColour(pictures[i].CodingType())));
      }
      const std::size_t rated = std::min(end, FSummary.Count());
      if (first < rated) {
        const std::vector<float> rates = SecondBitRates(*FData, first, rated);
        for (std::size_t i = first; i < rated; ++i) rateAt(xOf(static_cast<double>(i) + 0.5), rates[i - first]);
      }
    } else {
      for (int c = 0; c < plot.width(); ++c) {
        const auto from = static_cast<std::size_t>(std::max(0.0, FFirst + c / bw));
        const auto to = std::min(end, static_cast<std::size_t>(FFirst + (c + 1) / bw));
        if (from >= to) continue;
        const TPictureSummary::TPeak peak = FSummary.Peak(*FData, from, to);
        const double h = static_cast<double>(peak.Bytes) * yScale;
        painter.fillRect(QRectF(plot.left() + c, plot.bottom() + 1 - h, 1, h), Rgb(CodingTypeColour(peak.CodingType)));
        if (from < FSummary.Count()) rateAt(plot.left() + c + 0.5, peak.BitRate);
      }
    }
    // Group starts over the bars, in the gap before each group's first bar, unless so dense that
    // they would hide the bars.
    const auto& groups = FData->Groups;
    auto g = std::partition_point(groups.begin(), groups.end(),
                                  [first](const TGroupRecord& r) { return r.FirstPicture < first; });
    QPen groupPen(Qt::black, 1, Qt::DashLine);
    painter.setPen(groupPen);
    double lastX = -1e9;
    for (; g != groups.end() && g->FirstPicture < end; ++g) {
      const double x = xOf(g->FirstPicture) - (bw >= 4 ? 0.5 : 0);
      if (x - lastX < 4) continue;
      // Dashes begin at the axis, wherever the plot's top lies.
      painter.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.top()));
      lastX = x;
    }
    painter.setPen(QPen(Rgb(kColourRate), 1.5));
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.drawPath(path);
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (FMarked >= 0 && static_cast<std::size_t>(FMarked) >= first && static_cast<std::size_t>(FMarked) < end) {
      const double x = xOf(static_cast<double>(FMarked));
      painter.setPen(QPen(Qt::black, 2));
      painter.setBrush(Qt::NoBrush);
      painter.drawRect(QRectF(x - 1, plot.top(), std::max(bw, 1.0) + 2, plot.height()));
    }
    painter.restore();
  });
  if (FDeclared > 0) {
    const double y = plot.bottom() - FDeclared * rateScale;
    painter.setPen(QPen(Rgb(kColourDeclared), 1, Qt::DashLine));
    painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
  }
  // Scales: the largest picture on the left, the highest rate on the right; the numbers of the
  // first and last picture in view under their bars.
  painter.setPen(Qt::black);
  painter.drawText(l.SizeLabel, Qt::AlignRight | Qt::AlignVCenter | Qt::TextDontClip, l.SizeText);
  painter.drawText(l.RateLabel, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, l.RateText);
  painter.drawText(l.FirstNumber, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, QString::number(l.First));
  if (!l.LastNumber.isEmpty())
    painter.drawText(l.LastNumber, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, QString::number(l.Last));
  // Legend on its own row, under the middle of the plot.
  const QFontMetrics metrics(painter.font());
  const std::pair<std::uint32_t, QString> keys[] = {{kColourI, QStringLiteral("I")},
                                                    {kColourP, QStringLiteral("P")},
                                                    {kColourB, QStringLiteral("B")},
                                                    {kColourRate, tr("bit rate, 1 s")},
                                                    {kColourDeclared, tr("declared")}};
  int legendWidth = 0;
  for (const auto& key : keys) legendWidth += kLegendBox + 4 + metrics.horizontalAdvance(key.second) + 10;
  int x = std::max(kLabelGap, l.Legend.center().x() - legendWidth / 2);
  const int boxY = l.Legend.top() + (l.Legend.height() - kLegendBox) / 2;
  for (const auto& [colour, label] : keys) {
    painter.fillRect(QRect(x, boxY, kLegendBox, kLegendBox), Rgb(colour));
    const int width = metrics.horizontalAdvance(label);
    painter.drawText(QRect(x + kLegendBox + 4, l.Legend.top(), width, l.Legend.height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, label);
    x += kLegendBox + 4 + width + 10;
  }
}

QSize TOverviewGraph::ExportSize() const {
  return QSize(std::max(kMinExportWidth, width()), std::max(kMinExportHeight, height()));
}

QByteArray TOverviewGraph::ToPng() const {
  const QSize size = ExportSize();
  QImage image(size, QImage::Format_RGB32);
  {
    QPainter painter(&image);
    Render(painter, size);
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) return {};
  return bytes;
}

QByteArray TOverviewGraph::ToSvg() const {
  const QSize size = ExportSize();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QSvgGenerator generator;
  generator.setOutputDevice(&buffer);
  generator.setSize(size);
  generator.setViewBox(QRect(QPoint(0, 0), size));
  // 96 dots per inch, the CSS pixel: a viewer shows the document at the PNG's pixel size.
  generator.setResolution(96);
  generator.setTitle(tr("Picture sizes"));
  {
    QPainter painter;
    if (!painter.begin(&generator)) return {};
    Render(painter, size);
  }
  return bytes;
}

QString TOverviewGraph::ToolTipFor(std::size_t i) const {
  return WithLock(FLock, [&]() -> QString {
    if (!FData || i >= FData->Pictures.size()) return {};
    const TPictureRecord& p = FData->Pictures[i];
    const std::uint32_t group = FData->GroupOf(i);
    QString text = tr("Picture %1 (%2)\nOffset $%3 (%4)\nSize %5 bytes\ntemporal_reference %6\nGroup %7\n%8")
                       .arg(i)
                       .arg(QString::fromLatin1(CodingTypeName(p.CodingType())))
                       .arg(QString::number(p.Offset(), 16).toUpper().rightJustified(8, QLatin1Char('0')))
                       .arg(p.Offset())
                       .arg(p.Size())
                       .arg(p.TemporalReference())
                       .arg(group == kNoIndex ? QStringLiteral("-") : QString::number(group))
                       .arg(QString::fromLatin1(StructureName(p.PictureStructure())));
    if (p.Has(TPictureRecord::kRepeatFirstField)) text += tr(", repeat_first_field");
    if (p.Has(TPictureRecord::kTopFieldFirst)) text += tr(", top_field_first");
    if (p.Has(TPictureRecord::kProgressiveFrame)) text += tr(", progressive_frame");
    if (p.Has(TPictureRecord::kDamaged)) text += tr("\ndamaged header");
    if (i < FSummary.Count())
      text += tr("\nBit rate over 1 s: %1 bit/s").arg(static_cast<qint64>(SecondBitRates(*FData, i, i + 1).front()));
    return text;
  });
}

bool TOverviewGraph::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const std::int64_t i = PictureAt(help->pos().x());
    if (i >= 0) QToolTip::showText(help->globalPos(), ToolTipFor(static_cast<std::size_t>(i)), this);
    else QToolTip::hideText();
    return true;
  }
  return QWidget::event(event);
}

void TOverviewGraph::wheelEvent(QWheelEvent* event) {
  const QPoint delta = event->angleDelta();
  const bool scroll = (event->modifiers() & Qt::ShiftModifier) || std::abs(delta.x()) > std::abs(delta.y());
  const int steps = (std::abs(delta.x()) > std::abs(delta.y()) ? delta.x() : delta.y());
  if (scroll) {
    SetFirstPicture(FFirst - steps / 120.0 * PicturesInView() / 10);
  } else {
    const double factor = std::pow(1.25, steps / 120.0);
    SetBarWidth(FBarWidth * factor, event->position().x());
  }
  event->accept();
}

void TOverviewGraph::keyPressEvent(QKeyEvent* event) {
  const double centre = PlotRect().center().x();
  switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: SetBarWidth(FBarWidth * 1.5, centre); break;
    case Qt::Key_Minus: SetBarWidth(FBarWidth / 1.5, centre); break;
    case Qt::Key_Left: SetFirstPicture(FFirst - std::max(1.0, 1 / FBarWidth)); break;
    case Qt::Key_Right: SetFirstPicture(FFirst + std::max(1.0, 1 / FBarWidth)); break;
    case Qt::Key_PageUp: SetFirstPicture(FFirst - PicturesInView()); break;
    case Qt::Key_PageDown: SetFirstPicture(FFirst + PicturesInView()); break;
    case Qt::Key_Home: SetFirstPicture(0); break;
    case Qt::Key_End: SetFirstPicture(static_cast<double>(FCount)); break;
    default: QWidget::keyPressEvent(event); return;
  }
  event->accept();
}

void TOverviewGraph::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  const std::int64_t i = PictureAt(static_cast<int>(event->position().x()));
  if (i < 0) return;
  const std::int64_t offset = WithLock(FLock, [&]() -> std::int64_t {
    return FData && static_cast<std::size_t>(i) < FData->Pictures.size() ? FData->Pictures[static_cast<std::size_t>(i)].Offset() : -1;
  });
  if (offset < 0) return;
  FMarked = i;
  update();
  emit PictureClicked(offset);
}

void TOverviewGraph::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (FFitAll) FBarWidth = MinBarWidth();
  ClampView();
  emit ViewChanged();
}

}  // namespace varlow
