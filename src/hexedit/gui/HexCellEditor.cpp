#include "hexedit/gui/HexCellEditor.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include "hexedit/HexEditText.h"

namespace varlow {

namespace {

bool AllHexDigits(const QString& text) {
  for (QChar c : text)
    if (c.unicode() > 0x7F || !IsHexDigit(static_cast<char>(c.unicode()))) return false;
  return true;
}

}  // namespace

THexCellEditor::THexCellEditor(QWidget* parent) : QLineEdit(parent) {
  setFrame(false);
  // Two hexadecimal digits, upper-cased as typed; both may stay blank, so that Enter on a
  // half-typed cell still reaches the default button.
  setInputMask(QStringLiteral(">hh"));
  setAcceptDrops(false);
  setContextMenuPolicy(Qt::NoContextMenu);
}

void THexCellEditor::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Paste)) {
    PasteClipboard();
    event->accept();
    return;
  }
  // A character typed without Ctrl or Alt is a digit or refused; the mask would otherwise let a
  // blank through, and put a kept digit in place of a character that does not fit.
  const bool command = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  const QString text = event->text();
  if (!command && !text.isEmpty() && text.at(0).isPrint() && !AllHexDigits(text)) {
    event->accept();
    emit Refused();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void THexCellEditor::inputMethodEvent(QInputMethodEvent* event) {
  if (!AllHexDigits(event->commitString())) {
    event->accept();
    emit Refused();
    return;
  }
  QLineEdit::inputMethodEvent(event);
}

void THexCellEditor::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::MiddleButton) {
    event->accept();
    return;
  }
  QLineEdit::mousePressEvent(event);
}

void THexCellEditor::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::MiddleButton) {  // the selection paste of X11
    event->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(event);
}

void THexCellEditor::PasteClipboard() {
  const QString text = QGuiApplication::clipboard()->text().trimmed();
  if (!ParseHexByte(text.toStdString())) {
    emit Refused();
    return;
  }
  setText(text.toUpper());
  emit textEdited(displayText());
}

}  // namespace varlow
