#pragma once
#include <QPixmap>
#include <QPointer>
#include <QWidget>

class QFrame;

namespace varlow {

class TTimerSpeedButton64;

// The arrow pair of the 64-bit spin edit: an upper and a lower auto-repeating arrow with a drag
// bar between them. The bar reports its mouse events so that its owner can turn vertical drags
// into value changes.
class TSpinButton64 : public QWidget {
  Q_OBJECT
 public:
  explicit TSpinButton64(QWidget* parent = nullptr);
  ~TSpinButton64() override;

  // A null glyph restores the built-in arrow ("SpinUp64" / "SpinDown64") with one image.
  QPixmap UpGlyph() const;
  void SetUpGlyph(const QPixmap& glyph);
  QPixmap DownGlyph() const;
  void SetDownGlyph(const QPixmap& glyph);
  int UpNumGlyphs() const;
  void SetUpNumGlyphs(int count);
  int DownNumGlyphs() const;
  void SetDownNumGlyphs(int count);

  // The control that takes the keyboard focus when an arrow is pressed (cleared when it goes).
  QWidget* FocusControl() const { return FFocusControl; }
  void SetFocusControl(QWidget* control) { FFocusControl = control; }

  TTimerSpeedButton64* FUpButton = nullptr;
  TTimerSpeedButton64* FDownButton = nullptr;
  QFrame* FMiddleBar = nullptr;
  TTimerSpeedButton64* FocusedButton() const { return FFocusedButton; }

 signals:
  void OnUpClick();
  void OnDownClick();
  // Drag-bar mouse events, in the bar's own coordinates.
  void OnMiddleMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, int x, int y);
  void OnMiddleDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
  void OnMiddleUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TTimerSpeedButton64* MakeButton();
  void ArrangeParts(int width, int height);
  void ButtonClicked(TTimerSpeedButton64* sender);
  void ButtonPressed(TTimerSpeedButton64* sender, Qt::MouseButton button);
  void MoveFocusMark(TTimerSpeedButton64* button);
  bool IsTabStop() const;

  TTimerSpeedButton64* FFocusedButton = nullptr;
  QPointer<QWidget> FFocusControl;
};

}  // namespace varlow
