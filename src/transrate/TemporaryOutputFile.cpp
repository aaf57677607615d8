#include "transrate/TemporaryOutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace varlow {

namespace {

namespace fs = std::filesystem;

std::runtime_error Failure(const std::string& what, const std::string& path, int error) {
  return std::runtime_error(what + " " + path + ": " + std::strerror(error));
}

// The file a target path finally names: through any symbolic links, so the link survives.
std::string ResolvedTarget(const std::string& path) {
  std::error_code ec;
  if (fs::is_symlink(path, ec)) {
    const fs::path resolved = fs::weakly_canonical(path, ec);
    if (!ec) return resolved.string();
  }
  return path;
}

std::string RandomSuffix() {
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::random_device device;
  std::uniform_int_distribution<int> pick(0, 35);
  std::string suffix(8, '0');
  for (char& c : suffix) c = kDigits[pick(device)];
  return suffix;
}

}  // namespace

TTemporaryOutputFile::TTemporaryOutputFile(const std::string& TargetPath) : FTargetPath(ResolvedTarget(TargetPath)) {
  struct stat target {};
  const bool targetExists = ::stat(FTargetPath.c_str(), &target) == 0;
  if (targetExists && S_ISDIR(target.st_mode)) throw std::runtime_error(FTargetPath + " is a folder");

  const fs::path path(FTargetPath);
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  // A hidden name in the same folder, so the rename stays on one file system.
  const std::string stem = (folder / ("." + path.filename().string() + ".varlow-")).string();
  for (int attempt = 0; attempt < 100 && FFd < 0; ++attempt) {
    FTempPath = stem + RandomSuffix();
    FFd = ::open(FTempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (FFd < 0 && errno != EEXIST) throw Failure("Cannot create a file in", folder.string(), errno);
  }
  if (FFd < 0) throw Failure("Cannot create a file in", folder.string(), EEXIST);
  if (targetExists) ::fchmod(FFd, target.st_mode & 07777);  // best effort: a replaced file keeps its mode
}

TTemporaryOutputFile::~TTemporaryOutputFile() { Discard(); }

void TTemporaryOutputFile::Write(std::span<const std::uint8_t> Bytes) {
  if (FFd < 0) throw std::runtime_error("The output file is closed");
  std::size_t done = 0;
  while (done < Bytes.size()) {
    const ssize_t n = ::write(FFd, Bytes.data() + done, Bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Failure("Cannot write", FTempPath, errno);
    }
    done += static_cast<std::size_t>(n);
  }
  FWritten += static_cast<std::int64_t>(done);
}

void TTemporaryOutputFile::Commit() {
  if (FFd < 0) throw std::runtime_error("The output file is closed");
  if (::fsync(FFd) != 0) throw Failure("Cannot flush", FTempPath, errno);
  const int fd = FFd;
  FFd = -1;
  // close() reports write errors that only show at the end (network file systems, quotas).
  if (::close(fd) != 0) throw Failure("Cannot write", FTempPath, errno);
  if (::rename(FTempPath.c_str(), FTargetPath.c_str()) != 0) throw Failure("Cannot replace", FTargetPath, errno);
  FCommitted = true;
  // Make the new folder entry itself durable; a failure here leaves a correct file in place.
  const fs::path folder = fs::path(FTargetPath).has_parent_path() ? fs::path(FTargetPath).parent_path() : ".";
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

void TTemporaryOutputFile::Discard() noexcept {
  if (FFd >= 0) {
    ::close(FFd);
    FFd = -1;
  }
  if (!FCommitted && !FTempPath.empty()) ::unlink(FTempPath.c_str());
}

}  // namespace varlow
