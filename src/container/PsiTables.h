#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "container/FieldReader.h"

namespace varlow {

struct TPatProgram {
  std::uint16_t program_number = 0;
  std::uint16_t PID = 0;  // network_PID for program 0, program_map_PID otherwise
};

// A program association section, from its table_id on.
struct TPat {
  bool Ok = false;
  std::uint16_t transport_stream_id = 0;
  std::vector<TPatProgram> Programs;
};

struct TPmtStream {
  std::uint8_t stream_type = 0;
  std::uint16_t elementary_PID = 0;
  std::vector<std::uint8_t> Descriptors;
};

// A program map section, from its table_id on.
struct TPmt {
  bool Ok = false;
  std::uint16_t program_number = 0;
  std::uint16_t PCR_PID = 0;
  std::vector<TPmtStream> Streams;
};

// Bytes a section takes from its table_id on (3 + section_length); 0 when fewer than 3 bytes.
inline std::int32_t SectionSize(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 3) return 0;
  return 3 + ((bytes[1] & 0x0F) << 8 | bytes[2]);
}

template <class Sink>
TPat ReadPat(std::span<const std::uint8_t> section, Sink& sink) {
  TPat pat;
  TFieldReader<Sink> r(section, sink);
  if (r.Field("table_id", 8) != 0x00) return pat;
  r.Field("section_syntax_indicator", 1);
  r.Field("'0'", 1);
  r.Field("reserved", 2);
  const auto length = static_cast<std::int64_t>(r.Field("section_length", 12));
  const std::int64_t crcAt = 3 + length - 4;
  if (length < 9 || 3 + length > static_cast<std::int64_t>(section.size())) return pat;
  pat.transport_stream_id = static_cast<std::uint16_t>(r.Field("transport_stream_id", 16));
  r.Field("reserved", 2);
  r.Field("version_number", 5);
  r.Field("current_next_indicator", 1);
  r.Field("section_number", 8);
  r.Field("last_section_number", 8);
  while (r.BytePos() + 4 <= crcAt) {
    TPatProgram p;
    p.program_number = static_cast<std::uint16_t>(r.Field("program_number", 16));
    r.Field("reserved", 3);
    p.PID = static_cast<std::uint16_t>(r.Field(p.program_number == 0 ? "network_PID" : "program_map_PID", 13));
    pat.Programs.push_back(p);
  }
  r.Field("CRC_32", 32);
  pat.Ok = r.Ok();
  return pat;
}

template <class Sink>
TPmt ReadPmt(std::span<const std::uint8_t> section, Sink& sink) {
  TPmt pmt;
  TFieldReader<Sink> r(section, sink);
  if (r.Field("table_id", 8) != 0x02) return pmt;
  r.Field("section_syntax_indicator", 1);
  r.Field("'0'", 1);
  r.Field("reserved", 2);
  const auto length = static_cast<std::int64_t>(r.Field("section_length", 12));
  const std::int64_t crcAt = 3 + length - 4;
  if (length < 13 || 3 + length > static_cast<std::int64_t>(section.size())) return pmt;
  pmt.program_number = static_cast<std::uint16_t>(r.Field("program_number", 16));
  r.Field("reserved", 2);
  r.Field("version_number", 5);
  r.Field("current_next_indicator", 1);
  r.Field("section_number", 8);
  r.Field("last_section_number", 8);
  r.Field("reserved", 3);
  pmt.PCR_PID = static_cast<std::uint16_t>(r.Field("PCR_PID", 13));
  r.Field("reserved", 4);
  const auto infoLength = static_cast<std::int64_t>(r.Field("program_info_length", 12));
  r.SkipBytes(infoLength);
  while (r.Ok() && r.BytePos() + 5 <= crcAt) {
    TPmtStream s;
    s.stream_type = static_cast<std::uint8_t>(r.Field("stream_type", 8));
    r.Field("reserved", 3);
    s.elementary_PID = static_cast<std::uint16_t>(r.Field("elementary_PID", 13));
    r.Field("reserved", 4);
    const auto esInfo = static_cast<std::int64_t>(r.Field("ES_info_length", 12));
    const std::int64_t from = r.BytePos();
    if (from + esInfo > crcAt) break;
    s.Descriptors.assign(section.begin() + from, section.begin() + from + esInfo);
    r.SkipBytes(esInfo);
    pmt.Streams.push_back(std::move(s));
  }
  pmt.Ok = r.Ok();
  return pmt;
}

} // namespace varlow
