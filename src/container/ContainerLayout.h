#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/FileStream.h"

namespace varlow {

enum class TContainerKind { Transport, Program };

// How a file's packets are laid out, as its first bytes show.
struct TContainerFormat {
  TContainerKind Kind = TContainerKind::Transport;
  std::int32_t PacketSize = 0;  // transport: 188, 192 or 204 bytes a packet; program: 0
  std::int32_t SyncOffset = 0;  // transport: where the sync byte lies in a packet (4 for 192)
  std::int64_t FirstPacket = 0; // file offset of the first packet (its prefix, if any)
  bool Mpeg1System = false;     // program: MPEG-1 pack headers (an ISO/IEC 11172-1 system stream)
};

// One elementary stream of a container, as `streams` lists it.
struct TContainerStream {
  std::int32_t Index = 0;        // place in the list, from 0: what --stream takes
  std::uint16_t Pid = 0;         // transport streams
  std::uint8_t StreamId = 0;     // program streams (and the PES stream_id seen in transport streams)
  std::uint8_t SubStreamId = 0;  // program streams' private_stream_1: the sub-stream byte
  std::int32_t Program = 0;      // program_number; 0 in program streams
  std::int32_t StreamType = -1;  // the PMT's (or program stream map's) stream_type; -1 when none says
  std::string Codec;             // "MPEG-2 video", "AC-3 audio", ...
  bool Video = false;
  bool Mpeg12Video = false;      // what Varlow can open
};

// A container's format, its streams and the video stream chosen to be read.
struct TContainerLayout {
  TContainerFormat Format;
  std::vector<TContainerStream> Streams;
  std::int32_t Chosen = -1;  // index into Streams
  const TContainerStream& Video() const { return Streams[static_cast<std::size_t>(Chosen)]; }
  // "MPEG transport stream (188-byte packets)", "MPEG-2 program stream", "MPEG-1 system stream".
  std::string KindName() const;
};

// Whether the file begins with transport packets or a pack header, and how they are laid out.
std::optional<TContainerFormat> ProbeContainer(const TFileStream& file);

// Reads the container's stream list from its first megabytes (the PAT and PMTs of a transport
// stream; the PES stream ids and any program stream map of a program stream).
std::vector<TContainerStream> ListContainerStreams(const TFileStream& file, const TContainerFormat& format);

// A codec name for a transport stream_type ("MPEG-2 video"; "stream type 0x%02X" when unknown).
std::string CodecOfStreamType(std::int32_t type, bool* video, bool* mpeg12Video);

} // namespace varlow
