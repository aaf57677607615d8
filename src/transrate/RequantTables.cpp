#include "transrate/RequantTables.h"

#include "slice/VLCCodeLists.h"
#include "slice/VLCConstTables.h"

namespace varlow {

namespace {

TVlcCode FromBits(std::string_view bits) {
  const TBitString b = ParseBitString(bits);
  return {static_cast<std::uint32_t>(b.Code) >> (16 - b.Length), b.Length};
}

// The code of every value of a constant table indexed by `width` leading bits: the shortest
// index range that decodes to it.
template <std::size_t N, std::size_t M>
void Invert(const std::array<TCodeEntry, N>& table, int width, std::array<TVlcCode, M>& into) {
  for (std::size_t i = 0; i < N; ++i) {
    const TCodeEntry& e = table[i];
    if (e.Length <= 0 || e.Length > width || e.Value < 0 || static_cast<std::size_t>(e.Value) >= M) continue;
    TVlcCode& c = into[static_cast<std::size_t>(e.Value)];
    if (c.Length == 0) c = {static_cast<std::uint32_t>(i) >> (width - e.Length), e.Length};
  }
}

} // namespace

TRequantCodes::TRequantCodes() {
  const auto addDct = [this](int table, const TDctCode& code) {
    if (code.Run > kMaxRun || code.Level > kMaxLevel) return;
    FRunLevel[static_cast<std::size_t>(table)][code.Run][code.Level] = FromBits(code.Bits);
  };
  for (const TDctCode& c : kTableB14) addDct(0, c);
  for (const TDctCode& c : kTableB15) addDct(1, c);
  for (const TDctCode& c : kDctLongCodes) {
    addDct(0, c);
    addDct(1, c);
  }
  for (const TValueCode& c : kTableB9) FCbp[static_cast<std::size_t>(c.Value & 63)] = FromBits(c.Bits);
  // I pictures: "1" intra, "01" intra with a quantiser.
  FType[0][kMacroblockIntra] = {1, 1};
  FType[0][kMacroblockIntra | kMacroblockQuant] = {1, 2};
  Invert(kMacroblockTypeP, 6, FType[1]);
  Invert(kMacroblockTypeB, 6, FType[2]);
  // The second stage is indexed by the low 7 of 11 bits whose first four are zero.
  Invert(kAddressIncrementStage1, 5, FIncrement);
  Invert(kAddressIncrementStage2, 11, FIncrement);
}

const TRequantCodes& TRequantCodes::Shared() {
  static const TRequantCodes codes;
  return codes;
}

} // namespace varlow
