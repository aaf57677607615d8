#pragma once
#include <QTableView>

class QLabel;

namespace varlow {

// The stream list's view. It reports key and mouse input to the window around the view's own
// handling (key down before it, key up and mouse down after it, as the window's navigation
// expects) and the wheel instead of scrolling, counts its fully visible rows, and moves the
// selection to the first and last row on Home and End like a list does.
class TPackListView final : public QTableView {
  Q_OBJECT
 public:
  explicit TPackListView(QWidget* parent = nullptr);

  // Number of rows that fit wholly in the view, at least one.
  int VisibleRowCount() const;
  // The current row when it is selected, else the first selected row, or -1.
  int SelectedRow() const;
  // Selects `row` and makes it current.
  void SelectRow(int row);
  // A note shown across the list area (empty: none), for a window that holds no row.
  void SetNote(const QString& text);
  QString Note() const;

 signals:
  void KeyDown(QKeyEvent* event);
  void KeyUp(QKeyEvent* event);
  void MouseDown(QMouseEvent* event);
  void Resized();
  // The wheel turned by whole notches: three rows per notch, down (towards the file's end)
  // when positive. The view never scrolls by itself.
  void WheelRows(int rows);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;

 private:
  void PlaceNote();

  QLabel* FNote = nullptr;
  int FWheelAngle = 0;  // angle turned but not yet worth a notch (fine-grained wheels)
};

// Rows a turn of the wheel moves, from the angle collected so far (in eighths of a degree, as
// wheel events give it); `angle` keeps what is left for the next event.
int WheelRowsFromAngle(int& angle);

}  // namespace varlow
