#pragma once
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "browser/PackIndex.h"
#include "TestBitWriter.h"

// Scratch stream files for the browser tests, removed when the object goes.
namespace varlow::test {

class TTempStreamFile {
public:
  explicit TTempStreamFile(const std::string& tag) {
    path_ = (std::filesystem::temp_directory_path() /
             ("varlow-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++) + ".m2v"))
                .string();
    std::ofstream(path_, std::ios::binary | std::ios::trunc);
  }
  explicit TTempStreamFile(const std::string& tag, const std::vector<std::uint8_t>& bytes) : TTempStreamFile(tag) {
    WriteAt(0, bytes);
  }
  ~TTempStreamFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  TTempStreamFile(const TTempStreamFile&) = delete;
  TTempStreamFile& operator=(const TTempStreamFile&) = delete;

  const std::string& Path() const { return path_; }

  // Writes bytes at any offset; the gap before them stays a hole (a sparse file).
  void WriteAt(std::int64_t offset, const std::vector<std::uint8_t>& bytes) {
    std::fstream f(path_, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(offset);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  void Resize(std::int64_t size) { std::filesystem::resize_file(path_, static_cast<std::uintmax_t>(size)); }

  // A pack index over this file with the given rows per page, filled from 0.
  std::unique_ptr<TPackIndex> Index(std::int32_t rows) const {
    auto index = std::make_unique<TPackIndex>();
    index->SetStream(TByteSource::OpenPlain(path_, TFileStream::Mode::ReadOnly));
    index->SetRowsPerPage(rows);
    index->RefreshPosition(0);
    return index;
  }

private:
  static inline int counter_ = 0;
  std::string path_;
};

// Byte strings for crafted streams.
inline std::vector<std::uint8_t> Code(std::uint8_t code) { return {0x00, 0x00, 0x01, code}; }
inline std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
inline std::vector<std::uint8_t> Filler(std::size_t n, std::uint8_t byte = 0xAA) { return std::vector<std::uint8_t>(n, byte); }
using TBitWriter = TTestBitWriter;

// A picture header with the given temporal_reference and picture_coding_type, vbv_delay 0xFFFF.
inline std::vector<std::uint8_t> Picture(int temporalReference, int codingType) {
  const std::uint32_t bits = (static_cast<std::uint32_t>(temporalReference) << 22) |
                             (static_cast<std::uint32_t>(codingType) << 19) | (0xFFFFu << 3);
  return Code(0x00) + std::vector<std::uint8_t>{static_cast<std::uint8_t>(bits >> 24), static_cast<std::uint8_t>(bits >> 16),
                                                static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits), 0x00};
}

} // namespace varlow::test
