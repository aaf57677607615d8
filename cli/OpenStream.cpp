#include "OpenStream.h"

#include <cstdio>

#include "browser/PackIndex.h"

namespace varlow::cli {

std::unique_ptr<TFileStream> OpenVideoStream(const std::string& path) {
  auto stream = TFileStream::Open(path, TFileStream::Mode::ReadOnly);
  if (!stream) {
    std::fprintf(stderr, "varlow-cli: cannot open %s\n", path.c_str());
    return nullptr;
  }
  if (!IsPS(*stream)) {
    std::fprintf(stderr, "varlow-cli: %s: Not valid MPEG-2 video elementary stream\n", path.c_str());
    return nullptr;
  }
  return stream;
}

} // namespace varlow::cli
