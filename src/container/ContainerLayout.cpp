#include "container/ContainerLayout.h"

#include <algorithm>
#include <map>
#include <set>

#include "container/PackHeader.h"
#include "container/PesHeader.h"
#include "container/PsiTables.h"
#include "container/TransportPacket.h"
#include "support/Format.h"

namespace varlow {

namespace {

constexpr std::int32_t kProbePackets = 8;          // consecutive sync bytes that make a transport stream
constexpr std::int64_t kListFirstBytes = 1 << 20;  // where the stream list is looked for first
constexpr std::int64_t kListScanBytes = 8 << 20;   // and how far at most

// The stream's kind from the start of its first payload: what a PMT's stream_type 0x06 or a
// program stream's E0 id does not say.
std::string SniffVideo(std::span<const std::uint8_t> payload, bool* mpeg12) {
  *mpeg12 = false;
  for (std::size_t i = 0; i + 4 <= payload.size(); ++i) {
    if (payload[i] != 0 || payload[i + 1] != 0 || payload[i + 2] != 1) continue;
    const std::uint8_t code = payload[i + 3];
    if (code == 0xB3 || code == 0xB8 || code == 0x00) {
      *mpeg12 = true;
      for (std::size_t j = i + 4; j + 4 <= payload.size(); ++j) {
        if (payload[j] != 0 || payload[j + 1] != 0 || payload[j + 2] != 1) continue;
        if (payload[j + 3] == 0xB5) return "MPEG-2 video";
        if (payload[j + 3] == 0xB8 || payload[j + 3] == 0x00) return "MPEG-1 video";
      }
      return "MPEG-1/2 video";
    }
    if (code == 0x09 || code == 0x67 || code == 0x27 || code == 0x47) return "H.264 video";
    if (code == 0x40 || code == 0x42 || code == 0x46) return "HEVC video";
    if (code == 0xB0 || code == 0xB5 || (code >= 0x20 && code <= 0x2F)) return "MPEG-4 video";
    return "video";
  }
  return "video";
}

std::string PrivateStreamCodec(std::uint8_t sub) {
  if (sub >= 0x80 && sub <= 0x87) return "AC-3 audio";
  if (sub >= 0x88 && sub <= 0x8F) return "DTS audio";
  if (sub >= 0xA0 && sub <= 0xA7) return "LPCM audio";
  if (sub >= 0x20 && sub <= 0x3F) return "DVD subpictures";
  return "private stream 1";
}

// A DVB private-data stream's kind from its descriptors.
std::string CodecOfDescriptors(std::span<const std::uint8_t> d) {
  for (std::size_t i = 0; i + 2 <= d.size(); i += 2 + d[i + 1]) {
    switch (d[i]) {
    case 0x6A: return "AC-3 audio";
    case 0x7A: return "E-AC-3 audio";
    case 0x7B: return "DTS audio";
    case 0x56: return "teletext";
    case 0x59: return "DVB subtitles";
    case 0x05:
      if (i + 6 <= d.size() && d[i + 2] == 'A' && d[i + 3] == 'C' && d[i + 4] == '-' && d[i + 5] == '3') return "AC-3 audio";
      break;
    default: break;
    }
  }
  return "private data";
}

bool IsPackStart(std::span<const std::uint8_t> b) {
  return b.size() >= 5 && b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] == kPackStartCode &&
         ((b[4] & 0xC0) == 0x40 || (b[4] & 0xF0) == 0x20);
}

// `complete`: the tables were found and every stream they list has shown its first packet.
std::vector<TContainerStream> ListTransportStreams(std::span<const std::uint8_t> bytes, const TContainerFormat& f,
                                                   bool& complete) {
  TNoElements none;
  std::map<std::uint16_t, std::vector<std::uint8_t>> sections;  // PID -> section being gathered
  std::optional<TPat> pat;
  std::map<std::uint16_t, TPmt> pmts;           // PMT PID -> table
  std::map<std::uint16_t, std::vector<std::uint8_t>> firstPayload;  // PID -> its first PES
  std::vector<std::uint16_t> pesOrder;
  const auto pmtPids = [&] {
    std::set<std::uint16_t> pids;
    if (pat) for (const TPatProgram& p : pat->Programs) if (p.program_number != 0) pids.insert(p.PID);
    return pids;
  };
  for (std::int64_t at = f.FirstPacket; at + f.PacketSize <= static_cast<std::int64_t>(bytes.size()); at += f.PacketSize) {
    const auto packet = bytes.subspan(static_cast<std::size_t>(at + f.SyncOffset), kTsPacketSize);
    if (packet[0] != kTsSyncByte) continue;
    const TTsPacketHeader h = ReadTsPacketHeader(packet, none);
    if (!h.Ok || !h.HasPayload() || h.transport_scrambling_control != 0) continue;
    auto payload = packet.subspan(static_cast<std::size_t>(h.PayloadOffset));
    const std::set<std::uint16_t> pmtPid = pmtPids();
    if (h.PID == 0 || pmtPid.count(h.PID)) {
      std::vector<std::uint8_t>& s = sections[h.PID];
      if (h.payload_unit_start_indicator) {
        const std::size_t pointer = payload[0];
        if (pointer + 1 > payload.size()) continue;
        s.assign(payload.begin() + 1 + static_cast<std::ptrdiff_t>(pointer), payload.end());
      } else if (!s.empty()) {
        s.insert(s.end(), payload.begin(), payload.end());
      }
      const std::int32_t size = SectionSize(s);
      if (size == 0 || static_cast<std::int32_t>(s.size()) < size) continue;
      const std::span<const std::uint8_t> section(s.data(), static_cast<std::size_t>(size));
      if (h.PID == 0 && !pat) {
        TPat p = ReadPat(section, none);
        if (p.Ok) pat = std::move(p);
      } else if (pmtPid.count(h.PID) && !pmts.count(h.PID)) {
        TPmt p = ReadPmt(section, none);
        if (p.Ok) pmts[h.PID] = std::move(p);
      }
      s.clear();
      continue;
    }
    if (h.payload_unit_start_indicator && !firstPayload.count(h.PID) && payload.size() >= 4 && payload[0] == 0 &&
        payload[1] == 0 && payload[2] == 1) {
      firstPayload[h.PID].assign(payload.begin(), payload.end());
      pesOrder.push_back(h.PID);
    } else if (firstPayload.count(h.PID) && firstPayload[h.PID].size() < 4096) {
      firstPayload[h.PID].insert(firstPayload[h.PID].end(), payload.begin(), payload.end());
    }
    if (pat && pmts.size() == pmtPid.size() && !pmtPid.empty() && firstPayload.size() >= 8) break;
  }

  complete = pat.has_value() && !pmts.empty();
  for (const auto& [pid, pmt] : pmts)
    for (const TPmtStream& es : pmt.Streams) complete = complete && firstPayload.count(es.elementary_PID) != 0;
  std::vector<TContainerStream> streams;
  const auto payloadOf = [&](std::uint16_t pid) -> std::span<const std::uint8_t> {
    auto it = firstPayload.find(pid);
    if (it == firstPayload.end()) return {};
    const TPesHeader pes = ReadPesHeader(it->second, none);
    if (!pes.Ok || pes.HeaderSize > static_cast<std::int32_t>(it->second.size())) return {};
    return std::span<const std::uint8_t>(it->second).subspan(static_cast<std::size_t>(pes.HeaderSize));
  };
  const auto streamIdOf = [&](std::uint16_t pid) -> std::uint8_t {
    auto it = firstPayload.find(pid);
    return it == firstPayload.end() ? 0 : it->second[3];
  };
  if (pat) {
    for (const TPatProgram& program : pat->Programs) {
      if (program.program_number == 0) continue;
      auto it = pmts.find(program.PID);
      if (it == pmts.end()) continue;
      for (const TPmtStream& es : it->second.Streams) {
        TContainerStream s;
        s.Index = static_cast<std::int32_t>(streams.size());
        s.Pid = es.elementary_PID;
        s.Program = program.program_number;
        s.StreamType = es.stream_type;
        s.StreamId = streamIdOf(es.elementary_PID);
        s.Codec = CodecOfStreamType(es.stream_type, &s.Video, &s.Mpeg12Video);
        if (es.stream_type == 0x06) {
          s.Codec = CodecOfDescriptors(es.Descriptors);
          // Private data that the descriptors do not name: the PES stream_id and the payload say.
          if (s.Codec == "private data" && IsVideoStreamId(s.StreamId)) {
            s.Video = true;
            s.Codec = SniffVideo(payloadOf(es.elementary_PID), &s.Mpeg12Video);
          } else if (s.Codec == "private data" && IsAudioStreamId(s.StreamId)) {
            s.Codec = "MPEG audio";
          }
        }
        streams.push_back(std::move(s));
      }
    }
  }
  if (streams.empty()) {
    // No program tables where they should be: list the PIDs that carry PES packets instead.
    for (std::uint16_t pid : pesOrder) {
      TContainerStream s;
      s.Index = static_cast<std::int32_t>(streams.size());
      s.Pid = pid;
      s.StreamId = streamIdOf(pid);
      if (IsVideoStreamId(s.StreamId)) {
        s.Video = true;
        s.Codec = SniffVideo(payloadOf(pid), &s.Mpeg12Video);
      } else if (IsAudioStreamId(s.StreamId)) {
        s.Codec = "MPEG audio";
      } else {
        s.Codec = "private data";
      }
      streams.push_back(std::move(s));
    }
  }
  return streams;
}

std::vector<TContainerStream> ListProgramStreams(std::span<const std::uint8_t> bytes, const TContainerFormat& f) {
  TNoElements none;
  std::vector<TContainerStream> streams;
  std::map<std::uint8_t, std::int32_t> mapTypes;  // from a program stream map
  std::map<std::uint32_t, std::size_t> seen;      // stream_id << 8 | sub-stream -> index
  std::size_t at = 0;
  int misses = 0;
  while (at + 6 <= bytes.size() && misses < 64) {
    const auto rest = bytes.subspan(at);
    if (rest[0] != 0 || rest[1] != 0 || rest[2] != 1 || rest[3] < kProgramEndCode) {
      ++at;  // lost: look for the next start code
      ++misses;
      continue;
    }
    const std::uint8_t id = rest[3];
    if (id == kProgramEndCode) {
      at += 4;
      continue;
    }
    if (id == kPackStartCode) {
      const TPackHeader pack = ReadPackHeader(rest, none);
      at += pack.Ok ? static_cast<std::size_t>(pack.Size) : 4;
      continue;
    }
    const std::size_t size = 6 + (std::size_t{rest[4]} << 8 | rest[5]);
    if (id == kSystemHeaderStartCode || id == 0xBE) {
      at += size;
      continue;
    }
    if (id == kProgramStreamMapId && rest.size() >= 12) {
      // The map names each stream's type: stream_type and elementary_stream_id per entry.
      const std::size_t infoLength = std::size_t{rest[8]} << 8 | rest[9];
      std::size_t p = 10 + infoLength;
      if (p + 2 <= rest.size() && p + 2 <= size) {
        const std::size_t mapLength = std::size_t{rest[p]} << 8 | rest[p + 1];
        p += 2;
        const std::size_t end = std::min({p + mapLength, size, rest.size()});
        while (p + 4 <= end) {
          mapTypes[rest[p + 1]] = rest[p];
          p += 4 + (std::size_t{rest[p + 2]} << 8 | rest[p + 3]);
        }
      }
      at += size;
      continue;
    }
    const TPesHeader pes = ReadPesHeader(rest, none, f.Mpeg1System);
    std::uint8_t sub = 0;
    std::span<const std::uint8_t> payload;
    if (pes.Ok && static_cast<std::size_t>(pes.HeaderSize) < std::min(size, rest.size())) {
      payload = rest.subspan(static_cast<std::size_t>(pes.HeaderSize),
                             std::min(size, rest.size()) - static_cast<std::size_t>(pes.HeaderSize));
      if (id == 0xBD && !payload.empty()) sub = payload[0];
    }
    const std::uint32_t key = std::uint32_t{id} << 8 | sub;
    if (!seen.count(key) && pes.Ok) {
      TContainerStream s;
      s.Index = static_cast<std::int32_t>(streams.size());
      s.StreamId = id;
      s.SubStreamId = sub;
      if (auto t = mapTypes.find(id); t != mapTypes.end()) s.StreamType = t->second;
      if (IsVideoStreamId(id)) {
        s.Video = true;
        if (s.StreamType >= 0) s.Codec = CodecOfStreamType(s.StreamType, &s.Video, &s.Mpeg12Video);
        else s.Codec = SniffVideo(payload, &s.Mpeg12Video);
      } else if (IsAudioStreamId(id)) {
        s.Codec = "MPEG audio";
      } else if (id == 0xBD) {
        s.Codec = PrivateStreamCodec(sub);
      } else if (id == 0xBF) {
        s.Codec = "DVD navigation";
      } else {
        s.Codec = "stream id 0x" + HexUpper(id, 2);
      }
      seen[key] = streams.size();
      streams.push_back(std::move(s));
    }
    at += size;
  }
  return streams;
}

} // namespace

std::string TContainerLayout::KindName() const {
  if (Format.Kind == TContainerKind::Transport)
    return "MPEG transport stream (" + std::to_string(Format.PacketSize) + "-byte packets)";
  return Format.Mpeg1System ? "MPEG-1 system stream" : "MPEG-2 program stream";
}

std::string CodecOfStreamType(std::int32_t type, bool* video, bool* mpeg12Video) {
  *video = false;
  *mpeg12Video = false;
  switch (type) {
  case 0x01: *video = *mpeg12Video = true; return "MPEG-1 video";
  case 0x02: *video = *mpeg12Video = true; return "MPEG-2 video";
  case 0x03: return "MPEG-1 audio";
  case 0x04: return "MPEG-2 audio";
  case 0x05: return "private sections";
  case 0x06: return "private data";
  case 0x0F: return "AAC audio";
  case 0x10: *video = true; return "MPEG-4 video";
  case 0x11: return "AAC LATM audio";
  case 0x15: return "metadata";
  case 0x1B: *video = true; return "H.264 video";
  case 0x24: *video = true; return "HEVC video";
  case 0x81: return "AC-3 audio";
  case 0x87: return "E-AC-3 audio";
  case 0xEA: *video = true; return "VC-1 video";
  default: return "stream type 0x" + HexUpper(static_cast<std::uint64_t>(type), 2);
  }
}

std::optional<TContainerFormat> ProbeContainer(const TFileStream& file) {
  std::vector<std::uint8_t> head(204 * (kProbePackets + 1));
  head.resize(static_cast<std::size_t>(file.ReadAt(0, head)));
  if (IsPackStart(head)) {
    TContainerFormat f;
    f.Kind = TContainerKind::Program;
    f.Mpeg1System = (head[4] & 0xF0) == 0x20;
    return f;
  }
  struct TCandidate {
    std::int32_t Size, Sync;
  };
  std::optional<TContainerFormat> best;
  std::int32_t bestRun = 0;
  for (const TCandidate c : {TCandidate{188, 0}, TCandidate{192, 4}, TCandidate{204, 0}}) {
    std::int32_t run = 0;
    for (std::size_t at = static_cast<std::size_t>(c.Sync); at < head.size() && run < kProbePackets; at += static_cast<std::size_t>(c.Size)) {
      if (head[at] != kTsSyncByte) break;
      ++run;
    }
    // Every packet the file holds, up to the probe's count, must begin with a sync byte.
    const auto whole = static_cast<std::int32_t>(head.size() / static_cast<std::size_t>(c.Size));
    const std::int32_t needed = std::min(kProbePackets, std::max(whole, 1));
    if (run >= needed && run > bestRun && (run >= 2 || head.size() >= static_cast<std::size_t>(c.Size))) {
      bestRun = run;
      best = TContainerFormat{TContainerKind::Transport, c.Size, c.Sync, 0, false};
    }
  }
  return best;
}

std::vector<TContainerStream> ListContainerStreams(const TFileStream& file, const TContainerFormat& format) {
  // The first megabyte holds the tables and every stream's first packet in most files; only
  // where it does not is the list looked for further on.
  const std::int64_t size = std::max<std::int64_t>(file.Size(), 0);
  std::vector<TContainerStream> streams;
  for (std::int64_t reach = kListFirstBytes;; reach = kListScanBytes) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min(size, reach)));
    bytes.resize(static_cast<std::size_t>(file.ReadAt(0, bytes)));
    bool complete = false;
    streams = format.Kind == TContainerKind::Transport ? ListTransportStreams(bytes, format, complete)
                                                       : ListProgramStreams(bytes, format);
    if (format.Kind == TContainerKind::Program) complete = !streams.empty() && reach >= size;
    if (complete || reach >= size || reach == kListScanBytes) break;
    if (format.Kind == TContainerKind::Program && !streams.empty() && std::any_of(streams.begin(), streams.end(),
                                                                                   [](const TContainerStream& s) { return s.Mpeg12Video; }))
      break;
  }
  return streams;
}

} // namespace varlow
