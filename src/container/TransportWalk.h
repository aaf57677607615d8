#pragma once
#include <cstdint>
#include <functional>
#include <span>

#include "container/ContainerLayout.h"
#include "container/TransportPacket.h"
#include "support/FileStream.h"

namespace varlow {

// One slot of a transport stream file in file order: a packet (with its 4-byte prefix in
// 192-byte files) or, where the packets lose their sync byte, the bytes up to the next packet.
struct TTsSlot {
  std::int64_t Offset = 0;               // file offset of the slot's first byte
  std::span<const std::uint8_t> Bytes;   // the whole slot
  bool Packet = false;                   // false: bytes between packets
  TTsPacketHeader Header;                // of a packet
  std::span<const std::uint8_t> Ts;      // the packet's 188 bytes
  bool Video = false;                    // of the chosen video PID
  bool Duplicate = false;                // a video packet sent twice (same continuity_counter)
  bool Scrambled = false;                // a video packet whose payload cannot be read
  bool PesStart = false;                 // a video packet that begins a PES packet with a whole header
  std::int32_t PesHeaderAt = 0;          // in Ts: where that PES header begins
  std::int32_t PesHeaderSize = 0;
  std::span<const std::uint8_t> Payload; // the video elementary-stream bytes the packet carries
};

// Walks every slot of the transport stream in `file`, in file order, reading it in large
// pieces; the video rules are those the byte source follows (duplicates dropped, scrambled
// payloads left out, PES headers skipped), so the payloads add up to the video it reads.
// `visit` returning false stops the walk.
void WalkTransport(const TFileStream& file, const TContainerLayout& layout,
                   const std::function<bool(const TTsSlot&)>& visit);

} // namespace varlow
