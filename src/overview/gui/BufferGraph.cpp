#include "overview/gui/BufferGraph.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "overview/gui/GraphLabels.h"

namespace varlow {

namespace {

constexpr int kMarginLeft = 84;
constexpr int kMarginRight = 12;
constexpr int kLegendBox = 10;
constexpr QRgb kColourOccupancy = 0x1F77B4;
constexpr QRgb kColourBuffer = 0x7F7F7F;
constexpr QRgb kColourViolation = 0xD62728;
constexpr double kMinSpan = 8;  // pictures across the plot at the deepest zoom

QString Bits(double bits) { return QStringLiteral("%1 kbit").arg(bits / 1000.0, 0, 'f', bits < 1e7 ? 1 : 0); }

}  // namespace

TBufferGraph::TBufferGraph(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("BufferGraph"));
  setFocusPolicy(Qt::StrongFocus);
  setMinimumHeight(120);
}

void TBufferGraph::SetData(const TOverviewData* data, std::mutex* lock) {
  FData = data;
  FLock = lock;
  SetCurve({});
}

void TBufferGraph::SetCurve(TVbvCurve curve) {
  FCurve = std::move(curve);
  FFirst = 0;
  FSpan = static_cast<double>(FCurve.Points.size());
  FMarked = -1;
  update();
}

void TBufferGraph::MarkPicture(std::int64_t picture) {
  FMarked = picture;
  update();
}

void TBufferGraph::SetView(double first, double span) {
  const double count = static_cast<double>(FCurve.Points.size());
  FSpan = std::clamp(span, std::min(kMinSpan, count), std::max(count, 1.0));
  FFirst = std::clamp(first, 0.0, std::max(0.0, count - FSpan));
  update();
}

QRect TBufferGraph::PlotRect() const {
  const int line = fontMetrics().height();
  return QRect(kMarginLeft, line + 6, std::max(10, width() - kMarginLeft - kMarginRight),
               std::max(10, height() - 3 * line - 12));
}

double TBufferGraph::XOf(std::size_t i) const {
  const QRect plot = PlotRect();
  return FSpan > 0 ? plot.left() + (static_cast<double>(i) + 0.5 - FFirst) * plot.width() / FSpan : plot.left();
}

std::int64_t TBufferGraph::PictureAt(int x) const {
  const QRect plot = PlotRect();
  if (FCurve.Points.empty() || x < plot.left() || x > plot.right() || FSpan <= 0) return -1;
  const double i = FFirst + (x - plot.left()) * FSpan / plot.width();
  return std::clamp<std::int64_t>(static_cast<std::int64_t>(i), 0, static_cast<std::int64_t>(FCurve.Points.size()) - 1);
}

void TBufferGraph::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  const QRect plot = PlotRect();
  const int line = fontMetrics().height();
  const TVbvSummary& s = FCurve.Summary;
  const QRect title(plot.left(), 2, plot.width(), line);
  if (FCurve.Points.empty() || !s.Modelled) {
    painter.setPen(Qt::black);
    painter.drawText(rect(), Qt::AlignCenter,
                     s.Pictures == 0
                         ? tr("No pictures")
                         : tr("The buffer cannot be modelled: no bit rate, buffer size or frame rate declared"));
    return;
  }
  // The scale: from the lowest occupancy (or zero) to the largest buffer or occupancy.
  double top = static_cast<double>(s.HighestBits);
  for (const auto& size : FCurve.BufferSizes) top = std::max(top, static_cast<double>(size.second));
  const double bottom = std::min(0.0, static_cast<double>(s.LowestBits));
  if (top <= bottom) top = bottom + 1;
  const auto yOf = [&](double bits) { return plot.bottom() - (bits - bottom) * plot.height() / (top - bottom); };

  painter.setPen(QColor(0xD0, 0xD0, 0xD0));
  painter.drawRect(plot.adjusted(0, 0, -1, -1));
  if (bottom < 0) painter.drawLine(QPointF(plot.left(), yOf(0)), QPointF(plot.right(), yOf(0)));

  const std::size_t count = FCurve.Points.size();
  const std::size_t first = static_cast<std::size_t>(std::max(0.0, std::floor(FFirst)));
  const std::size_t end = std::min(count, static_cast<std::size_t>(std::ceil(FFirst + FSpan)) + 1);
  painter.save();
  painter.setClipRect(plot);
  // The buffer size, a step where a sequence header changes it.
  painter.setPen(QPen(QColor(kColourBuffer), 1, Qt::DashLine));
  for (std::size_t k = 0; k < FCurve.BufferSizes.size(); ++k) {
    const std::size_t from = FCurve.BufferSizes[k].first;
    const std::size_t to = k + 1 < FCurve.BufferSizes.size() ? FCurve.BufferSizes[k + 1].first : count;
    const double y = yOf(static_cast<double>(FCurve.BufferSizes[k].second));
    painter.drawLine(QPointF(XOf(from) - 0.5 * plot.width() / FSpan, y),
                     QPointF(XOf(to) - 0.5 * plot.width() / FSpan, y));
  }
  painter.setPen(QPen(QColor(kColourOccupancy), 1));
  const double perPixel = FSpan / plot.width();
  if (perPixel <= 0.5) {
    // Wide enough for the saw: a rise as bits arrive, a drop as the picture leaves.
    QPainterPath path;
    for (std::size_t i = first; i < end; ++i) {
      const double x = XOf(i);
      const TVbvPoint& p = FCurve.Points[i];
      if (i == first)
        path.moveTo(x, yOf(static_cast<double>(p.Before)));
      else
        path.lineTo(x, yOf(static_cast<double>(p.Before)));
      path.lineTo(x, yOf(static_cast<double>(p.After)));
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.drawPath(path);
    painter.setRenderHint(QPainter::Antialiasing, false);
  } else {
    // Each pixel column: from the lowest occupancy after to the highest before of its pictures.
    for (int x = plot.left(); x <= plot.right(); ++x) {
      const double from = FFirst + (x - plot.left()) * perPixel;
      const auto a = static_cast<std::size_t>(std::max(0.0, from));
      const auto b = std::min(count, static_cast<std::size_t>(std::max(from + perPixel, from + 1)));
      if (a >= b) continue;
      std::int64_t low = FCurve.Points[a].After, high = FCurve.Points[a].Before;
      for (std::size_t i = a; i < b; ++i) {
        low = std::min(low, FCurve.Points[i].After);
        high = std::max(high, FCurve.Points[i].Before);
      }
      painter.drawLine(QPointF(x, yOf(static_cast<double>(high))), QPointF(x, yOf(static_cast<double>(low))));
    }
  }
  // Violations: a red triangle over each picture that underflows or overflows.
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(kColourViolation));
  for (const TVbvEvent& e : s.Events) {
    if (e.Picture < first || e.Picture >= end) continue;
    const double x = XOf(e.Picture);
    const double y = e.What == TVbvEvent::Kind::Overflow ? plot.top() + 1 : plot.bottom() - 1;
    const double d = e.What == TVbvEvent::Kind::Overflow ? 6 : -6;
    const QPointF triangle[] = {{x, y + d}, {x - 4, y}, {x + 4, y}};
    painter.drawPolygon(triangle, 3);
  }
  if (FMarked >= 0 && static_cast<std::size_t>(FMarked) >= first && static_cast<std::size_t>(FMarked) < end) {
    painter.setPen(QPen(Qt::black, 1));
    const double x = XOf(static_cast<std::size_t>(FMarked));
    painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
  }
  painter.restore();

  painter.setPen(Qt::black);
  painter.drawText(QRect(2, plot.top() - line / 2, kMarginLeft - 6, line), Qt::AlignRight | Qt::AlignVCenter,
                   Bits(top));
  painter.drawText(QRect(2, plot.bottom() - line / 2, kMarginLeft - 6, line), Qt::AlignRight | Qt::AlignVCenter,
                   Bits(bottom));
  const QString mode = s.Mode == TVbvMode::Constant ? tr("constant rate") : tr("variable rate");
  painter.drawText(title, Qt::AlignLeft | Qt::AlignVCenter,
                   tr("%1 at %2, lowest %3 after picture %4, underflows %5, overflows %6")
                       .arg(mode, BitRateLabel(static_cast<double>(s.Rate)), Bits(static_cast<double>(s.LowestBits)))
                       .arg(s.LowestPicture)
                       .arg(s.Underflows)
                       .arg(s.Overflows));
  const QRect numbers(plot.left(), plot.bottom() + 3, plot.width(), line);
  painter.drawText(numbers, Qt::AlignLeft | Qt::AlignVCenter, QString::number(first));
  painter.drawText(numbers, Qt::AlignRight | Qt::AlignVCenter, QString::number(end > 0 ? end - 1 : 0));
  // Legend.
  const std::pair<QRgb, QString> keys[] = {{kColourOccupancy, tr("occupancy")},
                                           {kColourBuffer, tr("buffer size")},
                                           {kColourViolation, tr("underflow / overflow")}};
  int x = plot.left();
  const int legendTop = numbers.bottom() + 3;
  for (const auto& [colour, label] : keys) {
    painter.fillRect(QRect(x, legendTop + (line - kLegendBox) / 2, kLegendBox, kLegendBox), QColor(colour));
    const int w = fontMetrics().horizontalAdvance(label);
    painter.drawText(QRect(x + kLegendBox + 4, legendTop, w, line), Qt::AlignLeft | Qt::AlignVCenter, label);
    x += kLegendBox + 4 + w + 12;
  }
}

void TBufferGraph::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  const std::int64_t i = PictureAt(static_cast<int>(event->position().x()));
  if (i < 0 || !FData) return;
  std::int64_t offset = -1;
  {
    std::unique_lock<std::mutex> guard;
    if (FLock) guard = std::unique_lock(*FLock);
    if (static_cast<std::size_t>(i) < FData->Pictures.size())
      offset = FData->Pictures[static_cast<std::size_t>(i)].Offset();
  }
  if (offset < 0) return;
  MarkPicture(i);
  emit PictureClicked(offset);
}

void TBufferGraph::wheelEvent(QWheelEvent* event) {
  const QPoint delta = event->angleDelta();
  const bool scroll = (event->modifiers() & Qt::ShiftModifier) || std::abs(delta.x()) > std::abs(delta.y());
  const double steps = (std::abs(delta.x()) > std::abs(delta.y()) ? delta.x() : delta.y()) / 120.0;
  if (scroll) {
    SetView(FFirst - steps * FSpan / 10, FSpan);
  } else {
    const QRect plot = PlotRect();
    const double anchor = FFirst + (event->position().x() - plot.left()) * FSpan / plot.width();
    const double span = FSpan / std::pow(1.25, steps);
    SetView(anchor - (anchor - FFirst) * span / FSpan, span);
  }
  event->accept();
}

void TBufferGraph::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Home:
      SetView(0, static_cast<double>(FCurve.Points.size()));
      break;
    case Qt::Key_Left:
      SetView(FFirst - std::max(1.0, FSpan / 20), FSpan);
      break;
    case Qt::Key_Right:
      SetView(FFirst + std::max(1.0, FSpan / 20), FSpan);
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  event->accept();
}

QString TBufferGraph::ToolTipFor(std::size_t i) const {
  if (i >= FCurve.Points.size()) return {};
  const TVbvPoint& p = FCurve.Points[i];
  QString text = tr("Picture %1 decoded at %2 s\nBefore it leaves: %3 bits\nAfter: %4 bits\nBuffer: %5 bits")
                     .arg(i)
                     .arg(p.Time, 0, 'f', 4)
                     .arg(p.Before)
                     .arg(p.After)
                     .arg(FCurve.BufferBitsAt(i));
  for (const TVbvEvent& e : FCurve.Summary.Events)
    if (e.Picture == i) text += e.What == TVbvEvent::Kind::Underflow ? tr("\nUnderflow") : tr("\nOverflow");
  return text;
}

bool TBufferGraph::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const std::int64_t i = PictureAt(help->pos().x());
    if (i >= 0)
      QToolTip::showText(help->globalPos(), ToolTipFor(static_cast<std::size_t>(i)), this);
    else
      QToolTip::hideText();
    return true;
  }
  return QWidget::event(event);
}

}  // namespace varlow
