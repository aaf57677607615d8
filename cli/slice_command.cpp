#include <cstdio>

#include "Commands.h"

namespace varlow::cli {

int RunSlice(const Args&) {
  std::fputs("varlow-cli: slice is not built yet\n", stderr);
  return 2;
}

} // namespace varlow::cli
