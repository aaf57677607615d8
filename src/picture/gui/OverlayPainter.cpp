#include "picture/gui/OverlayPainter.h"

#include <QPainterPath>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace varlow {

bool ParseOverlayLayers(const QString& text, TOverlayLayers& layers) {
  for (const QString& name : text.split(',', Qt::SkipEmptyParts)) {
    const QString n = name.trimmed();
    if (n == "types") layers.Types = true;
    else if (n == "quant") layers.Quant = true;
    else if (n == "mv") layers.Vectors = true;
    else if (n == "slices") layers.Slices = true;
    else return false;
  }
  return true;
}

QString OverlayLayersText(const TOverlayLayers& layers) {
  QStringList names;
  if (layers.Types) names << QStringLiteral("types");
  if (layers.Quant) names << QStringLiteral("quant");
  if (layers.Vectors) names << QStringLiteral("mv");
  if (layers.Slices) names << QStringLiteral("slices");
  return names.join(QLatin1Char(','));
}

QColor KindColour(TMacroblockKind kind) {
  switch (kind) {
    case TMacroblockKind::Intra: return QColor(230, 40, 40);
    case TMacroblockKind::Forward: return QColor(40, 110, 240);
    case TMacroblockKind::Backward: return QColor(40, 200, 70);
    case TMacroblockKind::Bidirectional: return QColor(190, 60, 220);
    case TMacroblockKind::Skipped: return QColor(150, 150, 150);
    case TMacroblockKind::NoMotion: return QColor(240, 210, 40);
  }
  return Qt::black;
}

QString KindName(TMacroblockKind kind) {
  switch (kind) {
    case TMacroblockKind::Intra: return QStringLiteral("intra");
    case TMacroblockKind::Forward: return QStringLiteral("forward");
    case TMacroblockKind::Backward: return QStringLiteral("backward");
    case TMacroblockKind::Bidirectional: return QStringLiteral("both");
    case TMacroblockKind::Skipped: return QStringLiteral("skipped");
    case TMacroblockKind::NoMotion: return QStringLiteral("no MC");
  }
  return {};
}

namespace {

constexpr QColor kForwardArrow{255, 255, 255};
constexpr QColor kBackwardArrow{255, 150, 30};
constexpr QColor kSliceLine{0, 255, 255};
constexpr QColor kDamage{255, 0, 0};

double RowHeight(const TMacroblockMap& map) { return map.PictureStructure == 3 ? 16.0 : 32.0; }

QColor QuantColour(std::int32_t q) {
  // Fine quantisers dark blue, coarse ones bright red.
  const double t = std::clamp((q - 1) / 30.0, 0.0, 1.0);
  return QColor::fromHsvF(0.66 * (1.0 - t), 0.9, 0.9);
}

void Arrow(QPainter& painter, QPointF from, QPointF to, const QColor& colour) {
  painter.setPen(QPen(colour, 1.2));
  painter.drawLine(from, to);
  const QPointF d = to - from;
  const double length = std::hypot(d.x(), d.y());
  if (length < 2.0) {
    painter.drawPoint(from);
    return;
  }
  const QPointF u = d / length;
  const QPointF n(-u.y(), u.x());
  const double head = std::min(4.0, length / 2);
  painter.drawLine(to, to - u * head + n * head * 0.5);
  painter.drawLine(to, to - u * head - n * head * 0.5);
}

} // namespace

QRectF MacroblockRect(const TMacroblockMap& map, const TMacroblockInfo& mb) {
  return QRectF(mb.Column * 16.0, mb.Row * RowHeight(map), 16.0, RowHeight(map));
}

void PaintOverlay(QPainter& painter, const TMacroblockMap& map, const TOverlayLayers& layers,
                  const TOverlayHighlight& highlight) {
  painter.save();
  const std::int32_t w = map.MacroblocksPerRow, h = map.MacroblockRows;
  std::vector<std::int32_t> sliceAt(static_cast<std::size_t>(std::max(0, w * h)), -1);
  for (const TMacroblockInfo& mb : map.Macroblocks) {
    if (mb.Address >= 0 && mb.Address < w * h) sliceAt[static_cast<std::size_t>(mb.Address)] = mb.SliceIndex;
  }
  if (layers.Types || layers.Quant) {
    for (const TMacroblockInfo& mb : map.Macroblocks) {
      QColor c = layers.Types ? KindColour(mb.Kind) : QuantColour(mb.QuantiserScaleCode);
      c.setAlpha(layers.Types ? 140 : 120);
      painter.fillRect(MacroblockRect(map, mb), c);
    }
  }
  if (layers.Quant) {
    QFont font = painter.font();
    font.setPixelSize(7);
    painter.setFont(font);
    painter.setPen(Qt::white);
    for (const TMacroblockInfo& mb : map.Macroblocks) {
      painter.drawText(MacroblockRect(map, mb), Qt::AlignCenter, QString::number(mb.QuantiserScaleCode));
    }
  }
  if (layers.Vectors) {
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (const TMacroblockInfo& mb : map.Macroblocks) {
      const QPointF centre = MacroblockRect(map, mb).center();
      for (std::int32_t s = 0; s < 2; ++s) {
        for (std::int32_t r = 0; r < mb.VectorCount[s]; ++r) {
          const TMotionVector& v = mb.Vectors[r][s];
          // Half samples to pixels; a second vector (field or 16x8 prediction) starts lower.
          const QPointF from = centre + QPointF(0, mb.VectorCount[s] == 2 ? (r == 0 ? -3 : 3) : 0);
          Arrow(painter, from, from + QPointF(v.X / 2.0, v.Y / 2.0), s == 0 ? kForwardArrow : kBackwardArrow);
        }
      }
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
  }
  if (layers.Slices) {
    painter.setPen(QPen(kSliceLine, 1));
    const double rowH = RowHeight(map);
    for (std::int32_t a = 0; a < w * h; ++a) {
      const std::int32_t s = sliceAt[static_cast<std::size_t>(a)];
      const std::int32_t x = a % w, y = a / w;
      if (x > 0 && sliceAt[static_cast<std::size_t>(a - 1)] != s) painter.drawLine(QPointF(x * 16.0, y * rowH), QPointF(x * 16.0, (y + 1) * rowH));
      if (x == 0 || y == 0 || sliceAt[static_cast<std::size_t>(a - w)] != s)
        painter.drawLine(QPointF(x * 16.0, y * rowH), QPointF((x + 1) * 16.0, y * rowH));
    }
  }
  // Damage: what the analyser could not reach, and slices it found broken.
  painter.setPen(QPen(kDamage, 1));
  const QBrush hatch(kDamage, Qt::BDiagPattern);
  for (std::int32_t a = 0; a < w * h; ++a) {
    if (sliceAt[static_cast<std::size_t>(a)] < 0) {
      painter.fillRect(QRectF((a % w) * 16.0, (a / w) * RowHeight(map), 16.0, RowHeight(map)), hatch);
    }
  }
  for (const TSliceInfo& slice : map.Slices) {
    if (!slice.Damaged) continue;
    for (const TMacroblockInfo& mb : map.Macroblocks) {
      if (mb.SliceIndex == slice.Index) painter.drawRect(MacroblockRect(map, mb).adjusted(0.5, 0.5, -0.5, -0.5));
    }
  }
  if (highlight.SliceIndex >= 0 || highlight.Address >= 0) {
    painter.setPen(QPen(QColor(255, 255, 0), 2));
    painter.setBrush(Qt::NoBrush);
    for (const TMacroblockInfo& mb : map.Macroblocks) {
      const bool hit = highlight.Address >= 0 ? mb.Address == highlight.Address : mb.SliceIndex == highlight.SliceIndex;
      if (hit) painter.drawRect(MacroblockRect(map, mb));
    }
  }
  painter.restore();
}

QImage PaintLegend(const TOverlayLayers& layers, int width) {
  struct Entry {
    QColor colour;
    QString name;
  };
  std::vector<Entry> entries;
  if (layers.Types) {
    for (auto kind : {TMacroblockKind::Intra, TMacroblockKind::Forward, TMacroblockKind::Backward,
                      TMacroblockKind::Bidirectional, TMacroblockKind::Skipped, TMacroblockKind::NoMotion})
      entries.push_back({KindColour(kind), KindName(kind)});
  }
  if (layers.Quant) {
    entries.push_back({QuantColour(1), QStringLiteral("quant 1")});
    entries.push_back({QuantColour(16), QStringLiteral("quant 16")});
    entries.push_back({QuantColour(31), QStringLiteral("quant 31")});
  }
  if (layers.Vectors) {
    entries.push_back({kForwardArrow, QStringLiteral("forward vector")});
    entries.push_back({kBackwardArrow, QStringLiteral("backward vector")});
  }
  if (layers.Slices) entries.push_back({kSliceLine, QStringLiteral("slice boundary")});
  entries.push_back({kDamage, QStringLiteral("damaged / not reached")});

  constexpr int kEntryWidth = 150, kRow = 18;
  const int perRow = std::max(1, width / kEntryWidth);
  const int rows = (static_cast<int>(entries.size()) + perRow - 1) / perRow;
  QImage legend(std::max(width, 1), rows * kRow + 4, QImage::Format_RGB888);
  legend.fill(QColor(32, 32, 32));
  QPainter painter(&legend);
  QFont font = painter.font();
  font.setPixelSize(11);
  painter.setFont(font);
  for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
    const int x = 4 + (i % perRow) * kEntryWidth, y = 3 + (i / perRow) * kRow;
    painter.fillRect(QRect(x, y + 2, 12, 12), entries[static_cast<std::size_t>(i)].colour);
    painter.setPen(Qt::white);
    painter.drawText(QRect(x + 16, y, kEntryWidth - 18, kRow), Qt::AlignVCenter | Qt::AlignLeft,
                     entries[static_cast<std::size_t>(i)].name);
  }
  return legend;
}

QImage ComposePicture(const TDecodedPicture& picture, const TMacroblockMap* map, const TOverlayLayers& layers,
                      TFieldView view, const TOverlayHighlight& highlight) {
  QImage image = PictureToImage(picture, view);
  if (map == nullptr || (!layers.Any() && highlight.SliceIndex < 0 && highlight.Address < 0)) return image;
  {
    QPainter painter(&image);
    if (view != TFieldView::Frame) painter.scale(1.0, 0.5);
    PaintOverlay(painter, *map, layers, highlight);
  }
  if (!layers.Any()) return image;
  // A small picture still gets a legend wide enough for its names.
  const QImage legend = PaintLegend(layers, std::max(image.width(), 180));
  QImage out(legend.width(), image.height() + legend.height(), QImage::Format_RGB888);
  out.fill(QColor(32, 32, 32));
  QPainter painter(&out);
  painter.drawImage(0, 0, image);
  painter.drawImage(0, image.height(), legend);
  return out;
}

} // namespace varlow
