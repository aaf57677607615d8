// The main window's HexEdit menu command.
#include "browser/gui/MainWindow.h"

namespace varlow {

void TForm1::HexEdit1Click() {}

}  // namespace varlow
