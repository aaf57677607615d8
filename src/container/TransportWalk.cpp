#include "container/TransportWalk.h"

#include <algorithm>
#include <vector>

#include "container/ContainerWalker.h"
#include "container/PesHeader.h"

namespace varlow {

void WalkTransport(const TFileStream& file, const TContainerLayout& layout,
                   const std::function<bool(const TTsSlot&)>& visit) {
  const std::int64_t size = file.Size();
  const std::int64_t P = layout.Format.PacketSize;
  const std::int64_t S = layout.Format.SyncOffset;
  const std::uint16_t pid = layout.Video().Pid;
  TFileWindow window(file, size, std::size_t{4} << 20);
  TNoElements none;
  const auto syncAt = [&](std::int64_t at) {
    const auto b = window.At(at + S, 1);
    return !b.empty() && b[0] == kTsSyncByte;
  };
  const auto confirmed = [&](std::int64_t at) { return syncAt(at) && (at + P + S >= size || syncAt(at + P)); };
  int lastCounter = -1;
  for (std::int64_t at = layout.Format.FirstPacket; at < size;) {
    TTsSlot slot;
    slot.Offset = at;
    const auto bytes = window.At(at, static_cast<std::size_t>(P));
    if (bytes.size() < static_cast<std::size_t>(P) || bytes[static_cast<std::size_t>(S)] != kTsSyncByte) {
      // Not a packet: the bytes up to the next run of packets, or to the end of the file.
      std::int64_t next = at + 1;
      while (next < size && !confirmed(next)) ++next;
      slot.Bytes = window.At(at, static_cast<std::size_t>(next - at));
      if (slot.Bytes.size() < static_cast<std::size_t>(next - at)) {
        // Longer than a window piece: hand it on in pieces.
        next = at + static_cast<std::int64_t>(slot.Bytes.size());
      }
      if (!visit(slot)) return;
      at = next;
      continue;
    }
    slot.Bytes = bytes;
    slot.Packet = true;
    slot.Ts = bytes.subspan(static_cast<std::size_t>(S), kTsPacketSize);
    slot.Header = ReadTsPacketHeader(slot.Ts, none);
    const TTsPacketHeader& h = slot.Header;
    if (h.PID == pid && h.Ok) {
      slot.Video = true;
      if (h.adaptation_field_control & 1) {
        slot.Duplicate = lastCounter >= 0 && h.continuity_counter == lastCounter && !h.discontinuity_indicator;
        lastCounter = h.continuity_counter;
      }
      slot.Scrambled = h.transport_scrambling_control != 0;
      if (!slot.Duplicate && !slot.Scrambled && h.HasPayload()) {
        auto payload = slot.Ts.subspan(static_cast<std::size_t>(h.PayloadOffset));
        if (h.payload_unit_start_indicator) {
          const TPesHeader pes = ReadPesHeader(payload, none);
          if (pes.Ok && static_cast<std::size_t>(pes.HeaderSize) <= payload.size()) {
            slot.PesStart = true;
            slot.PesHeaderAt = h.PayloadOffset;
            slot.PesHeaderSize = pes.HeaderSize;
            payload = payload.subspan(static_cast<std::size_t>(pes.HeaderSize));
          } else {
            payload = {};  // a header this walk cannot follow: its bytes are no video
          }
        }
        slot.Payload = payload;
      }
    }
    if (!visit(slot)) return;
    at += P;
  }
}

} // namespace varlow
