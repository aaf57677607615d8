#pragma once
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace varlow {

// The file has no version block (or none that can be read).
class ENoVersion : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The version block is there but malformed.
class EVersion : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The version block of an executable file (see VersionBlock.h), read from the file by path.
// The constructor raises ENoVersion or EVersion; it never logs.
class TVersionInfo {
 public:
  explicit TVersionInfo(const std::string& fileName);

  // "Version major.minor.release (build N)", or "Version major.minor (build N)" when release is 0.
  std::string VersionText() const;

  std::uint16_t Major() const { return static_cast<std::uint16_t>(FileVersionMS() >> 16); }
  std::uint16_t Minor() const { return static_cast<std::uint16_t>(FileVersionMS()); }
  std::uint16_t Release() const { return static_cast<std::uint16_t>(FileVersionLS() >> 16); }
  std::uint16_t Build() const { return static_cast<std::uint16_t>(FileVersionLS()); }

 private:
  std::uint32_t FileVersionMS() const;
  std::uint32_t FileVersionLS() const;

  std::uint32_t FBlockSize = 0;
  std::vector<std::uint8_t> FVersionBlock;
  std::span<const std::uint8_t> FFixedInfo;  // into FVersionBlock
  std::uint32_t FTranslationLength = 0;
  std::span<const std::uint8_t> FTranslation;  // into FVersionBlock
};

// The version line for numbers known without a file (the same form as VersionText).
std::string VersionLine(std::uint16_t major, std::uint16_t minor, std::uint16_t release, std::uint16_t build);

// The full path of the running executable ("" when it cannot be found).
std::string ExecutablePath();

}  // namespace varlow
