// The main window's Transrate menu command.
#include "browser/gui/MainWindow.h"
#include "support/Trap.h"
#include "transrate/gui/TransrateCommand.h"

namespace varlow {

void TForm1::Transrater1Click() {
  Trap("TForm1.Transrater1Click", [this] {
    const TByteSource* stream = FIndex.Stream();
    if (stream == nullptr) return;  // no file open: nothing to ask
    // A container's video stream is the one on show.
    RunTransrateCommand(this, FFileName, stream->File(), stream->IsContainer() ? FStreamIndex : -1);
  });
}

}  // namespace varlow
