#include "transrate/RateDeclaration.h"

#include "syntax/BitStream3.h"
#include "syntax/CodeTables.h"
#include "syntax/HeaderParsers.h"
#include "syntax/StartCodes.h"

namespace varlow {

namespace {

// Bit positions from the first byte of a header's start code.
constexpr std::size_t kBitRateValueBit = 64;      // sequence header: 18 bits
constexpr std::size_t kBitRateExtensionBit = 51;  // sequence extension: 12 bits
constexpr std::size_t kVbvDelayBit = 45;          // picture header: 16 bits
constexpr std::uint32_t kVariableMpeg1Rate = 0x3FFFF;

// Writes the N low bits of Value at bit Pos of Bytes, most significant first.
void PutBits(std::span<std::uint8_t> Bytes, std::size_t Pos, int N, std::uint32_t Value) {
  for (int i = 0; i < N; ++i, ++Pos) {
    const auto mask = static_cast<std::uint8_t>(0x80u >> (Pos & 7));
    const bool bit = (Value >> (N - 1 - i)) & 1u;
    Bytes[Pos >> 3] = static_cast<std::uint8_t>(bit ? Bytes[Pos >> 3] | mask : Bytes[Pos >> 3] & ~mask);
  }
}

bool StartCodeAt(std::span<const std::uint8_t> Bytes, std::size_t At) {
  return At + 3 < Bytes.size() && Bytes[At] == 0 && Bytes[At + 1] == 0 && Bytes[At + 2] == 1;
}

}  // namespace

void TRateDeclaration::Rewrite(std::span<std::uint8_t> Unit) {
  if (!FActive) return;
  FPictureStartEnd = 0;
  for (std::size_t at = 0; at + 3 < Unit.size(); ++at) {
    if (!StartCodeAt(Unit, at)) continue;
    const std::uint8_t code = Unit[at + 3];
    if (code >= 0x01 && code <= 0xAF) return;  // the slices begin: no header follows
    if (code == (kSequenceHeaderCode & 0xFF)) {
      SequenceHeader(Unit, at);
    } else if (code == (kPictureStartCode & 0xFF) && at + 8 <= Unit.size()) {
      PutBits(Unit, at * 8 + kVbvDelayBit, 16, 0xFFFF);
      FPictureStartEnd = at + 4;
    }
    at += 3;
  }
}

void TRateDeclaration::SequenceHeader(std::span<std::uint8_t> Unit, std::size_t At) {
  TBitStream3 reader;
  if (reader.SetData(Unit.data() + At, static_cast<std::int32_t>(Unit.size() - At)) != S_OK) return;
  TSequenceHeaderRec header;
  std::int32_t length = 0;
  if (!Parse_sequence_header(reader, header, length) || reader.Error()) return;
  // The sequence extension, when one follows the header and its matrices.
  std::size_t extension = At + static_cast<std::size_t>(length);
  while (extension + 3 < Unit.size() && !StartCodeAt(Unit, extension)) ++extension;
  TSequenceExtensionRec ext;
  bool haveExtension = false;
  if (StartCodeAt(Unit, extension) && Unit[extension + 3] == (kExtensionStartCode & 0xFF) &&
      extension + 8 <= Unit.size() && (Unit[extension + 4] >> 4) == 1) {
    TBitStream3 extReader;
    haveExtension =
        extReader.SetData(Unit.data() + extension, static_cast<std::int32_t>(Unit.size() - extension)) == S_OK &&
        Parse_sequence_extension(extReader, ext) && !extReader.Error();
  }
  FBufferBits = (std::int64_t{header.vbv_buffer_size_value} +
                 (haveExtension ? std::int64_t{ext.vbv_buffer_size_extension} << 10 : 0)) *
                kVbvBufferSizeUnit;
  FLowDelay = haveExtension && ext.low_delay != 0;
  FRateNow = 0;  // an MPEG-1 variable rate declares none
  if (!haveExtension && header.bit_rate_value == kVariableMpeg1Rate) return;
  const std::int64_t declared =
      (std::int64_t{header.bit_rate_value} + (haveExtension ? std::int64_t{ext.bit_rate_extension} << 18 : 0)) * kBitRateUnit;
  FRateNow = declared;
  if (FRate <= 0) return;
  const std::uint32_t units = RateUnits(FRate);
  if (declared <= std::int64_t{units} * kBitRateUnit) return;
  // Without an extension only 18 bits hold the rate, and all ones would read as variable.
  if (!haveExtension && units >= kVariableMpeg1Rate) return;
  PutBits(Unit, At * 8 + kBitRateValueBit, 18, units & 0x3FFFFu);
  if (haveExtension) PutBits(Unit, extension * 8 + kBitRateExtensionBit, 12, units >> 18);
  FLowered = FRateNow = std::int64_t{units} * kBitRateUnit;
}

}  // namespace varlow
