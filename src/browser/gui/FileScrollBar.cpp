#include "browser/gui/FileScrollBar.h"

#include <QWheelEvent>

namespace varlow {

TFileScrollBar::TFileScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {
  setFocusPolicy(Qt::NoFocus);
  setContextMenuPolicy(Qt::NoContextMenu);  // its "Scroll here" items would move the bar unseen
  // A thumb released outside a mouse release (the tests' drag) ends an action too.
  connect(this, &QScrollBar::sliderReleased, this, [this] {
    if (!FInMouseRelease) emit UserActionEnded();
  });
}

void TFileScrollBar::mouseReleaseEvent(QMouseEvent* event) {
  FInMouseRelease = true;
  QScrollBar::mouseReleaseEvent(event);
  FInMouseRelease = false;
  emit UserActionEnded();
}

void TFileScrollBar::wheelEvent(QWheelEvent* event) { event->accept(); }

}  // namespace varlow
