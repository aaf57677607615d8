#pragma once
#include <QScrollBar>

namespace varlow {

// The list's scroll bar over the whole file. The window acts once per user action, when it has
// ended and the bar already holds its new position: after the mouse button is released (an
// arrow or trough click, held or not, or a drag of the thumb) or after the thumb was released
// by any other means. While the thumb is dragged a tooltip shows the file offset it points at
// (position k stands for offset 100 * k). The wheel is reported in rows, for the window to move
// the list as the arrows do; the context menu is off (its items would move the bar unseen).
class TFileScrollBar final : public QScrollBar {
  Q_OBJECT
 public:
  explicit TFileScrollBar(QWidget* parent = nullptr);

  // The text of the thumb's tooltip at `position`: "Offset $0001A2F0".
  static QString OffsetText(int position);
  // The tooltip shown during the current (or last) drag; empty before any.
  const QString& ThumbToolTip() const { return FThumbToolTip; }

 signals:
  void UserActionEnded();
  // As TPackListView::WheelRows.
  void WheelRows(int rows);

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void ShowThumbOffset(int position);

  bool FInMouseRelease = false;
  int FWheelAngle = 0;
  QString FThumbToolTip;
};

}  // namespace varlow
