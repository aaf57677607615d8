#pragma once
#include <QScrollBar>

namespace varlow {

// The list's scroll bar over the whole file. The window acts once per user action, when it has
// ended and the bar already holds its new position: after the mouse button is released (an
// arrow or trough click, held or not, or a drag of the thumb) or after the thumb was released
// by any other means. The wheel and the context menu are off: the position only changes through those actions.
class TFileScrollBar final : public QScrollBar {
  Q_OBJECT
 public:
  explicit TFileScrollBar(QWidget* parent = nullptr);

 signals:
  void UserActionEnded();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  bool FInMouseRelease = false;
};

}  // namespace varlow
