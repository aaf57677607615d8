#pragma once
// Small hand-made elementary streams for the transrating tests: headers written field by field,
// pictures without slices unless a test adds its own bytes.
#include <cstdint>
#include <vector>

#include "transrate/BitStreamWriter.h"
#include "TestBitWriter.h"

namespace varlow::test {

class TCraft {
public:
  TCraft& Bits(std::uint32_t value, int count) {
    w_.Put(value, count);
    return *this;
  }
  TCraft& Align() {
    w_.Align();
    return *this;
  }
  TCraft& StartCode(std::uint8_t code) {
    w_.StartCode(0x100u + code);
    return *this;
  }
  TCraft& Raw(const std::vector<std::uint8_t>& bytes) {
    w_.Raw(bytes);
    return *this;
  }

  TCraft& SequenceHeader(int frameRateCode, int width = 352, int height = 288) {
    StartCode(0xB3).Bits(static_cast<std::uint32_t>(width), 12).Bits(static_cast<std::uint32_t>(height), 12);
    Bits(1, 4).Bits(static_cast<std::uint32_t>(frameRateCode), 4);
    Bits(0x3FFFF, 18).Bits(1, 1).Bits(112, 10).Bits(0, 1);
    return Bits(0, 1).Bits(0, 1).Align();
  }
  TCraft& SequenceExtension(int progressive = 1, int chroma = 1, int rateN = 0, int rateD = 0) {
    StartCode(0xB5).Bits(1, 4).Bits(0x48, 8).Bits(static_cast<std::uint32_t>(progressive), 1);
    Bits(static_cast<std::uint32_t>(chroma), 2).Bits(0, 2).Bits(0, 2).Bits(0, 12).Bits(1, 1);
    Bits(0, 8).Bits(0, 1).Bits(static_cast<std::uint32_t>(rateN), 2).Bits(static_cast<std::uint32_t>(rateD), 5);
    return Align();
  }
  TCraft& Gop() { return StartCode(0xB8).Bits(0x00080000u, 32).Align(); }
  TCraft& SequenceEnd() { return StartCode(0xB7); }
  // A picture header and picture coding extension, without slices.
  TCraft& Picture(int type, int structure = 3, int temporalReference = 0, bool repeatFirstField = false,
                  bool topFieldFirst = false) {
    StartCode(0x00).Bits(static_cast<std::uint32_t>(temporalReference), 10).Bits(static_cast<std::uint32_t>(type), 3);
    Bits(0xFFFF, 16);
    if (type >= 2) Bits(0, 1).Bits(7, 3);
    if (type == 3) Bits(0, 1).Bits(7, 3);
    Bits(0, 1).Align();
    StartCode(0xB5).Bits(8, 4);
    const std::uint32_t f = type == 1 ? 15 : 1;
    Bits(f, 4).Bits(f, 4).Bits(type == 3 ? 1 : 15, 4).Bits(type == 3 ? 1 : 15, 4);
    Bits(0, 2).Bits(static_cast<std::uint32_t>(structure), 2);
    Bits(topFieldFirst, 1).Bits(1, 1).Bits(0, 1).Bits(0, 1).Bits(0, 1).Bits(0, 1).Bits(repeatFirstField, 1).Bits(0, 1);
    return Bits(1, 1).Bits(0, 1).Align();
  }

  const std::vector<std::uint8_t>& Data() const { return w_.Data(); }
  std::size_t Size() const { return w_.Data().size(); }

private:
  TTestBitWriter w_;
};

} // namespace varlow::test
