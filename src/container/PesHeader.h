#pragma once
#include <cstdint>
#include <span>

#include "container/FieldReader.h"

namespace varlow {

inline constexpr std::uint64_t kNoTimestamp = ~std::uint64_t{0};

// Stream ids whose PES packets carry no optional header (program_stream_map, padding,
// private_stream_2, ECM, EMM, directory, DSM-CC, H.222.1 type E).
constexpr bool PesHasNoOptionalHeader(std::uint8_t id) {
  return id == 0xBC || id == 0xBE || id == 0xBF || id == 0xF0 || id == 0xF1 || id == 0xFF || id == 0xF2 ||
         id == 0xF8;
}
constexpr bool IsVideoStreamId(std::uint8_t id) { return (id & 0xF0) == 0xE0; }
constexpr bool IsAudioStreamId(std::uint8_t id) { return (id & 0xE0) == 0xC0; }

// A PES packet's header: the fixed part and, for MPEG-2 syntax, the optional header; for the
// MPEG-1 syntax of system streams, stuffing, STD buffer and time stamps.
struct TPesHeader {
  bool Ok = false;               // a packet start code prefix and a whole header
  std::uint8_t stream_id = 0;
  std::uint16_t PES_packet_length = 0;
  bool Mpeg2 = false;            // the optional header has the '10' syntax
  std::uint8_t PES_scrambling_control = 0;
  std::uint8_t PTS_DTS_flags = 0;
  std::uint8_t PES_header_data_length = 0;
  std::uint64_t PTS = kNoTimestamp;
  std::uint64_t DTS = kNoTimestamp;
  std::int32_t HeaderSize = 0;   // bytes from the packet start code to the first payload byte
  // Bytes the packet takes from its start code on (6 + PES_packet_length); 0 when unbounded.
  std::int64_t PacketSize() const { return PES_packet_length == 0 ? 0 : 6 + std::int64_t{PES_packet_length}; }
};

namespace detail {
// A 33-bit time stamp as written in PES and pack headers: 3 + 15 + 15 bits, each followed by a
// marker bit; one element for the whole stamp, markers included (36 bits).
template <class Sink>
std::uint64_t ReadStamp(TFieldReader<Sink>& r, const char* name) {
  const std::int64_t at = r.BitPos();
  const std::uint64_t high = r.Bits(3);
  r.Bits(1);
  const std::uint64_t mid = r.Bits(15);
  r.Bits(1);
  const std::uint64_t low = r.Bits(15);
  r.Bits(1);
  const std::uint64_t value = high << 30 | mid << 15 | low;
  r.Listener()(name, value, at, 36);
  return value;
}

// A PES time stamp: its 4-bit prefix, then the stamp.
template <class Sink>
std::uint64_t ReadTimestamp(TFieldReader<Sink>& r, const char* prefixName, const char* name) {
  r.Field(prefixName, 4);
  return ReadStamp(r, name);
}
} // namespace detail

// Reads the PES header at the front of `bytes` (from its 00 00 01 on).
template <class Sink>
TPesHeader ReadPesHeader(std::span<const std::uint8_t> bytes, Sink& sink, bool mpeg1Syntax = false) {
  TPesHeader h;
  TFieldReader<Sink> r(bytes, sink);
  if (r.Field("packet_start_code_prefix", 24) != 1) return h;
  h.stream_id = static_cast<std::uint8_t>(r.Field("stream_id", 8));
  h.PES_packet_length = static_cast<std::uint16_t>(r.Field("PES_packet_length", 16));
  if (h.stream_id < 0xBC) return h;
  if (PesHasNoOptionalHeader(h.stream_id)) {
    h.HeaderSize = 6;
    h.Ok = r.Ok();
    return h;
  }
  if (!mpeg1Syntax && r.Peek(2) == 2) {
    h.Mpeg2 = true;
    r.Field("'10'", 2);
    h.PES_scrambling_control = static_cast<std::uint8_t>(r.Field("PES_scrambling_control", 2));
    r.Field("PES_priority", 1);
    r.Field("data_alignment_indicator", 1);
    r.Field("copyright", 1);
    r.Field("original_or_copy", 1);
    h.PTS_DTS_flags = static_cast<std::uint8_t>(r.Field("PTS_DTS_flags", 2));
    r.Field("ESCR_flag", 1);
    r.Field("ES_rate_flag", 1);
    r.Field("DSM_trick_mode_flag", 1);
    r.Field("additional_copy_info_flag", 1);
    r.Field("PES_CRC_flag", 1);
    r.Field("PES_extension_flag", 1);
    h.PES_header_data_length = static_cast<std::uint8_t>(r.Field("PES_header_data_length", 8));
    const std::int64_t end = 9 + std::int64_t{h.PES_header_data_length};
    if ((h.PTS_DTS_flags & 2) && end >= 14) h.PTS = detail::ReadTimestamp(r, "'001x'", "PTS");
    if (h.PTS_DTS_flags == 3 && end >= 19) h.DTS = detail::ReadTimestamp(r, "'0001'", "DTS");
    h.HeaderSize = static_cast<std::int32_t>(end);
    h.Ok = r.Ok() && static_cast<std::int64_t>(bytes.size()) >= end;
    if (h.PES_packet_length != 0 && h.HeaderSize > 6 + h.PES_packet_length) h.Ok = false;
    return h;
  }
  // MPEG-1 syntax: up to 16 stuffing bytes, the STD buffer, then the time stamps.
  for (int i = 0; i < 16 && r.Peek(8) == 0xFF; ++i) r.Field("stuffing_byte", 8);
  if (r.Peek(2) == 1) {
    r.Field("'01'", 2);
    r.Field("STD_buffer_scale", 1);
    r.Field("STD_buffer_size", 13);
  }
  const std::uint64_t next = r.Peek(4);
  if (next == 2) {
    h.PTS_DTS_flags = 2;
    h.PTS = detail::ReadTimestamp(r, "'0010'", "PTS");
  } else if (next == 3) {
    h.PTS_DTS_flags = 3;
    h.PTS = detail::ReadTimestamp(r, "'0011'", "PTS");
    h.DTS = detail::ReadTimestamp(r, "'0001'", "DTS");
  } else if (r.Peek(8) == 0x0F) {
    r.Field("'00001111'", 8);
  } else {
    return h;  // no valid MPEG-1 packet header
  }
  h.HeaderSize = static_cast<std::int32_t>(r.BytePos());
  h.Ok = r.Ok();
  if (h.PES_packet_length != 0 && h.HeaderSize > 6 + h.PES_packet_length) h.Ok = false;
  return h;
}

} // namespace varlow
