#include "overview/gui/OverviewGraph.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "overview/GraphStyle.h"
#include "overview/GraphSvg.h"
#include "overview/PictureTiming.h"
#include "syntax/CodeTables.h"

namespace varlow {

namespace {

constexpr int kMarginLeft = 56;
constexpr int kMarginRight = 72;
constexpr int kMarginTop = 8;
constexpr int kMarginBottom = 18;
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

QRect TOverviewGraph::PlotRect() const {
  return QRect(kMarginLeft, kMarginTop, std::max(10, width() - kMarginLeft - kMarginRight),
               std::max(10, height() - kMarginTop - kMarginBottom));
}

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
  painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  const QRect plot(kMarginLeft, kMarginTop, std::max(10, size.width() - kMarginLeft - kMarginRight),
                   std::max(10, size.height() - kMarginTop - kMarginBottom));
  painter.setPen(Qt::black);
  painter.drawLine(plot.bottomLeft(), plot.bottomRight());
  if (!FData || FCount == 0) {
    painter.drawText(plot, Qt::AlignCenter, tr("No pictures"));
    return;
  }
  const double bw = FBarWidth * plot.width() / std::max(1, PlotRect().width());  // export keeps the view
  const double yScale = plot.height() / static_cast<double>(FMaxBytes);
  const double rateScale = plot.height() / FMaxRate;
  const std::size_t first = static_cast<std::size_t>(std::max(0.0, std::floor(FFirst)));
  const std::size_t last = std::min(FCount, static_cast<std::size_t>(std::ceil(FFirst + plot.width() / bw)) + 1);
  auto xOf = [&](double i) { return plot.left() + (i - FFirst) * bw; };

  WithLock(FLock, [&] {
    const auto& pictures = FData->Pictures;
    const std::size_t end = std::min(last, pictures.size());
    painter.save();
    painter.setClipRect(plot.adjusted(0, -kMarginTop, 0, 0));
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
      painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
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
  // Scales: the largest picture on the left, the highest rate on the right.
  painter.setPen(Qt::black);
  const QFontMetrics metrics(painter.font());
  painter.drawText(QRect(0, plot.top(), kMarginLeft - 4, metrics.height()), Qt::AlignRight,
                   QStringLiteral("%1 kB").arg(FMaxBytes / 1000.0, 0, 'f', 1));
  painter.drawText(QRect(plot.right() + 4, plot.top(), kMarginRight - 4, metrics.height()), Qt::AlignLeft,
                   QStringLiteral("%1 Mbit/s").arg(FMaxRate / 1e6, 0, 'f', 2));
  painter.drawText(QRect(plot.left(), plot.bottom() + 2, plot.width(), kMarginBottom), Qt::AlignLeft,
                   QString::number(first));
  painter.drawText(QRect(plot.left(), plot.bottom() + 2, plot.width(), kMarginBottom), Qt::AlignRight,
                   QString::number(last > 0 ? last - 1 : 0));
  // Legend under the middle of the plot.
  const std::pair<std::uint32_t, QString> keys[] = {{kColourI, QStringLiteral("I")},
                                                    {kColourP, QStringLiteral("P")},
                                                    {kColourB, QStringLiteral("B")},
                                                    {kColourRate, tr("bit rate, 1 s")},
                                                    {kColourDeclared, tr("declared")}};
  int legendWidth = 0;
  for (const auto& key : keys) legendWidth += 14 + metrics.horizontalAdvance(key.second) + 10;
  int x = plot.center().x() - legendWidth / 2;
  const int y = plot.bottom() + 2 + (kMarginBottom - 10) / 2;
  for (const auto& [colour, label] : keys) {
    painter.fillRect(QRect(x, y, 10, 10), Rgb(colour));
    painter.drawText(QRect(x + 14, plot.bottom() + 2, 200, kMarginBottom), Qt::AlignLeft, label);
    x += 14 + metrics.horizontalAdvance(label) + 10;
  }
}

std::string TOverviewGraph::ToSvg() const {
  TSvgGraphOptions options;
  options.First = static_cast<std::size_t>(std::max(0.0, std::floor(FFirst)));
  options.Count = static_cast<std::size_t>(std::ceil(PicturesInView()));
  options.Width = std::max(200, width());
  options.Height = std::max(100, height());
  options.DeclaredBitRate = FDeclared;
  if (!FData) return GraphToSvg(TOverviewData(), options);
  return WithLock(FLock, [&] {
    options.Count = std::min(options.Count, FCount - std::min(FCount, options.First));
    const std::vector<float> rates =
        SecondBitRates(*FData, options.First, std::min(options.First + options.Count, FSummary.Count()));
    options.Rates = &rates;
    return GraphToSvg(*FData, options);
  });
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
