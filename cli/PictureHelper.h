#pragma once
#include "Commands.h"

namespace varlow::cli {

// Runs `picture` in its own program, varlow-cli-picture, which replaces this process: decoding
// and drawing bring in libavcodec and Qt Gui, whose loading would otherwise slow every other
// command's start. Returns only when the program cannot be started (with a message).
int RunPictureProgram(const Args& args, bool verbose);

} // namespace varlow::cli
