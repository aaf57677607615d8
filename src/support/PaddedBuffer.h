#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

namespace varlow {

// Bytes that may be read past the end of any block handed to a bit reader: the readers fetch
// 32-bit windows and may stand up to 3 bytes past the end, so 7 readable bytes are needed.
inline constexpr std::size_t kReaderPadding = 8;

// A fixed-size byte block followed by kReaderPadding zero bytes, so every view of it can go to
// a bit reader as it is. The padding is part of the allocation, never of Size().
class TPaddedBuffer {
public:
  TPaddedBuffer() = default;
  explicit TPaddedBuffer(std::size_t size)
      : data_(std::make_unique<std::uint8_t[]>(size + kReaderPadding)), size_(size) {}

  std::uint8_t* Data() { return data_.get(); }
  const std::uint8_t* Data() const { return data_.get(); }
  std::size_t Size() const { return size_; }
  std::span<std::uint8_t> Span() { return {data_.get(), size_}; }
  std::span<const std::uint8_t> Span() const { return {data_.get(), size_}; }

  // Copies bytes in and zeroes the padding that follows them again.
  void Assign(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > size_) *this = TPaddedBuffer(bytes.size());
    if (!bytes.empty()) std::memcpy(data_.get(), bytes.data(), bytes.size());
    std::memset(data_.get() + bytes.size(), 0, kReaderPadding);
  }

private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_ = 0;
};

} // namespace varlow
