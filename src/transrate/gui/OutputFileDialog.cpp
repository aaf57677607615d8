#include "transrate/gui/OutputFileDialog.h"

#include <QFileDialog>

namespace varlow {

namespace {

OutputFileDialogHook& Hook() {
  static OutputFileDialogHook hook;
  return hook;
}

}  // namespace

void SetOutputFileDialogHook(OutputFileDialogHook hook) { Hook() = std::move(hook); }

QString AskOutputFileName(QWidget* parent, const QString& Caption, const QString& Suggested) {
  if (Hook()) return Hook()(Suggested);
  return QFileDialog::getSaveFileName(parent, Caption, Suggested);
}

}  // namespace varlow
