#include "support/gui/SpinEdit64.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QWheelEvent>
#include <limits>

#include "support/gui/SpinButton64.h"

namespace varlow {

namespace {

// Wide enough for any sum or difference of two 64-bit values and for step × notches.
__extension__ using Wide = __int128;

constexpr qint64 kInt64Max = std::numeric_limits<qint64>::max();
constexpr qint64 kInt64Min = std::numeric_limits<qint64>::min();
constexpr int kSpinButtonWidth = 15;
constexpr int kWheelNotch = 120;

qint64 Saturate(Wide v) {
  if (v > kInt64Max) return kInt64Max;
  if (v < kInt64Min) return kInt64Min;
  return static_cast<qint64>(v);
}

int DigitValue(QChar c, int base) {
  const char16_t u = c.unicode();
  int digit = -1;
  if (u >= '0' && u <= '9')
    digit = u - '0';
  else if (u >= 'a' && u <= 'f')
    digit = u - 'a' + 10;
  else if (u >= 'A' && u <= 'F')
    digit = u - 'A' + 10;
  return digit < base ? digit : -1;
}

// The number at the start of the text: blanks, an optional sign, then decimal digits or
// hexadecimal digits after "$", "x", "X", "0x" or "0X". Stops at the first other character.
// A magnitude past the 64-bit range reads as the nearest limit.
qint64 LeadingNumber(QStringView t) {
  qsizetype i = 0;
  while (i < t.size() && (t[i] == u' ' || t[i] == u'\t')) ++i;
  bool negative = false;
  if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) negative = t[i++] == u'-';
  int base = 10;
  if (i < t.size() && (t[i] == u'$' || t[i] == u'x' || t[i] == u'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < t.size() && t[i] == u'0' && (t[i + 1] == u'x' || t[i + 1] == u'X') && i + 2 < t.size() &&
             DigitValue(t[i + 2], 16) >= 0) {
    base = 16;
    i += 2;
  }
  const Wide limit = negative ? -Wide(kInt64Min) : Wide(kInt64Max);
  Wide magnitude = 0;
  for (; i < t.size(); ++i) {
    const int digit = DigitValue(t[i], base);
    if (digit < 0) break;
    magnitude = std::min<Wide>(magnitude * base + digit, limit + 1);  // stays small: no overflow
  }
  magnitude = std::min(magnitude, limit);
  return static_cast<qint64>(negative ? -magnitude : magnitude);
}

// Clamps to [min, max]; with loop, wraps with the period max - min (min and max are the same
// point, so with 0..10, 11 becomes 1 and -1 becomes 9). One division, however far off v is.
qint64 LimitWide(Wide v, qint64 min, qint64 max, bool loop) {
  if (min == max) return Saturate(v);  // no range
  if (loop && min < max) {
    const Wide range = Wide(max) - Wide(min);
    if (v < min) {
      const Wide r = (Wide(min) - v) % range;
      return static_cast<qint64>(r == 0 ? Wide(min) : Wide(min) + range - r);
    }
    if (v > max) {
      const Wide r = (v - Wide(max)) % range;
      return static_cast<qint64>(r == 0 ? Wide(max) : Wide(max) - range + r);
    }
    return static_cast<qint64>(v);
  }
  // Without loop (or with crossed limits, where wrapping has no period): lower, then upper.
  if (v < min) v = min;
  if (v > max) v = max;
  return static_cast<qint64>(v);
}

}  // namespace

TSpinEdit64::TSpinEdit64(QWidget* parent) : QLineEdit(parent) {
  setAttribute(Qt::WA_InputMethodEnabled, false);  // only keys pass the character filter
  FSpinButton = new TSpinButton64(this);
  FSpinButton->setObjectName(QStringLiteral("FSpinButton"));
  FSpinButton->resize(kSpinButtonWidth, height() + 4);
  FSpinButton->SetFocusControl(this);
  FSpinButton->setCursor(Qt::ArrowCursor);
  connect(FSpinButton, &TSpinButton64::OnUpClick, this, &TSpinEdit64::StepUp);
  connect(FSpinButton, &TSpinButton64::OnDownClick, this, &TSpinEdit64::StepDown);
  connect(FSpinButton, &TSpinButton64::OnMiddleMove, this, &TSpinEdit64::MiddleMouseMove);
  connect(FSpinButton, &TSpinButton64::OnMiddleDown, this, &TSpinEdit64::MiddleMouseDown);
  connect(FSpinButton, &TSpinButton64::OnMiddleUp, this, &TSpinEdit64::MiddleMouseUp);
  connect(this, &QLineEdit::textChanged, this, [this] { emit OnChange(Value()); });
  setText(QStringLiteral("0"));
  setMinimumHeight(MinimumHeight());
  PlaceSpinButton();
}

TSpinEdit64::~TSpinEdit64() = default;

qint64 TSpinEdit64::Value() const {
  QString t = text();
  if (!FPrefix.isEmpty()) {
    const qsizetype at = t.indexOf(FPrefix);
    if (at >= 0) t = t.mid(at + FPrefix.size());
  }
  if (!FSuffix.isEmpty()) {
    const qsizetype at = t.indexOf(FSuffix);
    if (at >= 0) t = t.left(at);
  }
  return std::max(LeadingNumber(t), FMinValue);
}

qint64 TSpinEdit64::LimitValue(qint64 value) const { return LimitWide(value, FMinValue, FMaxValue, FLoop); }

void TSpinEdit64::SetValue(qint64 value) { setText(FPrefix + QString::number(LimitValue(value)) + FSuffix); }

void TSpinEdit64::AddToValue(qint64 step, qint64 times) {
  const Wide sum = Wide(Value()) + Wide(step) * Wide(times);
  setText(FPrefix + QString::number(LimitWide(sum, FMinValue, FMaxValue, FLoop)) + FSuffix);
}

void TSpinEdit64::SetPrefix(const QString& prefix) {
  FPrefix = prefix;
  SetValue(Value());
}

void TSpinEdit64::SetSuffix(const QString& suffix) {
  FSuffix = suffix;
  SetValue(Value());
}

void TSpinEdit64::Beep() { QApplication::beep(); }

void TSpinEdit64::StepUp() {
  if (isReadOnly()) {
    Beep();
    return;
  }
  AddToValue(FIncrement, 1);
}

void TSpinEdit64::StepDown() {
  if (isReadOnly()) {
    Beep();
    return;
  }
  AddToValue(FIncrement, -1);
}

bool TSpinEdit64::IsAcceptedChar(QChar c) const {
  const char16_t u = c.unicode();
  const bool control = u < 32 && u != '\r';
  bool accepted = control || u == '+' || u == '-' || (u >= '0' && u <= '9') || c == locale().decimalPoint();
  if (!FEditorEnabled) accepted = accepted && control && u != '\b';
  return accepted;
}

void TSpinEdit64::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Up:
      StepUp();
      event->accept();
      return;
    case Qt::Key_Down:
      StepDown();
      event->accept();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Delete:
      // Enter and Esc keep their dialog meaning; Delete makes no character to filter.
      QLineEdit::keyPressEvent(event);
      return;
    default:
      break;
  }
  if (event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Cut)) {
    if (CanEditText())
      QLineEdit::keyPressEvent(event);
    else
      event->accept();
    return;
  }
  const QString typed = event->text();
  if (!typed.isEmpty() && !IsAcceptedChar(typed.front())) {
    Beep();
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void TSpinEdit64::wheelEvent(QWheelEvent* event) {
  event->accept();
  // A read-only box is not changed by the wheel either.
  if (isReadOnly()) return;
  FWheelRemainder += event->angleDelta().y();
  const int notches = FWheelRemainder / kWheelNotch;
  FWheelRemainder -= notches * kWheelNotch;
  if (notches == 0) return;
  const qint64 step = (event->modifiers() & Qt::ControlModifier) ? FLargeIncrement : FIncrement;
  AddToValue(step, notches);
}

void TSpinEdit64::MiddleMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, int, int y) {
  if (button == Qt::LeftButton) FDragY = y;
}

void TSpinEdit64::MiddleMouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {}

void TSpinEdit64::MiddleMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers, int, int y) {
  if (isReadOnly()) {
    Beep();
    return;
  }
  if (!(buttons & Qt::LeftButton)) return;
  if (FSkipDragMove)
    FSkipDragMove = false;
  else
    AddToValue(FDragY - y, 1);  // one unit per pixel; upward raises the value
  FDragY = y;

  // At the top or bottom edge of the screen the cursor jumps to the other edge, so a drag
  // never runs out of room; the move caused by the jump is skipped.
  const QPoint cursor = QCursor::pos();
  QScreen* screen = QGuiApplication::screenAt(cursor);
  if (!screen) screen = this->screen();
  if (!screen) return;
  const QRect area = screen->geometry();
  if (cursor.y() < area.top() + 1) {
    QCursor::setPos(screen, cursor.x(), area.top() + area.height() - 2);
    FSkipDragMove = true;
  } else if (cursor.y() > area.top() + area.height() - 2) {
    QCursor::setPos(screen, cursor.x(), area.top() + 1);
    FSkipDragMove = true;
  }
}

void TSpinEdit64::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  if (FAutoSelect && !(QGuiApplication::mouseButtons() & Qt::LeftButton)) selectAll();
}

void TSpinEdit64::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  // Leaving the box normalises the text: junk removed, limits applied, decoration restored.
  // A context menu popping up is no real departure.
  if (event->reason() != Qt::PopupFocusReason) SetValue(Value());
}

int TSpinEdit64::MinimumHeight() const {
  const int own = fontMetrics().height();
  const int system = QFontMetrics(QApplication::font()).height();
  QStyleOptionFrame option;
  initStyleOption(&option);
  const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, this);
  return own + std::min(system, own) / 4 + 2 * frame + 2;
}

void TSpinEdit64::PlaceSpinButton() {
  if (!FSpinButton) return;
  int frame = 0;
  if (hasFrame()) {
    QStyleOptionFrame option;
    initStyleOption(&option);
    frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, this);
  }
  const int buttonWidth = FSpinButton->width();
  FSpinButton->setGeometry(width() - buttonWidth - frame, frame, buttonWidth, height() - 2 * frame);
  FitEditRect();
}

// Keeps the text clear of the arrows.
void TSpinEdit64::FitEditRect() { setTextMargins(0, 0, FSpinButton->width() + 2, 0); }

void TSpinEdit64::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  PlaceSpinButton();
}

void TSpinEdit64::changeEvent(QEvent* event) {
  QLineEdit::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
    setMinimumHeight(MinimumHeight());
    PlaceSpinButton();
  }
}

void TSpinEdit64::contextMenuEvent(QContextMenuEvent* event) {
  std::unique_ptr<QMenu> menu(createStandardContextMenu());
  if (!CanEditText()) {
    for (QAction* action : menu->actions()) {
      const QString name = action->objectName();
      if (name == QLatin1String("edit-paste") || name == QLatin1String("edit-cut")) action->setEnabled(false);
    }
  }
  menu->exec(event->globalPos());
}

void TSpinEdit64::mouseReleaseEvent(QMouseEvent* event) {
  // The middle button pastes the selection on X11; it is a paste like any other.
  if (event->button() == Qt::MiddleButton && !CanEditText()) {
    event->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(event);
}

void TSpinEdit64::dragEnterEvent(QDragEnterEvent* event) {
  if (!CanEditText()) {
    event->ignore();
    return;
  }
  QLineEdit::dragEnterEvent(event);
}

void TSpinEdit64::dropEvent(QDropEvent* event) {
  if (!CanEditText()) {
    event->ignore();
    return;
  }
  QLineEdit::dropEvent(event);
}

}  // namespace varlow
