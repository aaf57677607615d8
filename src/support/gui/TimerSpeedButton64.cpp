#include "support/gui/TimerSpeedButton64.h"

#include <QBitmap>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QTimer>

namespace varlow {

namespace {

// Masks out every pixel of the bottom-left pixel's colour, as the glyph convention wants.
QPixmap WithTransparentKey(const QPixmap& glyph) {
  if (glyph.isNull() || glyph.hasAlphaChannel()) return glyph;
  QImage image = glyph.toImage();
  QPixmap keyed = glyph;
  keyed.setMask(QBitmap::fromImage(image.createMaskFromColor(image.pixel(0, image.height() - 1))));
  return keyed;
}

}  // namespace

TTimerSpeedButton64::TTimerSpeedButton64(QWidget* parent) : QAbstractButton(parent) {
  setFocusPolicy(Qt::NoFocus);  // a speed button never takes the focus from its edit
}

TTimerSpeedButton64::~TTimerSpeedButton64() = default;

void TTimerSpeedButton64::SetButtonMarks(TButtonMarks marks) {
  if (marks == FButtonMarks) return;
  FButtonMarks = marks;
  if (!(marks & AutoRepeat) && FRepeatTimer) FRepeatTimer->stop();
  update();
}

void TTimerSpeedButton64::SetGlyph(const QPixmap& glyph) {
  FGlyph = WithTransparentKey(glyph);
  update();
}

void TTimerSpeedButton64::SetNumGlyphs(int count) {
  FNumGlyphs = qBound(1, count, 4);
  update();
}

QSize TTimerSpeedButton64::sizeHint() const { return {15, 11}; }

void TTimerSpeedButton64::mousePressEvent(QMouseEvent* event) {
  QAbstractButton::mousePressEvent(event);
  emit MouseDown(event->button());
  if ((FButtonMarks & AutoRepeat) && isDown()) {
    if (!FRepeatTimer) {
      FRepeatTimer = new QTimer(this);
      connect(FRepeatTimer, &QTimer::timeout, this, &TTimerSpeedButton64::RepeatTimerTick);
    }
    FRepeatTimer->setInterval(kFirstRepeatDelayMs);
    FRepeatTimer->start();
  }
}

void TTimerSpeedButton64::mouseReleaseEvent(QMouseEvent* event) {
  QAbstractButton::mouseReleaseEvent(event);  // clicks when released over the button
  if (FRepeatTimer) FRepeatTimer->stop();
}

void TTimerSpeedButton64::RepeatTimerTick() {
  FRepeatTimer->setInterval(kRepeatIntervalMs);
  // Shown pressed means the mouse still holds the button and is over it.
  if (isDown()) emit clicked(isChecked());
}

QPixmap TTimerSpeedButton64::GlyphForState() const {
  if (FGlyph.isNull()) return {};
  const int width = FGlyph.width() / FNumGlyphs;
  int index = 0;
  if (!isEnabled())
    index = 1;
  else if (isDown())
    index = 2;
  if (index < FNumGlyphs) return FGlyph.copy(index * width, 0, width, FGlyph.height());
  QPixmap up = FGlyph.copy(0, 0, width, FGlyph.height());
  if (isEnabled()) return up;
  QStyleOption option;
  option.initFrom(this);
  return style()->generatedIconPixmap(QIcon::Disabled, up, &option);
}

void TTimerSpeedButton64::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOptionButton option;
  option.initFrom(this);
  option.state |= isDown() ? QStyle::State_Sunken : QStyle::State_Raised;
  style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &option, &painter, this);

  const int shift = isDown() ? 1 : 0;
  QPixmap glyph = GlyphForState();
  if (!glyph.isNull()) {
    QPoint at((width() - glyph.width()) / 2 + shift, (height() - glyph.height()) / 2 + shift);
    painter.drawPixmap(at, glyph);
  }
  if (FButtonMarks & FocusMark) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = rect().adjusted(3, 3, -3, -3).translated(shift, shift);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
  }
}

}  // namespace varlow
