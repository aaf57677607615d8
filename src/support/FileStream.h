#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "support/PaddedBuffer.h"

namespace varlow {

// A file opened by path with 64-bit positions, read and written at explicit offsets
// (pread/pwrite), closed when the object goes. Opening never creates the file unless asked.
class TFileStream {
public:
  enum class Mode {
    ReadWriteOrReadOnly,  // read-write; falls back to read-only when writing is not allowed
    ReadWrite,
    ReadOnly,
    Create,               // create or truncate for writing
  };

  // Returns null when the file cannot be opened in the mode asked.
  static std::unique_ptr<TFileStream> Open(const std::string& path, Mode mode);
  ~TFileStream();
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  const std::string& Path() const { return path_; }
  bool Writable() const { return writable_; }
  std::int64_t Size() const;  // current size in bytes; -1 on failure

  // Reads up to dest.size() bytes at `position`; returns the count read (0 at or past the
  // end). Throws std::runtime_error on an I/O error.
  std::int64_t ReadAt(std::int64_t position, std::span<std::uint8_t> dest) const;
  // Writes all bytes at `position`; throws std::runtime_error on failure.
  void WriteAt(std::int64_t position, std::span<const std::uint8_t> bytes);
  // Appends at the end of the data written so far through Append.
  void Append(std::span<const std::uint8_t> bytes);
  // Makes what was written durable (fsync); throws std::runtime_error on failure.
  void Flush();

  // Device and inode, to tell whether two paths name the same file.
  std::uint64_t Device() const { return device_; }
  std::uint64_t Inode() const { return inode_; }

private:
  TFileStream(int fd, std::string path, bool writable);
  int fd_ = -1;
  std::string path_;
  bool writable_ = false;
  std::int64_t appendPos_ = 0;
  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;
};

// Reads up to `size` bytes at `position` into the front of `buffer` (size <= buffer.Size()) and
// zeroes the reader padding right after them, so that what an earlier, longer read left there
// can never be seen past the end of this block. Returns the count read.
std::int64_t ReadBlockAt(const TFileStream& stream, std::int64_t position, TPaddedBuffer& buffer, std::size_t size);

} // namespace varlow
