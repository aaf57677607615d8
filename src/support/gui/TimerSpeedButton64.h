#pragma once
#include <QAbstractButton>
#include <QPixmap>

class QTimer;

namespace varlow {

// A speed button that shows a bitmap glyph, never takes the keyboard focus, and, with
// `AutoRepeat` among its marks, clicks again while it is held: first after 400 ms, then every
// 100 ms; releasing it over the button clicks once more.
class TTimerSpeedButton64 : public QAbstractButton {
  Q_OBJECT
 public:
  enum TButtonMark { FocusMark = 0x1, AutoRepeat = 0x2 };
  Q_DECLARE_FLAGS(TButtonMarks, TButtonMark)

  static constexpr int kFirstRepeatDelayMs = 400;
  static constexpr int kRepeatIntervalMs = 100;

  explicit TTimerSpeedButton64(QWidget* parent = nullptr);
  ~TTimerSpeedButton64() override;

  TButtonMarks ButtonMarks() const { return FButtonMarks; }
  void SetButtonMarks(TButtonMarks marks);

  // The glyph: NumGlyphs images side by side (up, disabled, clicked, down). The colour of the
  // bitmap's bottom-left pixel is transparent.
  QPixmap Glyph() const { return FGlyph; }
  void SetGlyph(const QPixmap& glyph);
  int NumGlyphs() const { return FNumGlyphs; }
  void SetNumGlyphs(int count);

  // The repeat timer, once created (for tests); null before the first press.
  const QTimer* RepeatTimer() const { return FRepeatTimer; }

  QSize sizeHint() const override;

 signals:
  // Mouse press of any button, before the repeat starts (the spin button moves the focus here).
  void MouseDown(Qt::MouseButton button);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void RepeatTimerTick();
  QPixmap GlyphForState() const;

  QTimer* FRepeatTimer = nullptr;  // owned as a Qt child; created on the first press
  TButtonMarks FButtonMarks;
  QPixmap FGlyph;
  int FNumGlyphs = 1;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TTimerSpeedButton64::TButtonMarks)

}  // namespace varlow
