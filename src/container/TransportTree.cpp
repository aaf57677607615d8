// The transport stream half of the container tree: the packets that hold a unit's start code
// and the PES header of the PES packet the unit begins in.
#include <array>
#include <optional>
#include <vector>

#include "container/ContainerTreeParts.h"
#include "container/PesHeader.h"
#include "container/TransportPacket.h"
#include "support/Format.h"

namespace varlow::container_tree {

namespace {

// A PES header is at most 9 + 255 bytes; it may run over into the next packets of its PID.
constexpr std::size_t kPesHeaderMax = 9 + 255;
// Packets walked forward to gather a PES header cut by a packet's end.
constexpr int kGatherPackets = 64;
// Packets looked at before a PES start for the PID's previous packet.
constexpr int kLookBeforePes = 4096;

class TPacketWalk {
public:
  TPacketWalk(const TByteSource& source, const TContainerLayout& layout)
      : FBytes(source.File()), FFormat(layout.Format), FPid(layout.Video().Pid) {}

  std::int64_t PacketSize() const { return FFormat.PacketSize; }
  std::int64_t SyncOffset() const { return FFormat.SyncOffset; }
  std::uint16_t Pid() const { return FPid; }

  // The packet's 188 bytes from its sync byte on (fewer at the file's end).
  std::span<const std::uint8_t> Packet(std::int64_t packetAt) {
    return FBytes.At(packetAt + FFormat.SyncOffset, static_cast<std::size_t>(kTsPacketSize));
  }
  bool SyncAt(std::int64_t packetAt) {
    const auto b = FBytes.At(packetAt + FFormat.SyncOffset, 1);
    return !b.empty() && b[0] == kTsSyncByte;
  }
  // A packet start whose sync byte the next packet's confirms (or that ends the file).
  bool Confirmed(std::int64_t packetAt) {
    const std::int64_t next = packetAt + FFormat.PacketSize;
    return SyncAt(packetAt) && (next + FFormat.SyncOffset >= FBytes.Size() || SyncAt(next));
  }

  // Where the packet holding file offset `offset` starts (its prefix included): on the grid
  // from the first packet, or, where damage shifted the packets, the confirmed start nearest
  // before it. Empty when no packet start can be found within one packet's length.
  std::optional<std::int64_t> Holding(std::int64_t offset) {
    if (offset < FFormat.FirstPacket) return std::nullopt;
    const std::int64_t P = FFormat.PacketSize;
    const std::int64_t grid = FFormat.FirstPacket + (offset - FFormat.FirstPacket) / P * P;
    if (SyncAt(grid)) return grid;
    for (std::int64_t at = offset; at > offset - P && at >= 0; --at)
      if (Confirmed(at)) return at;
    return std::nullopt;
  }
  // The packet before the one at `packetAt`: a packet's length back, or the nearest confirmed
  // start where the packets are shifted.
  std::optional<std::int64_t> Before(std::int64_t packetAt) {
    const std::int64_t P = FFormat.PacketSize;
    if (packetAt - P >= 0 && SyncAt(packetAt - P)) return packetAt - P;
    for (std::int64_t at = packetAt - 1; at > packetAt - 1 - P && at >= 0; --at)
      if (Confirmed(at)) return at;
    return std::nullopt;
  }

private:
  TFileBytes FBytes;
  const TContainerFormat& FFormat;
  std::uint16_t FPid;
};

// Adds one packet's header and adaptation field, with what is wrong with it.
TTsPacketHeader AddPacket(TTreeSink& sink, NodeId parent, TPacketWalk& walk, std::int64_t packetAt) {
  const auto bytes = walk.Packet(packetAt);
  const NodeId node = sink.AddChild(parent, "transport_packet at " + OffsetText(packetAt), 0, kTsPacketSize * 8);
  TElementNodes elements{sink, node};
  const TTsPacketHeader h = ReadTsPacketHeader(bytes, elements);
  // The PCR is read only when the adaptation field holds its 6 bytes after the flags.
  if (h.PCR_flag && h.adaptation_field_length >= 7 && bytes.size() >= 12)
    sink.AddChild(node, "PCR = " + std::to_string(h.Pcr()) + " (" + Seconds(h.Pcr(), 27e6) + " s)");
  if (bytes.size() < static_cast<std::size_t>(kTsPacketSize)) {
    sink.AddDamage(node, Format("the file ends inside this packet: %d of %d bytes", {bytes.size(), kTsPacketSize}), 0);
    return h;
  }
  if (h.sync_byte != kTsSyncByte) {
    sink.AddDamage(node, "no sync byte: $" + HexUpper(h.sync_byte, 2) + " where $47 should be", 0);
    return h;
  }
  if (!h.Ok) sink.AddDamage(node, "the adaptation field does not fit the packet", 32);
  if (h.transport_error_indicator) sink.AddDamage(node, "transport_error_indicator is set", 8);
  if (h.transport_scrambling_control != 0)
    sink.AddDamage(node, Format("the packet is scrambled (transport_scrambling_control = %d)", {h.transport_scrambling_control}), 24);
  if (h.PID != walk.Pid()) sink.AddDamage(node, Format("PID %d is not the video's PID %d", {h.PID, walk.Pid()}), 11);
  return h;
}

// The continuity_counter of the next packet of the PID that carries a payload: one more than
// the last one's, the same (a duplicate), or anything after a discontinuity_indicator.
bool CounterFollows(const TTsPacketHeader& earlier, const TTsPacketHeader& later) {
  if (!(later.adaptation_field_control & 1) || later.discontinuity_indicator) return true;
  return later.continuity_counter == earlier.continuity_counter ||
         later.continuity_counter == ((earlier.continuity_counter + 1) & 0x0F);
}

void AddCounterJump(TTreeSink& sink, NodeId parent, const TTsPacketHeader& earlier, std::int64_t earlierAt,
                    const TTsPacketHeader& later, std::int64_t laterAt) {
  sink.AddDamage(parent,
                 Format("continuity_counter jumps from %d to %d between the packets at %s and %s",
                        {earlier.continuity_counter, later.continuity_counter, OffsetText(earlierAt), OffsetText(laterAt)}),
                 0);
}

// The PES header that begins in the packet at `packetAt`, gathered from it and the next
// packets of the PID.
std::vector<std::uint8_t> GatherPesHeader(TPacketWalk& walk, std::int64_t packetAt, const TTsPacketHeader& first) {
  std::vector<std::uint8_t> gathered;
  TNoElements none;
  std::int64_t at = packetAt;
  TTsPacketHeader h = first;
  for (int i = 0; i < kGatherPackets && gathered.size() < kPesHeaderMax; ++i) {
    if (i > 0) {
      at += walk.PacketSize();
      const auto bytes = walk.Packet(at);
      if (bytes.size() < static_cast<std::size_t>(kTsPacketSize) || bytes[0] != kTsSyncByte) break;
      h = ReadTsPacketHeader(bytes, none);
      if (h.PID != walk.Pid()) continue;
      if (!h.Ok || h.payload_unit_start_indicator) break;
    }
    if (!h.HasPayload()) continue;
    const auto bytes = walk.Packet(at);
    const auto payload = bytes.subspan(static_cast<std::size_t>(h.PayloadOffset));
    const std::size_t take = std::min(payload.size(), kPesHeaderMax - gathered.size());
    gathered.insert(gathered.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(take));
  }
  return gathered;
}

// Whether packets were lost just before the PES packet starting at `pesPacket`: the counter of
// the PID's packet before it must lead to the PES start's.
void CheckPacketBefore(TTreeSink& sink, NodeId container, TPacketWalk& walk, std::int64_t pesPacket,
                       const TTsPacketHeader& pes) {
  TNoElements none;
  std::optional<std::int64_t> at = walk.Before(pesPacket);
  for (int i = 0; at && i < kLookBeforePes; ++i, at = walk.Before(*at)) {
    const auto bytes = walk.Packet(*at);
    if (bytes.size() < static_cast<std::size_t>(kTsPacketSize) || bytes[0] != kTsSyncByte) continue;
    const TTsPacketHeader h = ReadTsPacketHeader(bytes, none);
    if (h.PID != walk.Pid() || !h.Ok || !h.HasPayload()) continue;
    if (!CounterFollows(h, pes)) AddCounterJump(sink, container, h, *at, pes, pesPacket);
    return;
  }
}

// Walks back from the unit's packet to the last packet of the PID that starts a PES packet and
// adds that PES header.
void AddPesOfUnit(TTreeSink& sink, NodeId container, TPacketWalk& walk, std::int64_t unitPacket) {
  TNoElements none;
  std::optional<std::int64_t> at = unitPacket;
  std::optional<TTsPacketHeader> later;  // the packet of the PID after the one looked at
  std::int64_t laterAt = unitPacket;
  bool jumpShown = false;
  while (at && unitPacket - *at <= kWalkBackLimit) {
    const auto bytes = walk.Packet(*at);
    if (bytes.size() == static_cast<std::size_t>(kTsPacketSize) && bytes[0] == kTsSyncByte) {
      const TTsPacketHeader h = ReadTsPacketHeader(bytes, none);
      if (h.PID == walk.Pid() && h.Ok && h.HasPayload()) {
        if (later && !jumpShown && !CounterFollows(h, *later)) {
          AddCounterJump(sink, container, h, *at, *later, laterAt);
          jumpShown = true;
        }
        if (h.payload_unit_start_indicator) {
          const std::vector<std::uint8_t> header = GatherPesHeader(walk, *at, h);
          const NodeId pes = AddPesHeader(sink, container, header, *at + walk.SyncOffset() + h.PayloadOffset, false);
          sink.AddChild(pes, "begins in the transport packet at " + OffsetText(*at));
          if (!jumpShown) CheckPacketBefore(sink, container, walk, *at, h);
          return;
        }
        later = h;
        laterAt = *at;
      }
    }
    at = walk.Before(*at);
  }
  if (!at)
    sink.AddChild(container, Format("no PES packet of PID %d starts before this unit", {walk.Pid()}));
  else
    sink.AddChild(container, Format("no PES packet of PID %d starts in the 64 MiB before this unit", {walk.Pid()}));
}

} // namespace

void BuildTransportTree(const TByteSource& source, const TContainerLayout& layout, std::int64_t unitOffset,
                        TTreeSink& sink, NodeId container) {
  TPacketWalk walk(source, layout);
  const std::optional<std::int64_t> unitPacket = walk.Holding(unitOffset);
  if (!unitPacket) {
    sink.AddDamage(container, "no transport packet holds " + OffsetText(unitOffset) + ": no sync byte where one should be", 0);
    return;
  }
  // The packets holding the start code's four bytes: where the source read them from.
  std::array<std::uint8_t, 4> code{};
  TSourcePlaces places;
  const std::int64_t n = source.ReadAt(unitOffset, code, &places);
  std::vector<std::int64_t> packets = {*unitPacket};
  for (std::int64_t i = 1; i < n; ++i) {
    const std::optional<std::int64_t> p = walk.Holding(places.OffsetOf(static_cast<std::size_t>(i)));
    if (p && *p > packets.back()) packets.push_back(*p);
  }
  std::optional<TTsPacketHeader> previous;
  for (std::size_t i = 0; i < packets.size(); ++i) {
    const TTsPacketHeader h = AddPacket(sink, container, walk, packets[i]);
    if (previous && !CounterFollows(*previous, h)) AddCounterJump(sink, container, *previous, packets[i - 1], h, packets[i]);
    previous = h;
  }
  for (const TSourcePlaces::TDamage& d : places.Damage())
    sink.AddDamage(container, OffsetText(d.Offset) + ": " + d.What, 0);
  AddPesOfUnit(sink, container, walk, *unitPacket);
}

} // namespace varlow::container_tree
