#pragma once
#include <QString>
#include <functional>

class QWidget;

namespace varlow {

// Asks where to write an output file, starting at `Suggested`; the platform's save dialog
// asks before an existing file is replaced. Returns the chosen path, or an empty text when
// the user cancels.
QString AskOutputFileName(QWidget* parent, const QString& Caption, const QString& Suggested);

// Answers AskOutputFileName with `hook` instead of a dialog (for tests); an empty function
// restores the dialog.
using OutputFileDialogHook = std::function<QString(const QString& Suggested)>;
void SetOutputFileDialogHook(OutputFileDialogHook hook);

}  // namespace varlow
