#include "support/FileStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace varlow {

std::unique_ptr<TFileStream> TFileStream::Open(const std::string& path, Mode mode) {
  int fd = -1;
  bool writable = true;
  switch (mode) {
  case Mode::ReadWriteOrReadOnly:
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
      fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      writable = false;
    }
    break;
  case Mode::ReadWrite:
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    break;
  case Mode::ReadOnly:
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    writable = false;
    break;
  case Mode::Create:
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    break;
  }
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  std::unique_ptr<TFileStream> stream(new TFileStream(fd, path, writable));
  stream->device_ = static_cast<std::uint64_t>(st.st_dev);
  stream->inode_ = static_cast<std::uint64_t>(st.st_ino);
  return stream;
}

TFileStream::TFileStream(int fd, std::string path, bool writable)
    : fd_(fd), path_(std::move(path)), writable_(writable) {}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

std::int64_t TFileStream::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

std::int64_t TFileStream::ReadAt(std::int64_t position, std::span<std::uint8_t> dest) const {
  if (position < 0) throw std::runtime_error("negative file position");
  std::size_t done = 0;
  while (done < dest.size()) {
    ssize_t n = ::pread(fd_, dest.data() + done, dest.size() - done, static_cast<off_t>(position + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("read failed: ") + std::strerror(errno));
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

void TFileStream::WriteAt(std::int64_t position, std::span<const std::uint8_t> bytes) {
  if (!writable_) throw std::runtime_error("file is read-only");
  if (position < 0) throw std::runtime_error("negative file position");
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(position + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("write failed: ") + std::strerror(errno));
    }
    if (n == 0) throw std::runtime_error("write failed: no bytes written");  // would loop forever
    done += static_cast<std::size_t>(n);
  }
}

void TFileStream::Flush() {
  while (::fsync(fd_) != 0) {
    if (errno == EINTR) continue;
    // A file on a medium without a cache to flush (pipes, some devices) has nothing to lose.
    if (errno == EINVAL || errno == EROFS) return;
    throw std::runtime_error(std::string("flush failed: ") + std::strerror(errno));
  }
}

std::int64_t ReadBlockAt(const TFileStream& stream, std::int64_t position, TPaddedBuffer& buffer, std::size_t size) {
  if (size > buffer.Size()) throw std::length_error("read larger than its buffer");
  const std::int64_t n = stream.ReadAt(position, {buffer.Data(), size});
  std::memset(buffer.Data() + n, 0, kReaderPadding);
  return n;
}

void TFileStream::Append(std::span<const std::uint8_t> bytes) {
  WriteAt(appendPos_, bytes);
  appendPos_ += static_cast<std::int64_t>(bytes.size());
}

} // namespace varlow
