#include <cstdio>

#include "Commands.h"

namespace varlow::cli {

int RunTransrate(const Args&) {
  std::fputs("varlow-cli: transrate is not built yet\n", stderr);
  return 2;
}

} // namespace varlow::cli
