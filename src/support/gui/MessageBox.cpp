#include "support/gui/MessageBox.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace varlow {

namespace {

MessageHook& Hook() {
  static MessageHook hook;
  return hook;
}

LevelledMessageHook& LevelledHook() {
  static LevelledMessageHook hook;
  return hook;
}

}  // namespace

void SetMessageHook(MessageHook hook) { Hook() = std::move(hook); }
void SetLevelledMessageHook(LevelledMessageHook hook) { LevelledHook() = std::move(hook); }

void ShowMessage(QWidget* parent, const QString& text, TMessageLevel level) {
  if (LevelledHook()) {
    LevelledHook()(text, level);
    return;
  }
  if (Hook()) {
    Hook()(text);
    return;
  }
  if (level == TMessageLevel::Warning)
    QMessageBox::warning(parent, QCoreApplication::applicationName(), text);
  else
    QMessageBox::information(parent, QCoreApplication::applicationName(), text);
}

}  // namespace varlow
