#pragma once
#include <QTableView>

namespace varlow {

// The stream list's view. It reports key and mouse input to the window around the view's own
// handling (key down before it, key up and mouse down after it, as the window's navigation
// expects), counts its fully visible rows, and moves the selection to the first and last row
// on Home and End like a list does.
class TPackListView final : public QTableView {
  Q_OBJECT
 public:
  explicit TPackListView(QWidget* parent = nullptr);

  // Number of rows that fit wholly in the view, at least one.
  int VisibleRowCount() const;
  // The selected row, or -1.
  int SelectedRow() const;
  // Selects `row` and makes it current.
  void SelectRow(int row);

 signals:
  void KeyDown(QKeyEvent* event);
  void KeyUp(QKeyEvent* event);
  void MouseDown(QMouseEvent* event);
  void Resized();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
};

}  // namespace varlow
