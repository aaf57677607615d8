#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace varlow {

// The version block that the build places in the executable, in an ELF section of its own, and
// that TVersionInfo reads back from the file. All numbers are little-endian.
//
//   "VarlowVI"                      8-byte signature
//   entries to the end of the block, each:
//     u16 key length, u16 0, u32 value length, key bytes, value bytes, zeros up to a multiple of 4
//
// Keys are query paths: "\" holds the 52-byte fixed file-information record, and
// "\VarFileInfo\Translation" a table of (u16 language, u16 code page) pairs.
inline constexpr std::string_view kVersionSectionName = ".varlow.version";
inline constexpr std::string_view kVersionBlockSignature = "VarlowVI";
inline constexpr std::string_view kFixedInfoKey = "\\";
inline constexpr std::string_view kTranslationKey = "\\VarFileInfo\\Translation";

// The fixed file-information record: thirteen u32 words.
inline constexpr std::size_t kFixedFileInfoSize = 52;
inline constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
inline constexpr std::uint32_t kFixedFileInfoStructVersion = 0x00010000;
inline constexpr std::uint32_t kFileFlagsMask = 0x3F;
inline constexpr std::uint32_t kFileTypeApplication = 1;
// Word positions in the record.
inline constexpr std::size_t kFileVersionMSOffset = 8;
inline constexpr std::size_t kFileVersionLSOffset = 12;

// US English, Unicode: the translation the block declares.
inline constexpr std::uint16_t kTranslationLanguage = 0x0409;
inline constexpr std::uint16_t kTranslationCodePage = 1200;

// Appends the block's pieces to any byte container with push_back (a std::vector at run time,
// TStaticBytes at compile time).
template <class Out>
constexpr void PutU16(Out& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

template <class Out>
constexpr void PutU32(Out& out, std::uint32_t v) {
  PutU16(out, static_cast<std::uint16_t>(v));
  PutU16(out, static_cast<std::uint16_t>(v >> 16));
}

template <class Out>
constexpr void PutSignature(Out& out) {
  for (char c : kVersionBlockSignature) out.push_back(static_cast<std::uint8_t>(c));
}

// An entry's head and key; the caller appends exactly `valueLength` value bytes, then PutPadding.
template <class Out>
constexpr void PutEntryHead(Out& out, std::string_view key, std::uint32_t valueLength) {
  PutU16(out, static_cast<std::uint16_t>(key.size()));
  PutU16(out, 0);
  PutU32(out, valueLength);
  for (char c : key) out.push_back(static_cast<std::uint8_t>(c));
}

template <class Out>
constexpr void PutPadding(Out& out) {
  while (out.size() % 4 != 0) out.push_back(0);
}

// The "\" entry for file version major.minor.release.build (product version the same).
template <class Out>
constexpr void PutFixedInfoEntry(Out& out, std::uint16_t major, std::uint16_t minor, std::uint16_t release,
                                 std::uint16_t build) {
  const std::uint32_t ms = (std::uint32_t{major} << 16) | minor;
  const std::uint32_t ls = (std::uint32_t{release} << 16) | build;
  PutEntryHead(out, kFixedInfoKey, kFixedFileInfoSize);
  PutU32(out, kFixedFileInfoSignature);
  PutU32(out, kFixedFileInfoStructVersion);
  PutU32(out, ms);  // file version
  PutU32(out, ls);
  PutU32(out, ms);  // product version
  PutU32(out, ls);
  PutU32(out, kFileFlagsMask);
  PutU32(out, 0);  // flags: a release build
  PutU32(out, 0);  // operating system: unspecified
  PutU32(out, kFileTypeApplication);
  PutU32(out, 0);  // subtype
  PutU32(out, 0);  // file date, not recorded
  PutU32(out, 0);
  PutPadding(out);
}

template <class Out>
constexpr void PutTranslationEntry(Out& out) {
  PutEntryHead(out, kTranslationKey, 4);
  PutU16(out, kTranslationLanguage);
  PutU16(out, kTranslationCodePage);
  PutPadding(out);
}

// A fixed-capacity byte container usable in constant expressions.
struct TStaticBytes {
  std::array<std::uint8_t, 256> bytes{};
  std::size_t count = 0;
  constexpr void push_back(std::uint8_t b) { bytes[count++] = b; }
  constexpr std::size_t size() const { return count; }
};

constexpr TStaticBytes MakeVersionBlock(std::uint16_t major, std::uint16_t minor, std::uint16_t release,
                                        std::uint16_t build) {
  TStaticBytes out;
  PutSignature(out);
  PutFixedInfoEntry(out, major, minor, release, build);
  PutTranslationEntry(out);
  return out;
}

// The block trimmed to its exact size, as it is stored in the executable.
template <std::size_t N>
constexpr std::array<std::uint8_t, N> TrimBlock(const TStaticBytes& block) {
  std::array<std::uint8_t, N> out{};
  for (std::size_t i = 0; i < N; ++i) out[i] = block.bytes[i];
  return out;
}

}  // namespace varlow
