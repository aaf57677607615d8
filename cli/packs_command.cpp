#include <cstdio>

#include "Commands.h"

namespace varlow::cli {

int RunPacks(const Args&) {
  std::fputs("varlow-cli: packs is not built yet\n", stderr);
  return 2;
}

} // namespace varlow::cli
