// The main window's Transrate menu command.
#include "browser/gui/MainWindow.h"
#include "support/Trap.h"
#include "transrate/gui/TransrateCommand.h"

namespace varlow {

void TForm1::Transrater1Click() {
  Trap("TForm1.Transrater1Click", [this] {
    const TByteSource* stream = FIndex.Stream();
    if (stream == nullptr) return;  // no file open: nothing to ask
    RunTransrateCommand(this, FFileName, stream->File());
  });
}

}  // namespace varlow
