#pragma once
// A temporary file holding a fuzz input, for the parsers that read through a file; removed when
// done.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace varlow::fuzz {

class TTempFile {
 public:
  // Pattern: a mkstemp pattern ("/tmp/varlow_fuzz_..._XXXXXX").
  TTempFile(const std::uint8_t* data, std::size_t size, std::string pattern) {
    const int fd = mkstemp(pattern.data());
    if (fd < 0) return;
    std::size_t written = 0;
    while (written < size) {
      const ssize_t n = write(fd, data + written, size - written);
      if (n <= 0) break;
      written += static_cast<std::size_t>(n);
    }
    close(fd);
    FPath = pattern;
  }
  ~TTempFile() {
    if (!FPath.empty()) unlink(FPath.c_str());
  }
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

}  // namespace varlow::fuzz
