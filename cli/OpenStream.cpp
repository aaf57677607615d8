#include "OpenStream.h"

#include <cstdio>

#include "container/OpenSource.h"

namespace varlow::cli {

bool StreamChoice(const Args& args, std::int32_t& stream) {
  stream = kFirstVideoStream;
  const auto text = Option(args, "--stream");
  if (!text) return true;
  const auto n = ParseNumber(*text);
  if (!n || *n < 0 || *n > 0xFFFF) {
    std::fprintf(stderr, "varlow-cli: bad stream number %s\n", text->c_str());
    return false;
  }
  stream = static_cast<std::int32_t>(*n);
  return true;
}

std::unique_ptr<TByteSource> OpenVideoStream(const std::string& path, const Args& args) {
  std::int32_t stream = kFirstVideoStream;
  if (!StreamChoice(args, stream)) return nullptr;
  TOpenedSource opened = OpenVideoSource(path, TFileStream::Mode::ReadOnly, stream);
  if (opened.CannotOpen) {
    std::fprintf(stderr, "varlow-cli: cannot open %s\n", path.c_str());
    return nullptr;
  }
  if (!opened.Source) {
    std::fprintf(stderr, "varlow-cli: %s: %s\n", path.c_str(), opened.Refusal.c_str());
    return nullptr;
  }
  return std::move(opened.Source);
}

} // namespace varlow::cli
