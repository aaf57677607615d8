#pragma once
// Writes test bitstreams field by field, most significant bit first, the way the syntax lays
// them out. Shared by every test that crafts headers, slices or whole streams.
#include <cstdint>
#include <string_view>
#include <vector>

namespace varlow::test {

class TTestBitWriter {
public:
  // The low `bits` bits of value.
  TTestBitWriter& Put(std::uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) PutBit((value >> i) & 1u);
    return *this;
  }
  // A code in the standard's notation ("0000 0011 000"); anything but 0 and 1 is ignored.
  TTestBitWriter& Bits(std::string_view code) {
    for (char c : code)
      if (c == '0' || c == '1') PutBit(c == '1');
    return *this;
  }
  // Zero bits up to the next byte boundary.
  TTestBitWriter& Align() {
    while (count_ % 8) PutBit(false);
    return *this;
  }
  // Aligns, then writes the four bytes of a start code given as 0x000001xx.
  TTestBitWriter& StartCode(std::uint32_t code) { return Align().Put(code, 32); }
  TTestBitWriter& Raw(const std::vector<std::uint8_t>& bytes) {
    Align();
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    count_ += 8 * static_cast<std::int64_t>(bytes.size());
    return *this;
  }

  std::int64_t BitCount() const { return count_; }
  const std::vector<std::uint8_t>& Data() const { return bytes_; }
  // The bytes written (the last one zero-filled), followed by `padding` zero bytes.
  std::vector<std::uint8_t> Bytes(std::size_t padding = 0) const {
    auto out = bytes_;
    out.resize(out.size() + padding, 0);
    return out;
  }

private:
  void PutBit(bool bit) {
    if (count_ % 8 == 0) bytes_.push_back(0);
    if (bit) bytes_.back() |= static_cast<std::uint8_t>(0x80u >> (count_ % 8));
    ++count_;
  }
  std::vector<std::uint8_t> bytes_;
  std::int64_t count_ = 0;
};

} // namespace varlow::test
