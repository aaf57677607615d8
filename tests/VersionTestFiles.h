#pragma once
// Small ELF files with or without a version block, for the version-information tests.
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/VersionBlock.h"

namespace varlow::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes VersionBlockBytes(std::uint16_t major, std::uint16_t minor, std::uint16_t release, std::uint16_t build,
                               bool withFixedInfo = true, bool withTranslation = true) {
  Bytes out;
  PutSignature(out);
  if (withFixedInfo) PutFixedInfoEntry(out, major, minor, release, build);
  if (withTranslation) PutTranslationEntry(out);
  return out;
}

// A block whose "\" entry holds only `size` bytes of a fixed-info record.
inline Bytes VersionBlockWithShortFixedInfo(std::uint32_t size) {
  Bytes out;
  PutSignature(out);
  PutEntryHead(out, kFixedInfoKey, size);
  for (std::uint32_t i = 0; i < size; ++i) out.push_back(0);
  PutPadding(out);
  PutTranslationEntry(out);
  return out;
}

// A 64-bit little-endian ELF file with a null section, the named section holding `content`, and
// the section-name table.
inline Bytes ElfWithSection(const std::string& sectionName, const Bytes& content) {
  const std::string names = std::string(1, '\0') + sectionName + '\0' + ".shstrtab" + '\0';
  const std::uint64_t contentAt = 64;
  const std::uint64_t namesAt = contentAt + content.size();
  const std::uint64_t tableAt = (namesAt + names.size() + 7) & ~std::uint64_t{7};
  Bytes file(tableAt + 3 * 64, 0);
  auto put = [&](std::uint64_t at, const void* data, std::size_t size) {
    if (size) std::memcpy(file.data() + at, data, size);
  };
  auto put16 = [&](std::uint64_t at, std::uint16_t v) { put(at, &v, 2); };
  auto put32 = [&](std::uint64_t at, std::uint32_t v) { put(at, &v, 4); };
  auto put64 = [&](std::uint64_t at, std::uint64_t v) { put(at, &v, 8); };
  const std::uint8_t ident[] = {0x7f, 'E', 'L', 'F', 2, 1, 1};
  put(0, ident, sizeof ident);
  put16(0x10, 2);     // executable
  put16(0x12, 0x3E);  // x86-64
  put32(0x14, 1);
  put16(0x34, 64);
  put(contentAt, content.data(), content.size());
  put(namesAt, names.data(), names.size());
  auto section = [&](int index, std::uint32_t name, std::uint32_t type, std::uint64_t at, std::uint64_t size) {
    const std::uint64_t h = tableAt + static_cast<std::uint64_t>(index) * 64;
    put32(h, name);
    put32(h + 4, type);
    put64(h + 24, at);
    put64(h + 32, size);
  };
  section(1, 1, 1 /* PROGBITS */, contentAt, content.size());
  section(2, static_cast<std::uint32_t>(sectionName.size() + 2), 3 /* STRTAB */, namesAt, names.size());
  put64(0x28, tableAt);
  put16(0x3A, 64);
  put16(0x3C, 3);
  put16(0x3E, 2);
  return file;
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace varlow::test
