#include "browser/gui/FileScrollBar.h"

#include <QCursor>
#include <QToolTip>
#include <QWheelEvent>

#include "browser/PackIndex.h"
#include "browser/gui/PackListView.h"
#include "support/Format.h"

namespace varlow {

TFileScrollBar::TFileScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {
  setFocusPolicy(Qt::NoFocus);
  setContextMenuPolicy(Qt::NoContextMenu);
  // A thumb released outside a mouse release (the tests' drag) ends an action too.
  connect(this, &QScrollBar::sliderReleased, this, [this] {
    QToolTip::hideText();
    if (!FInMouseRelease) emit UserActionEnded();
  });
  connect(this, &QScrollBar::sliderMoved, this, &TFileScrollBar::ShowThumbOffset);
}

QString TFileScrollBar::OffsetText(int position) {
  const auto offset = static_cast<std::uint64_t>(std::int64_t{std::max(position, 0)} * kScrollUnit);
  return QStringLiteral("Offset $") + QString::fromStdString(HexUpper(offset, 8));
}

void TFileScrollBar::ShowThumbOffset(int position) {
  FThumbToolTip = OffsetText(position);
  // Beside the thumb, at the height of the pointer, so it follows the drag.
  const QPoint at(mapToGlobal(QPoint(width(), 0)).x(), QCursor::pos().y());
  QToolTip::showText(at, FThumbToolTip, this);
}

void TFileScrollBar::mouseReleaseEvent(QMouseEvent* event) {
  FInMouseRelease = true;
  QScrollBar::mouseReleaseEvent(event);
  FInMouseRelease = false;
  QToolTip::hideText();
  emit UserActionEnded();
}

void TFileScrollBar::wheelEvent(QWheelEvent* event) {
  event->accept();
  FWheelAngle += event->angleDelta().y();
  const int rows = WheelRowsFromAngle(FWheelAngle);
  if (rows != 0) emit WheelRows(rows);
}

}  // namespace varlow
