#include "support/VersionInfo.h"

#include <unistd.h>

#include <climits>
#include <cstring>
#include <optional>
#include <string_view>

#include "support/FileStream.h"
#include "support/VersionBlock.h"

namespace varlow {

namespace {

constexpr std::uint64_t kMaxVersionBlockSize = 64 * 1024;  // far above any real block

std::uint16_t U16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t at) {
  return U16(b, at) | (std::uint32_t{U16(b, at + 2)} << 16);
}
std::uint64_t U64(std::span<const std::uint8_t> b, std::size_t at) {
  return U32(b, at) | (std::uint64_t{U32(b, at + 4)} << 32);
}

bool ReadExactly(const TFileStream& file, std::uint64_t position, std::span<std::uint8_t> dest) {
  if (position > static_cast<std::uint64_t>(INT64_MAX) - dest.size()) return false;
  return file.ReadAt(static_cast<std::int64_t>(position), dest) == static_cast<std::int64_t>(dest.size());
}

struct TSectionPlace {
  std::uint64_t offset;
  std::uint64_t size;
};

// Finds a section by name in a 64-bit little-endian ELF file. Every offset and count read from
// the file is checked against the file before it is used.
std::optional<TSectionPlace> FindElfSection(const TFileStream& file, std::string_view name) {
  constexpr std::size_t kElfHeaderSize = 64;
  constexpr std::size_t kSectionHeaderSize = 64;
  constexpr std::uint32_t kSectionNoBits = 8;  // SHT_NOBITS: no bytes in the file
  constexpr std::uint16_t kExtendedIndex = 0xFFFF;

  const std::int64_t fileSize = file.Size();
  if (fileSize < static_cast<std::int64_t>(kElfHeaderSize)) return std::nullopt;
  const auto size = static_cast<std::uint64_t>(fileSize);
  std::uint8_t header[kElfHeaderSize];
  if (!ReadExactly(file, 0, header)) return std::nullopt;
  const std::span<const std::uint8_t> h(header);
  if (std::memcmp(header,
                  "\x7f"
                  "ELF",
                  4) != 0 ||
      header[4] != 2 /* 64-bit */ || header[5] != 1 /* LE */)
    return std::nullopt;
  const std::uint64_t tableOffset = U64(h, 0x28);
  const std::uint16_t entrySize = U16(h, 0x3A);
  std::uint64_t count = U16(h, 0x3C);
  std::uint32_t namesIndex = U16(h, 0x3E);
  if (tableOffset == 0 || entrySize < kSectionHeaderSize || tableOffset >= size) return std::nullopt;

  std::uint8_t entry[kSectionHeaderSize];
  auto readEntry = [&](std::uint64_t index) {
    return index < count && tableOffset + index * entrySize <= size - kSectionHeaderSize &&
           ReadExactly(file, tableOffset + index * entrySize, entry);
  };
  // Past 0xFF00 sections the counts live in section 0.
  if (count == 0 || namesIndex == kExtendedIndex) {
    const std::uint64_t realCount = count;
    count = 1;
    if (!readEntry(0)) return std::nullopt;
    if (realCount == 0)
      count = U64(entry, 32);
    else
      count = realCount;
    if (namesIndex == kExtendedIndex) namesIndex = U32(entry, 40);
  }
  if (count > (size - tableOffset) / entrySize) return std::nullopt;

  if (!readEntry(namesIndex)) return std::nullopt;
  const std::uint64_t namesOffset = U64(entry, 24);
  const std::uint64_t namesSize = U64(entry, 32);
  if (namesOffset > size || namesSize > size - namesOffset || namesSize > kMaxVersionBlockSize * 16)
    return std::nullopt;
  std::vector<std::uint8_t> names(namesSize);
  if (!ReadExactly(file, namesOffset, names)) return std::nullopt;

  for (std::uint64_t i = 1; i < count; ++i) {
    if (!readEntry(i)) return std::nullopt;
    const std::uint32_t nameAt = U32(entry, 0);
    if (nameAt >= names.size()) continue;
    const char* text = reinterpret_cast<const char*>(names.data() + nameAt);
    const std::size_t length = strnlen(text, names.size() - nameAt);
    if (std::string_view(text, length) != name || U32(entry, 4) == kSectionNoBits) continue;
    const std::uint64_t offset = U64(entry, 24);
    const std::uint64_t sectionSize = U64(entry, 32);
    if (offset > size || sectionSize > size - offset) return std::nullopt;
    return TSectionPlace{offset, sectionSize};
  }
  return std::nullopt;
}

// The value stored under `key`, or nullopt when the block has no such entry.
std::optional<std::span<const std::uint8_t>> QueryValue(std::span<const std::uint8_t> block, std::string_view key) {
  std::size_t at = kVersionBlockSignature.size();
  while (block.size() - at >= 8) {
    const std::size_t keyLength = U16(block, at);
    const std::size_t valueLength = U32(block, at + 4);
    if (keyLength == 0) break;  // padding
    const std::size_t keyAt = at + 8;
    if (keyLength > block.size() - keyAt || valueLength > block.size() - keyAt - keyLength) break;
    const std::string_view entryKey(reinterpret_cast<const char*>(block.data() + keyAt), keyLength);
    const std::size_t valueAt = keyAt + keyLength;
    if (entryKey == key) return block.subspan(valueAt, valueLength);
    const std::size_t next = (valueAt + valueLength + 3) & ~std::size_t{3};
    if (next >= block.size()) break;
    at = next;
  }
  return std::nullopt;
}

}  // namespace

TVersionInfo::TVersionInfo(const std::string& fileName) {
  static const char* const kNoVersion = "No version information";
  const auto file = TFileStream::Open(fileName, TFileStream::Mode::ReadOnly);
  if (!file) throw ENoVersion(kNoVersion);
  std::optional<TSectionPlace> place;
  try {
    place = FindElfSection(*file, kVersionSectionName);
  } catch (const std::exception&) {
    throw ENoVersion(kNoVersion);  // a read error
  }
  if (!place || place->size == 0 || place->size > kMaxVersionBlockSize) throw ENoVersion(kNoVersion);
  FBlockSize = static_cast<std::uint32_t>(place->size);

  FVersionBlock.resize(FBlockSize);
  try {
    if (!ReadExactly(*file, place->offset, FVersionBlock)) throw ENoVersion(kNoVersion);
  } catch (const std::runtime_error&) {
    throw ENoVersion(kNoVersion);
  }
  const std::span<const std::uint8_t> block(FVersionBlock);
  if (block.size() < kVersionBlockSignature.size() ||
      std::memcmp(block.data(), kVersionBlockSignature.data(), kVersionBlockSignature.size()) != 0)
    throw ENoVersion(kNoVersion);

  const auto fixed = QueryValue(block, kFixedInfoKey);
  if (!fixed) throw EVersion("Error geting fixed version info");
  if (fixed->size() < kFixedFileInfoSize) throw EVersion("Bad fixed version info size");
  FFixedInfo = *fixed;

  const auto translation = QueryValue(block, kTranslationKey);
  if (!translation) throw EVersion("Bad translation in version info");
  FTranslation = *translation;
  FTranslationLength = static_cast<std::uint32_t>(translation->size());
}

std::uint32_t TVersionInfo::FileVersionMS() const { return U32(FFixedInfo, kFileVersionMSOffset); }
std::uint32_t TVersionInfo::FileVersionLS() const { return U32(FFixedInfo, kFileVersionLSOffset); }

std::string TVersionInfo::VersionText() const { return VersionLine(Major(), Minor(), Release(), Build()); }

std::string VersionLine(std::uint16_t major, std::uint16_t minor, std::uint16_t release, std::uint16_t build) {
  std::string text = "Version " + std::to_string(major) + "." + std::to_string(minor);
  if (release != 0) text += "." + std::to_string(release);
  return text + " (build " + std::to_string(build) + ")";
}

std::string ExecutablePath() {
  char path[PATH_MAX + 1];
  const ssize_t n = readlink("/proc/self/exe", path, PATH_MAX);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace varlow
