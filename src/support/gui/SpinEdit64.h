#pragma once
#include <QLineEdit>
#include <QtGlobal>

namespace varlow {

class TSpinButton64;

// A one-line edit for a signed 64-bit number with an up/down arrow pair and a drag bar at its
// right edge. The value lives in the text: Prefix + number + Suffix. Arrows, Up/Down keys and
// the wheel step by Increment (Ctrl + wheel by LargeIncrement); dragging the bar up or down
// changes the value by one per pixel. MinValue applies on every read; MaxValue, MinValue and
// Loop apply whenever the value is written. MinValue == MaxValue means no range. All arithmetic
// is exact: a step past the 64-bit limits stops at the limit (or wraps inside the range with
// Loop) instead of overflowing.
class TSpinEdit64 : public QLineEdit {
  Q_OBJECT
  Q_PROPERTY(bool EditorEnabled READ EditorEnabled WRITE SetEditorEnabled)
  Q_PROPERTY(qint64 LargeIncrement READ LargeIncrement WRITE SetLargeIncrement)
  Q_PROPERTY(qint64 Increment READ Increment WRITE SetIncrement)
  Q_PROPERTY(bool Loop READ Loop WRITE SetLoop)
  Q_PROPERTY(qint64 MaxValue READ MaxValue WRITE SetMaxValue)
  Q_PROPERTY(qint64 MinValue READ MinValue WRITE SetMinValue)
  Q_PROPERTY(QString Suffix READ Suffix WRITE SetSuffix)
  Q_PROPERTY(QString Prefix READ Prefix WRITE SetPrefix)
  Q_PROPERTY(qint64 Value READ Value WRITE SetValue NOTIFY OnChange USER true)
  Q_PROPERTY(bool AutoSelect READ AutoSelect WRITE SetAutoSelect)

 public:
  explicit TSpinEdit64(QWidget* parent = nullptr);
  ~TSpinEdit64() override;

  // The number in the text (after Prefix, before Suffix; decimal, or hexadecimal after "$",
  // "x" or "0x"), at least MinValue. Junk after the number is ignored; no number reads as 0.
  // A number beyond the 64-bit range reads as the nearest 64-bit limit.
  qint64 Value() const;
  // Writes Prefix + LimitValue(value) + Suffix into the box.
  void SetValue(qint64 value);
  // The value as it would be written: clamped to the limits, or wrapped with Loop.
  qint64 LimitValue(qint64 value) const;

  bool EditorEnabled() const { return FEditorEnabled; }
  void SetEditorEnabled(bool enabled) { FEditorEnabled = enabled; }
  qint64 LargeIncrement() const { return FLargeIncrement; }
  void SetLargeIncrement(qint64 step) { FLargeIncrement = step; }
  qint64 Increment() const { return FIncrement; }
  void SetIncrement(qint64 step) { FIncrement = step; }
  bool Loop() const { return FLoop; }
  void SetLoop(bool loop) { FLoop = loop; }
  qint64 MaxValue() const { return FMaxValue; }
  void SetMaxValue(qint64 value) { FMaxValue = value; }
  qint64 MinValue() const { return FMinValue; }
  void SetMinValue(qint64 value) { FMinValue = value; }
  QString Suffix() const { return FSuffix; }
  void SetSuffix(const QString& suffix);
  QString Prefix() const { return FPrefix; }
  void SetPrefix(const QString& prefix);
  // Select the whole text when the focus arrives by keyboard.
  bool AutoSelect() const { return FAutoSelect; }
  void SetAutoSelect(bool on) { FAutoSelect = on; }

  TSpinButton64* SpinButton() const { return FSpinButton; }

  // The least height that shows the font without clipping.
  int MinimumHeight() const;

  virtual bool IsAcceptedChar(QChar c) const;

 public slots:
  virtual void StepUp();
  virtual void StepDown();
  // The drag bar's events (wired to the spin button), in the bar's coordinates.
  virtual void MiddleMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, int x, int y);
  virtual void MiddleMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
  virtual void MiddleMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);

 signals:
  // The text changed (typing, steps, wheel, drag, SetValue); carries the value as read back.
  void OnChange(qint64 value);

 protected:
  // The system beep for refused input; a seam for tests.
  virtual void Beep();

  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // Paste, cut, drops and typing need both EditorEnabled and a writable box.
  bool CanEditText() const { return FEditorEnabled && !isReadOnly(); }
  // Adds a step of any size to the current value without overflow and writes the result.
  void AddToValue(qint64 step, qint64 times);
  void PlaceSpinButton();
  void FitEditRect();

  QString FSuffix;
  QString FPrefix;
  qint64 FMinValue = 0;
  qint64 FMaxValue = 0;
  qint64 FIncrement = 1;
  qint64 FLargeIncrement = 1;
  qint64 FDragY = 0;
  TSpinButton64* FSpinButton = nullptr;
  bool FEditorEnabled = true;
  bool FLoop = false;
  bool FAutoSelect = true;
  // The move that follows a cursor jump at the screen edge must not count as a drag.
  bool FSkipDragMove = false;
  // Wheel travel not yet worth a whole notch (smooth-scrolling devices send fractions).
  int FWheelRemainder = 0;
};

}  // namespace varlow
