#pragma once
#include <cstdint>
#include <span>

#include "container/FieldReader.h"
#include "container/PesHeader.h"

namespace varlow {

inline constexpr std::uint8_t kPackStartCode = 0xBA;
inline constexpr std::uint8_t kSystemHeaderStartCode = 0xBB;
inline constexpr std::uint8_t kProgramEndCode = 0xB9;
inline constexpr std::uint8_t kProgramStreamMapId = 0xBC;

// A program stream's pack header: the MPEG-2 form (14 bytes and stuffing) or the MPEG-1 form of
// system streams (12 bytes).
struct TPackHeader {
  bool Ok = false;
  bool Mpeg2 = false;
  std::uint64_t system_clock_reference_base = 0;
  std::uint16_t system_clock_reference_extension = 0;
  std::uint32_t program_mux_rate = 0;  // in units of 50 bytes/s
  std::int32_t Size = 0;               // bytes the header takes, stuffing included
  std::uint64_t Scr() const { return system_clock_reference_base * 300 + system_clock_reference_extension; }
};

template <class Sink>
TPackHeader ReadPackHeader(std::span<const std::uint8_t> bytes, Sink& sink) {
  TPackHeader h;
  TFieldReader<Sink> r(bytes, sink);
  if (r.Field("pack_start_code", 32) != 0x1BA) return h;
  const auto stamp = [&](const char* name) { return detail::ReadStamp(r, name); };
  if (r.Peek(2) == 1) {
    h.Mpeg2 = true;
    r.Field("'01'", 2);
    h.system_clock_reference_base = stamp("system_clock_reference_base");
    // The stamp's last marker is read with it; the extension follows.
    h.system_clock_reference_extension = static_cast<std::uint16_t>(r.Field("system_clock_reference_extension", 9));
    r.Field("marker_bit", 1);
    h.program_mux_rate = static_cast<std::uint32_t>(r.Field("program_mux_rate", 22));
    r.Field("marker_bit", 1);
    r.Field("marker_bit", 1);
    r.Field("reserved", 5);
    const auto stuffing = static_cast<std::int32_t>(r.Field("pack_stuffing_length", 3));
    r.SkipBytes(stuffing);
    h.Size = 14 + stuffing;
  } else if (r.Peek(4) == 2) {
    r.Field("'0010'", 4);
    h.system_clock_reference_base = stamp("system_clock_reference");
    r.Field("marker_bit", 1);
    h.program_mux_rate = static_cast<std::uint32_t>(r.Field("mux_rate", 22));
    r.Field("marker_bit", 1);
    h.Size = 12;
  } else {
    return h;
  }
  h.Ok = r.Ok();
  return h;
}

// A system header's fixed part and its stream bounds; Size is 6 + header_length.
struct TSystemHeader {
  bool Ok = false;
  std::uint16_t header_length = 0;
  std::uint32_t rate_bound = 0;
  std::int32_t Size = 0;
};

template <class Sink>
TSystemHeader ReadSystemHeader(std::span<const std::uint8_t> bytes, Sink& sink) {
  TSystemHeader h;
  TFieldReader<Sink> r(bytes, sink);
  if (r.Field("system_header_start_code", 32) != 0x1BB) return h;
  h.header_length = static_cast<std::uint16_t>(r.Field("header_length", 16));
  h.Size = 6 + h.header_length;
  const std::int64_t end = h.Size;
  if (h.header_length < 6) return h;
  r.Field("marker_bit", 1);
  h.rate_bound = static_cast<std::uint32_t>(r.Field("rate_bound", 22));
  r.Field("marker_bit", 1);
  r.Field("audio_bound", 6);
  r.Field("fixed_flag", 1);
  r.Field("CSPS_flag", 1);
  r.Field("system_audio_lock_flag", 1);
  r.Field("system_video_lock_flag", 1);
  r.Field("marker_bit", 1);
  r.Field("video_bound", 5);
  r.Field("packet_rate_restriction_flag", 1);
  r.Field("reserved_bits", 7);
  while (r.BytePos() + 3 <= end && r.Peek(1) == 1) {
    r.Field("stream_id", 8);
    r.Field("'11'", 2);
    r.Field("P-STD_buffer_bound_scale", 1);
    r.Field("P-STD_buffer_size_bound", 13);
  }
  h.Ok = r.Ok() && static_cast<std::int64_t>(bytes.size()) >= end;
  return h;
}

} // namespace varlow
