// The main window's About menu command.
#include "browser/gui/MainWindow.h"
#include "support/gui/About.h"

namespace varlow {

void TForm1::About1Click() { ShowAbout(this); }

}  // namespace varlow
