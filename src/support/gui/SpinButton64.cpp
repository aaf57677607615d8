#include "support/gui/SpinButton64.h"

#include <QFrame>
#include <QKeyEvent>
#include <QMouseEvent>

#include "support/gui/EmbeddedResources.h"
#include "support/gui/TimerSpeedButton64.h"

namespace varlow {

namespace {

constexpr int kMinimumWidth = 10;
constexpr int kMiddleBarHeight = 4;

}  // namespace

TSpinButton64::TSpinButton64(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);  // not a tab stop unless asked
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAutoFillBackground(true);
  setMinimumWidth(kMinimumWidth);

  FUpButton = MakeButton();
  FDownButton = MakeButton();
  FUpButton->setObjectName(QStringLiteral("FUpButton"));
  FDownButton->setObjectName(QStringLiteral("FDownButton"));

  FMiddleBar = new QFrame(this);
  FMiddleBar->setObjectName(QStringLiteral("FMiddleBar"));
  FMiddleBar->setFrameStyle(QFrame::Panel | QFrame::Raised);
  FMiddleBar->setLineWidth(1);
  FMiddleBar->setCursor(Qt::SplitVCursor);
  FMiddleBar->installEventFilter(this);

  SetUpGlyph({});
  SetDownGlyph({});
  resize(20, 24);
  FFocusedButton = FUpButton;
}

TSpinButton64::~TSpinButton64() = default;

TTimerSpeedButton64* TSpinButton64::MakeButton() {
  auto* button = new TTimerSpeedButton64(this);
  button->SetButtonMarks(TTimerSpeedButton64::AutoRepeat);
  connect(button, &QAbstractButton::clicked, this, [this, button] { ButtonClicked(button); });
  connect(button, &TTimerSpeedButton64::MouseDown, this,
          [this, button](Qt::MouseButton which) { ButtonPressed(button, which); });
  return button;
}

QPixmap TSpinButton64::UpGlyph() const { return FUpButton->Glyph(); }
QPixmap TSpinButton64::DownGlyph() const { return FDownButton->Glyph(); }
int TSpinButton64::UpNumGlyphs() const { return FUpButton->NumGlyphs(); }
int TSpinButton64::DownNumGlyphs() const { return FDownButton->NumGlyphs(); }
void TSpinButton64::SetUpNumGlyphs(int count) { FUpButton->SetNumGlyphs(count); }
void TSpinButton64::SetDownNumGlyphs(int count) { FDownButton->SetNumGlyphs(count); }

void TSpinButton64::SetUpGlyph(const QPixmap& glyph) {
  if (!glyph.isNull()) {
    FUpButton->SetGlyph(glyph);
    return;
  }
  FUpButton->SetGlyph(LoadBitmapResource(QStringLiteral("SpinUp64")));
  FUpButton->SetNumGlyphs(1);
}

void TSpinButton64::SetDownGlyph(const QPixmap& glyph) {
  if (!glyph.isNull()) {
    FDownButton->SetGlyph(glyph);
    return;
  }
  FDownButton->SetGlyph(LoadBitmapResource(QStringLiteral("SpinDown64")));
  FDownButton->SetNumGlyphs(1);
}

// Upper arrow on top, the bar overlapping both arrows by one pixel, the lower arrow below.
void TSpinButton64::ArrangeParts(int width, int height) {
  if (!FUpButton || !FDownButton || !FMiddleBar) return;
  width = std::max(width, kMinimumWidth);
  const int upperHeight = height / 2 - 1;
  FUpButton->setGeometry(0, 0, width, upperHeight);
  FMiddleBar->setGeometry(0, upperHeight - 1, width, kMiddleBarHeight);
  FDownButton->setGeometry(0, upperHeight + 2, width, height - upperHeight - 2);
  FMiddleBar->raise();
}

void TSpinButton64::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ArrangeParts(width(), height());
}

void TSpinButton64::ButtonClicked(TTimerSpeedButton64* sender) {
  if (sender == FUpButton)
    emit OnUpClick();
  else if (sender == FDownButton)
    emit OnDownClick();
}

bool TSpinButton64::IsTabStop() const { return (focusPolicy() & Qt::TabFocus) != 0; }

void TSpinButton64::ButtonPressed(TTimerSpeedButton64* sender, Qt::MouseButton button) {
  if (button != Qt::LeftButton) return;
  MoveFocusMark(sender);
  QWidget* target = FFocusControl;
  if (target && (target->focusPolicy() & Qt::TabFocus) && target->isEnabled() && target->isVisible() &&
      !target->hasFocus()) {
    target->setFocus(Qt::MouseFocusReason);
  } else if (IsTabStop() && !hasFocus() && isEnabled() && isVisible()) {
    setFocus(Qt::MouseFocusReason);
  }
}

void TSpinButton64::MoveFocusMark(TTimerSpeedButton64* button) {
  if (!IsTabStop() || !isEnabled() || button == FFocusedButton) return;
  FFocusedButton->SetButtonMarks(FFocusedButton->ButtonMarks() & ~TTimerSpeedButton64::FocusMark);
  FFocusedButton = button;
  if (hasFocus()) FFocusedButton->SetButtonMarks(FFocusedButton->ButtonMarks() | TTimerSpeedButton64::FocusMark);
}

void TSpinButton64::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Space:
      ButtonClicked(FFocusedButton);
      break;
    case Qt::Key_Up:
      MoveFocusMark(FUpButton);
      ButtonClicked(FUpButton);
      break;
    case Qt::Key_Down:
      MoveFocusMark(FDownButton);
      ButtonClicked(FDownButton);
      break;
    default:
      QWidget::keyPressEvent(event);
  }
}

void TSpinButton64::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  FFocusedButton->SetButtonMarks(FFocusedButton->ButtonMarks() | TTimerSpeedButton64::FocusMark);
}

void TSpinButton64::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  FFocusedButton->SetButtonMarks(FFocusedButton->ButtonMarks() & ~TTimerSpeedButton64::FocusMark);
}

// The drag bar's mouse events: sunken while pressed; each event passed on in bar coordinates.
// Qt keeps sending moves to the bar while a button that was pressed on it is held.
bool TSpinButton64::eventFilter(QObject* watched, QEvent* event) {
  if (watched != FMiddleBar) return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      FMiddleBar->setFrameShadow(QFrame::Sunken);
      const QPoint at = mouse->position().toPoint();
      emit OnMiddleDown(mouse->button(), mouse->modifiers(), at.x(), at.y());
      return true;
    }
    case QEvent::MouseButtonRelease: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      const QPoint at = mouse->position().toPoint();
      emit OnMiddleUp(mouse->button(), mouse->modifiers(), at.x(), at.y());
      if (mouse->buttons() == Qt::NoButton) FMiddleBar->setFrameShadow(QFrame::Raised);
      return true;
    }
    case QEvent::MouseMove: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      const QPoint at = mouse->position().toPoint();
      emit OnMiddleMove(mouse->buttons(), mouse->modifiers(), at.x(), at.y());
      return true;
    }
    default:
      return QWidget::eventFilter(watched, event);
  }
}

}  // namespace varlow
