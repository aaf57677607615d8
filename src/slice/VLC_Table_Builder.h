#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace varlow {

// Lookup tables for the variable-length codes of the slice layer that are decoded with one
// 16-bit peek: the DCT coefficient tables B-14 and B-15, coded_block_pattern (B-9) and
// motion_code (B-10). Entry i of a table describes the code whose bits are a prefix of i
// written as 16 bits; the caller skips Length bits afterwards (and, for a DCT run/level code,
// reads the sign bit that follows).

inline constexpr std::int32_t kLookupTableSize = 65536;

// Markers in the run and level bytes of the DCT tables, and in every byte of an entry that
// no code starts (the length byte too).
inline constexpr std::uint8_t kEndOfBlockMarker = 65;
inline constexpr std::uint8_t kEscapeMarker = 66;
inline constexpr std::uint8_t kNoCodeMarker = 67;

struct TDctTableEntry {
  std::uint8_t Length;  // code length without the sign bit
  std::uint8_t Run;     // or kEndOfBlockMarker / kEscapeMarker / kNoCodeMarker
  std::uint8_t Level;   // magnitude; the marker again for the three markers
};
static_assert(sizeof(TDctTableEntry) == 3);

struct TCBPTableEntry {
  std::uint8_t Length;  // kNoCodeMarker when no code starts here
  std::uint8_t Value;   // coded_block_pattern_420 (kNoCodeMarker when no code)
};

struct TMVTableEntry {
  std::uint8_t Length;  // kNoCodeMarker when no code starts here
  std::int8_t Value;    // motion_code -16..16 (kNoCodeMarker when no code)
};

// The mechanics every builder shares: a list of registered codes and the 65,536-entry table
// built from it. `Record` holds the corrected code, its length and the entry's values.
template <class Entry>
class TLookupTableBuilder {
public:
  TLookupTableBuilder(const TLookupTableBuilder&) = delete;
  TLookupTableBuilder& operator=(const TLookupTableBuilder&) = delete;
  virtual ~TLookupTableBuilder() = default;

  // Keeps the top `Len` bits of the left-aligned `Code` and clears the rest.
  std::uint16_t CorrectValue(std::uint16_t Code, std::int32_t Len) const noexcept;
  // Fills the table with kNoCodeMarker, then writes every registered code over the range of
  // indices it prefixes. Returns false (logged) on failure.
  bool BuildTable() noexcept;
  // The built table (kLookupTableSize entries), null before BuildTable.
  const Entry* Table() const noexcept { return FTable.get(); }
  std::size_t EntryCount() const noexcept { return FEntries.size(); }

protected:
  explicit TLookupTableBuilder(std::string_view className) : FClassName(className) {}
  // Adds the entry for a code; `entry.Length` must hold the code length.
  bool Add(std::uint16_t Code, std::int32_t Len, Entry entry) noexcept;
  std::string Where(std::string_view operation) const;

private:
  struct Record {
    std::uint16_t Code;  // corrected, left-aligned
    std::int32_t Length;
    Entry Values;
  };
  std::string_view FClassName;
  std::vector<Record> FEntries;  // kept sorted by code
  std::unique_ptr<Entry[]> FTable;
};

// DCT coefficient tables: entries (length, run, level).
class TBaseVLCTableBuilder : public TLookupTableBuilder<TDctTableEntry> {
public:
  TBaseVLCTableBuilder();
  ~TBaseVLCTableBuilder() override;
  bool AddEntry(std::uint16_t Code, std::int32_t Len, std::int32_t Run, std::int32_t Level) noexcept;
};

// Table B-15 (intra blocks with intra_vlc_format = 1): 111 run/level codes without their sign
// bit, end of block 0110 and escape 000001.
class TB15VLCTableBuilder final : public TBaseVLCTableBuilder {
public:
  TB15VLCTableBuilder();
  ~TB15VLCTableBuilder() override;
};

// Table B-14 for every coefficient but the first of a non-intra block: end of block 10, the
// code 11 as run 0 level 1, 110 further run/level codes and escape 000001.
class TB14VLCTableBuilder final : public TBaseVLCTableBuilder {
public:
  TB14VLCTableBuilder();
  ~TB14VLCTableBuilder() override;
};

// Table B-9, coded_block_pattern_420: all 64 codes.
class TCBPTableBuilder final : public TLookupTableBuilder<TCBPTableEntry> {
public:
  TCBPTableBuilder();
  ~TCBPTableBuilder() override;
  bool AddEntry(std::uint16_t Code, std::int32_t Len, std::int32_t Value) noexcept;
};

// Table B-10, motion_code -16..16.
class TMVTableBuilder final : public TLookupTableBuilder<TMVTableEntry> {
public:
  TMVTableBuilder();
  ~TMVTableBuilder() override;
  bool AddEntry(std::uint16_t Code, std::int32_t Len, std::int32_t Value) noexcept;
};

// The four built tables. They never change after construction, so one set serves every
// analyser and transcoder of the process: Shared() builds it on first use.
struct TVlcTables {
  TB15VLCTableBuilder B15;
  TB14VLCTableBuilder B14;
  TCBPTableBuilder CBP;
  TMVTableBuilder MV;

  static const TVlcTables& Shared();
};

// A code written as text ("0000 0011 001", spaces ignored) as a left-aligned 16-bit word and
// its length. Used to register the tables in the standard's own notation.
struct TBitString {
  std::uint16_t Code;
  std::int32_t Length;
};
constexpr TBitString ParseBitString(std::string_view bits) {
  std::uint16_t code = 0;
  std::int32_t length = 0;
  for (char c : bits) {
    if (c != '0' && c != '1') continue;
    if (c == '1') code |= static_cast<std::uint16_t>(0x8000u >> length);
    ++length;
  }
  return {code, length};
}

}  // namespace varlow
