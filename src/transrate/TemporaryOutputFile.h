#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace varlow {

// An output file written under a temporary name beside its target and put in place only by
// Commit: the bytes are flushed to disk, the file is renamed over the target and the folder
// entry is flushed. Until then the target is untouched; an object that goes without a
// Commit removes its temporary file. Failures throw std::runtime_error with a message for
// the user.
class TTemporaryOutputFile {
public:
  // Creates the temporary file in the target's folder. A target that is a symbolic link is
  // replaced where the link points; an existing target's permissions are kept.
  explicit TTemporaryOutputFile(const std::string& TargetPath);
  ~TTemporaryOutputFile();
  TTemporaryOutputFile(const TTemporaryOutputFile&) = delete;
  TTemporaryOutputFile& operator=(const TTemporaryOutputFile&) = delete;

  void Write(std::span<const std::uint8_t> Bytes);
  void Commit();

  const std::string& TemporaryPath() const { return FTempPath; }
  const std::string& TargetPath() const { return FTargetPath; }
  std::int64_t Written() const { return FWritten; }

private:
  void Discard() noexcept;

  std::string FTargetPath;
  std::string FTempPath;
  int FFd = -1;
  std::int64_t FWritten = 0;
  bool FCommitted = false;
};

}  // namespace varlow
