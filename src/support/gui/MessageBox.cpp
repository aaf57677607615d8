#include "support/gui/MessageBox.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace varlow {

namespace {

MessageHook& Hook() {
  static MessageHook hook;
  return hook;
}

}  // namespace

void SetMessageHook(MessageHook hook) { Hook() = std::move(hook); }

void ShowMessage(QWidget* parent, const QString& text) {
  if (Hook()) {
    Hook()(text);
    return;
  }
  QMessageBox::information(parent, QCoreApplication::applicationName(), text);
}

}  // namespace varlow
