#pragma once
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// Where tests find their streams: the project's own (made by scripts/make_test_streams.sh at build
// time), the bundled sample, and the third-party streams read in place from ../shared/streams.
namespace varlow::test {

inline std::string OwnStream(const std::string& name) { return std::string(VARLOW_TEST_STREAMS) + "/" + name; }
inline std::string SampleStream() { return std::string(VARLOW_SOURCE_DIR) + "/samples/sample.m2v"; }
inline std::string SharedStream(const std::string& name) { return std::string(VARLOW_SHARED_STREAMS) + "/" + name; }
inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The project's own streams, by kind.
inline const std::vector<std::string>& OwnStreamNames() {
  static const std::vector<std::string> names = {"i420_interlaced.m2v", "i422_interlaced.m2v", "p420_plain.m2v",
                                                 "p420_tools.m2v",      "mpeg1.m1v",           "hd1080.m2v"};
  return names;
}

} // namespace varlow::test
