// varlow-cli-picture: the `picture` command of varlow-cli, started by it with the command's
// arguments (and --verbose when it was given).
#include "../Commands.h"
#include "support/Log.h"

int main(int argc, char** argv) {
  varlow::InitLogPrefix();
  const auto [args, verbose] = varlow::cli::SplitVerbose(argc, argv);
  varlow::SetDebugChannelEnabled(verbose);
  const int rc = varlow::cli::RunPicture(args);
  varlow::ClearLogPrefix();
  return rc;
}
