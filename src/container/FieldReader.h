#pragma once
#include <cstdint>
#include <span>

namespace varlow {

// A listener that wants no elements: what the walkers pass, so that the readers compile down to
// plain bit arithmetic on the hot path.
struct TNoElements {
  void operator()(const char* /*name*/, std::uint64_t /*value*/, std::int64_t /*bitPos*/, int /*width*/) const {}
};

// Reads the elements of a container header from a byte span, most significant bit first, and
// hands each one to `Sink` as (name, value, bit position from the span's start, width). Reading
// past the span's end gives zeros and clears Ok(), so a reader over a cut header never reads
// memory it was not given.
template <class Sink>
class TFieldReader {
public:
  TFieldReader(std::span<const std::uint8_t> bytes, Sink& sink) : FBytes(bytes), FSink(sink) {}

  // Reads `width` bits (1..64) as the element `name`.
  std::uint64_t Field(const char* name, int width) {
    const std::int64_t at = FBit;
    const std::uint64_t value = Bits(width);
    FSink(name, value, at, width);
    return value;
  }
  // Reads bits that are part of no element the listener cares for (stuffing, payload).
  std::uint64_t Bits(int width) {
    std::uint64_t value = 0;
    for (int left = width; left > 0;) {
      const std::int64_t byte = FBit >> 3;
      const int used = static_cast<int>(FBit & 7);
      const int take = left < 8 - used ? left : 8 - used;
      unsigned b = 0;
      if (byte < static_cast<std::int64_t>(FBytes.size())) b = FBytes[static_cast<std::size_t>(byte)];
      else FOk = false;
      value = value << take | ((b >> (8 - used - take)) & ((1u << take) - 1));
      FBit += take;
      left -= take;
    }
    return value;
  }
  void SkipBytes(std::int64_t count) {
    FBit += count * 8;
    if (FBit > static_cast<std::int64_t>(FBytes.size()) * 8) FOk = false;
  }
  // The next `width` bits without moving.
  std::uint64_t Peek(int width) {
    const std::int64_t at = FBit;
    const bool ok = FOk;
    const std::uint64_t value = Bits(width);
    FBit = at;
    FOk = ok;
    return value;
  }

  bool Ok() const { return FOk; }
  std::int64_t BitPos() const { return FBit; }
  std::int64_t BytePos() const { return (FBit + 7) >> 3; }
  std::size_t Size() const { return FBytes.size(); }
  Sink& Listener() { return FSink; }

private:
  std::span<const std::uint8_t> FBytes;
  Sink& FSink;
  std::int64_t FBit = 0;
  bool FOk = true;
};

} // namespace varlow
