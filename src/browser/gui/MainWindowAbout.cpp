// The main window's About menu command.
#include "browser/gui/MainWindow.h"

namespace varlow {

void TForm1::About1Click() {}

}  // namespace varlow
