#include "slice/VLC_Table_Builder.h"

#include <algorithm>
#include <cstring>

#include "slice/VLCCodeLists.h"
#include "support/Trap.h"

namespace varlow {

template <class Entry>
std::string TLookupTableBuilder<Entry>::Where(std::string_view operation) const {
  std::string where(FClassName);
  where += '.';
  where += operation;
  return where;
}

template <class Entry>
std::uint16_t TLookupTableBuilder<Entry>::CorrectValue(std::uint16_t Code, std::int32_t Len) const noexcept {
  std::uint16_t result = 0;
  Trap(Where("CorrectValue"), [&] {
    if (Len <= 0) return;
    std::uint32_t keep = Len >= 16 ? 0xFFFFu : (0xFFFFu << (16 - Len)) & 0xFFFFu;
    result = static_cast<std::uint16_t>(Code & keep);
  });
  return result;
}

template <class Entry>
bool TLookupTableBuilder<Entry>::Add(std::uint16_t Code, std::int32_t Len, Entry entry) noexcept {
  return Trap(Where("AddEntry"), [&] {
    if (Len < 1 || Len > 16) throw std::invalid_argument("code length");
    Record record{CorrectValue(Code, Len), Len, entry};
    auto at = std::lower_bound(FEntries.begin(), FEntries.end(), record.Code,
                               [](const Record& r, std::uint16_t code) { return r.Code < code; });
    FEntries.insert(at, record);
  });
}

template <class Entry>
bool TLookupTableBuilder<Entry>::BuildTable() noexcept {
  return Trap(Where("BuildTable"), [&] {
    FTable.reset();
    FTable = std::make_unique<Entry[]>(kLookupTableSize);
    std::memset(static_cast<void*>(FTable.get()), kNoCodeMarker, sizeof(Entry) * kLookupTableSize);
    for (const Record& r : FEntries) {
      std::uint32_t last = r.Code | (0xFFFFu >> r.Length);
      std::fill(FTable.get() + r.Code, FTable.get() + last + 1, r.Values);
    }
  });
}

template class TLookupTableBuilder<TDctTableEntry>;
template class TLookupTableBuilder<TCBPTableEntry>;
template class TLookupTableBuilder<TMVTableEntry>;

// ---- DCT coefficient tables ----

// AddEntry, CorrectValue and BuildTable of both DCT tables report under the base class name.
TBaseVLCTableBuilder::TBaseVLCTableBuilder() : TLookupTableBuilder("TBaseVLCTableBuilder") {}

TBaseVLCTableBuilder::~TBaseVLCTableBuilder() {
  Trap("TBaseVLCTableBuilder.Destroy", [] {});
}

bool TBaseVLCTableBuilder::AddEntry(std::uint16_t Code, std::int32_t Len, std::int32_t Run,
                                    std::int32_t Level) noexcept {
  return Add(Code, Len,
             TDctTableEntry{static_cast<std::uint8_t>(Len), static_cast<std::uint8_t>(Run),
                            static_cast<std::uint8_t>(Level)});
}

namespace {

template <class Builder, class List>
void RegisterDct(Builder& builder, const List& codes) {
  for (const TDctCode& c : codes) {
    TBitString bits = ParseBitString(c.Bits);
    builder.AddEntry(bits.Code, bits.Length, c.Run, c.Level);
  }
}

}  // namespace

TB15VLCTableBuilder::TB15VLCTableBuilder()  {
  Trap("TB15VLCTableBuilder.Create", [&] {
    RegisterDct(*this, kTableB15);
    RegisterDct(*this, kDctLongCodes);
    BuildTable();
  });
}

TB15VLCTableBuilder::~TB15VLCTableBuilder() {
  Trap("TB15VLCTableBuilder.Destroy", [] {});
}

TB14VLCTableBuilder::TB14VLCTableBuilder()  {
  Trap("TB14VLCTableBuilder.Create", [&] {
    RegisterDct(*this, kTableB14);
    RegisterDct(*this, kDctLongCodes);
    BuildTable();
  });
}

TB14VLCTableBuilder::~TB14VLCTableBuilder() {
  Trap("TB14VLCTableBuilder.Destroy", [] {});
}

// ---- coded_block_pattern and motion_code ----

TCBPTableBuilder::TCBPTableBuilder() : TLookupTableBuilder("TCBPTableBuilder") {
  Trap("TCBPTableBuilder.Create", [&] {
    for (const TValueCode& c : kTableB9) {
      TBitString bits = ParseBitString(c.Bits);
      AddEntry(bits.Code, bits.Length, c.Value);
    }
    BuildTable();
  });
}

TCBPTableBuilder::~TCBPTableBuilder() {
  Trap("TCBPTableBuilder.Destroy", [] {});
}

bool TCBPTableBuilder::AddEntry(std::uint16_t Code, std::int32_t Len, std::int32_t Value) noexcept {
  return Add(Code, Len, TCBPTableEntry{static_cast<std::uint8_t>(Len), static_cast<std::uint8_t>(Value)});
}

TMVTableBuilder::TMVTableBuilder() : TLookupTableBuilder("TMVTableBuilder") {
  Trap("TMVTableBuilder.Create", [&] {
    for (const TValueCode& c : kTableB10) {
      TBitString bits = ParseBitString(c.Bits);
      AddEntry(bits.Code, bits.Length, c.Value);
    }
    BuildTable();
  });
}

TMVTableBuilder::~TMVTableBuilder() {
  Trap("TMVTableBuilder.Destroy", [] {});
}

bool TMVTableBuilder::AddEntry(std::uint16_t Code, std::int32_t Len, std::int32_t Value) noexcept {
  return Add(Code, Len, TMVTableEntry{static_cast<std::uint8_t>(Len), static_cast<std::int8_t>(Value)});
}

const TVlcTables& TVlcTables::Shared() {
  static const TVlcTables tables;
  return tables;
}

}  // namespace varlow
