#pragma once
#include <cstdint>
#include <span>

#include "container/FieldReader.h"

namespace varlow {

inline constexpr std::uint8_t kTsSyncByte = 0x47;
inline constexpr std::uint16_t kNullPid = 0x1FFF;
inline constexpr std::int32_t kTsPacketSize = 188;  // without the 4-byte prefix or parity bytes

// The header and adaptation field of one 188-byte transport packet.
struct TTsPacketHeader {
  bool Ok = false;  // the header and adaptation field lie wholly in the packet
  std::uint8_t sync_byte = 0;
  bool transport_error_indicator = false;
  bool payload_unit_start_indicator = false;
  std::uint16_t PID = 0;
  std::uint8_t transport_scrambling_control = 0;
  std::uint8_t adaptation_field_control = 0;
  std::uint8_t continuity_counter = 0;
  std::uint8_t adaptation_field_length = 0;
  bool discontinuity_indicator = false;
  bool random_access_indicator = false;
  bool PCR_flag = false;
  std::uint64_t program_clock_reference_base = 0;
  std::uint16_t program_clock_reference_extension = 0;
  std::int32_t PayloadOffset = kTsPacketSize;  // first payload byte; kTsPacketSize when none

  bool HasPayload() const { return (adaptation_field_control & 1) != 0 && PayloadOffset < kTsPacketSize; }
  std::uint64_t Pcr() const { return program_clock_reference_base * 300 + program_clock_reference_extension; }
};

// Reads a transport packet's header and adaptation field from `packet` (its 188 bytes, from the
// sync byte on), handing every element to `sink`.
template <class Sink>
TTsPacketHeader ReadTsPacketHeader(std::span<const std::uint8_t> packet, Sink& sink) {
  TTsPacketHeader h;
  TFieldReader<Sink> r(packet.first(packet.size() < kTsPacketSize ? packet.size() : kTsPacketSize), sink);
  h.sync_byte = static_cast<std::uint8_t>(r.Field("sync_byte", 8));
  h.transport_error_indicator = r.Field("transport_error_indicator", 1) != 0;
  h.payload_unit_start_indicator = r.Field("payload_unit_start_indicator", 1) != 0;
  r.Field("transport_priority", 1);
  h.PID = static_cast<std::uint16_t>(r.Field("PID", 13));
  h.transport_scrambling_control = static_cast<std::uint8_t>(r.Field("transport_scrambling_control", 2));
  h.adaptation_field_control = static_cast<std::uint8_t>(r.Field("adaptation_field_control", 2));
  h.continuity_counter = static_cast<std::uint8_t>(r.Field("continuity_counter", 4));
  std::int32_t payload = 4;
  if (h.adaptation_field_control & 2) {
    h.adaptation_field_length = static_cast<std::uint8_t>(r.Field("adaptation_field_length", 8));
    const std::int64_t end = 5 + h.adaptation_field_length;
    payload = static_cast<std::int32_t>(end);
    if (h.adaptation_field_length > 0) {
      h.discontinuity_indicator = r.Field("discontinuity_indicator", 1) != 0;
      h.random_access_indicator = r.Field("random_access_indicator", 1) != 0;
      r.Field("elementary_stream_priority_indicator", 1);
      h.PCR_flag = r.Field("PCR_flag", 1) != 0;
      const bool opcr = r.Field("OPCR_flag", 1) != 0;
      const bool splicing = r.Field("splicing_point_flag", 1) != 0;
      const bool priv = r.Field("transport_private_data_flag", 1) != 0;
      r.Field("adaptation_field_extension_flag", 1);
      if (h.PCR_flag && r.BytePos() + 6 <= end) {
        h.program_clock_reference_base = r.Field("program_clock_reference_base", 33);
        r.Field("reserved", 6);
        h.program_clock_reference_extension = static_cast<std::uint16_t>(r.Field("program_clock_reference_extension", 9));
      }
      if (opcr && r.BytePos() + 6 <= end) {
        r.Field("original_program_clock_reference_base", 33);
        r.Field("reserved", 6);
        r.Field("original_program_clock_reference_extension", 9);
      }
      if (splicing && r.BytePos() + 1 <= end) r.Field("splice_countdown", 8);
      if (priv && r.BytePos() + 1 <= end) {
        const auto length = static_cast<std::int64_t>(r.Field("transport_private_data_length", 8));
        r.SkipBytes(length < end - r.BytePos() ? length : end - r.BytePos());
      }
    }
  }
  h.PayloadOffset = payload < kTsPacketSize ? payload : kTsPacketSize;
  h.Ok = r.Ok() && h.sync_byte == kTsSyncByte && h.adaptation_field_control != 0 && payload <= kTsPacketSize &&
         (h.adaptation_field_control != 2 || payload == kTsPacketSize);
  return h;
}

} // namespace varlow
