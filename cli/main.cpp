#include <cstdio>

#include "support/Log.h"

int main(int, char**) {
  varlow::InitLogPrefix();
  std::puts("varlow-cli");
  return 0;
}
