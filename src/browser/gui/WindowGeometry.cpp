#include "browser/gui/WindowGeometry.h"

#include <algorithm>
#include <cmath>

namespace varlow {

namespace {

// [start, start + length) moved into [from, from + room) as far as it can go; the length is
// at most room.
int Into(int start, int length, int from, int room) { return std::clamp(start, from, from + room - length); }

}  // namespace

QRect FitWindowGeometry(const QRect& available, const QRect& saved) {
  if (!available.isValid()) return saved;
  if (!saved.isValid()) {
    const QSize size(static_cast<int>(std::lround(available.width() * kFirstWindowShare)),
                     static_cast<int>(std::lround(available.height() * kFirstWindowShare)));
    QRect centred(QPoint(0, 0), size);
    centred.moveCenter(available.center());
    return centred;
  }
  const QSize size(std::min(saved.width(), available.width()), std::min(saved.height(), available.height()));
  return QRect(Into(saved.x(), size.width(), available.x(), available.width()),
               Into(saved.y(), size.height(), available.y(), available.height()), size.width(), size.height());
}

QRect ScreenAreaFor(const QList<QRect>& areas, const QRect& saved) {
  if (areas.isEmpty()) return {};
  QRect best = areas.first();
  long long bestOverlap = 0;
  for (const QRect& area : areas) {
    const QRect common = area.intersected(saved);
    const long long overlap = common.isValid() ? static_cast<long long>(common.width()) * common.height() : 0;
    if (overlap > bestOverlap) {
      best = area;
      bestOverlap = overlap;
    }
  }
  return best;
}

}  // namespace varlow
