#include <cstdio>
#include <cstring>
#include <string>

#include "Commands.h"
#include "support/Log.h"

namespace {

void Usage() {
  std::fputs(
      "usage:\n"
      "  varlow-cli packs FILE [--from OFFSET] [--rows N] [--json]\n"
      "  varlow-cli headers FILE --offset OFFSET [--json]\n"
      "  varlow-cli slice FILE --offset OFFSET --slice K|all [--json]\n"
      "  varlow-cli transrate IN OUT [--bitrate N]\n",
      stderr);
}

} // namespace

int main(int argc, char** argv) {
  varlow::InitLogPrefix();
  if (argc < 2) {
    Usage();
    return 2;
  }
  std::string command = argv[1];
  varlow::cli::Args args(argv + 2, argv + argc);
  int rc = 2;
  if (command == "packs") rc = varlow::cli::RunPacks(args);
  else if (command == "headers") rc = varlow::cli::RunHeaders(args);
  else if (command == "slice") rc = varlow::cli::RunSlice(args);
  else if (command == "transrate") rc = varlow::cli::RunTransrate(args);
  else if (command == "stats") rc = varlow::cli::RunStats(args);
  else if (command == "pictures") rc = varlow::cli::RunPictures(args);
  else Usage();
  varlow::ClearLogPrefix();
  return rc;
}
