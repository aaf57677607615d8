// The main window's Transrate menu command.
#include "browser/gui/MainWindow.h"

namespace varlow {

void TForm1::Transrater1Click() {}

}  // namespace varlow
