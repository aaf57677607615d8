// varlow-cli-picture: the `picture` command of varlow-cli, started by it with the command's
// arguments (and --verbose when it was given).
#include <cstring>
#include <string>

#include "../Commands.h"
#include "support/Log.h"

int main(int argc, char** argv) {
  varlow::InitLogPrefix();
  varlow::cli::Args args;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--verbose") == 0)
      verbose = true;
    else
      args.emplace_back(argv[i]);
  }
  varlow::SetDebugChannelEnabled(verbose);
  const int rc = varlow::cli::RunPicture(args);
  varlow::ClearLogPrefix();
  return rc;
}
