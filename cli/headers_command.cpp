#include <cstdio>

#include "Commands.h"

namespace varlow::cli {

int RunHeaders(const Args&) {
  std::fputs("varlow-cli: headers is not built yet\n", stderr);
  return 2;
}

} // namespace varlow::cli
