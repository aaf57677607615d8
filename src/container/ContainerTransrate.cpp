#include "container/ContainerTransrate.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>
#include <vector>

#include "container/TransportWalk.h"
#include "container/VideoPass.h"

namespace varlow {

namespace {

// The part of an adaptation field worth keeping: its flags and the fields they announce, without
// the stuffing after them (0 when the packet has no adaptation field or only its length byte).
std::int32_t KeptAdaptationBytes(std::span<const std::uint8_t> ts, const TTsPacketHeader& h) {
  if (!(h.adaptation_field_control & 2) || h.adaptation_field_length == 0) return 0;
  const std::uint8_t flags = ts[5];
  std::int32_t n = 1;
  if (flags & 0x10) n += 6;
  if (flags & 0x08) n += 6;
  if (flags & 0x04) n += 1;
  if ((flags & 0x02) && 5 + n < kTsPacketSize) n += 1 + ts[static_cast<std::size_t>(5 + n)];
  if ((flags & 0x01) && 5 + n < kTsPacketSize) n += 1 + ts[static_cast<std::size_t>(5 + n)];
  return std::min<std::int32_t>(n, h.adaptation_field_length);
}

// Builds the output packets of the video PID in the places of the input's.
class TVideoPacketiser {
public:
  TVideoPacketiser(TPacketOutput& out, std::uint16_t pid, std::int32_t prefix, bool keepPlaces)
      : FOut(out), FPid(pid), FPrefix(prefix), FKeepPlaces(keepPlaces) {}

  void StartPes(std::vector<std::uint8_t> bytes) {
    EmitRest();
    FPending = std::move(bytes);
    FUsed = 0;
    FStart = true;
  }
  // The input's video packet `slot`: filled with what the current PES still has to place.
  void Place(const TTsSlot& slot) {
    if (FCounter < 0) FCounter = (slot.Header.continuity_counter + 15) & 0x0F;  // the first goes out as it came
    FLastPrefix.assign(slot.Bytes.begin(), slot.Bytes.begin() + FPrefix);
    const std::int32_t kept = KeptAdaptationBytes(slot.Ts, slot.Header);
    if (FUsed < FPending.size()) {
      Emit(slot.Ts.subspan(5, static_cast<std::size_t>(kept)), (slot.Header.adaptation_field_control & 2) != 0);
      return;
    }
    // Nothing left to carry: the slot goes, but a clock reference it carried stays.
    if (kept > 0 && (slot.Ts[5] & 0x10)) {
      std::uint8_t p[kTsPacketSize];
      std::memset(p, 0xFF, sizeof p);
      p[0] = kTsSyncByte;
      p[1] = static_cast<std::uint8_t>(slot.Ts[1] & 0x3F);
      p[2] = slot.Ts[2];
      p[3] = static_cast<std::uint8_t>(0x20 | (FCounter & 0x0F));  // no payload: the counter stays
      p[4] = kTsPacketSize - 5;
      std::memcpy(p + 5, slot.Ts.data() + 5, static_cast<std::size_t>(kept));
      Write(p);
      return;
    }
    ++FDropped;
    if (FKeepPlaces) WriteNull();
  }
  // A place for a packet that is not the video's own (a damaged or duplicate one).
  void Vacate(const TTsSlot& slot) {
    FLastPrefix.assign(slot.Bytes.begin(), slot.Bytes.begin() + FPrefix);
    ++FDropped;
    if (FKeepPlaces) WriteNull();
  }
  // Whatever the PES still holds, in packets of its own.
  void EmitRest() {
    while (FUsed < FPending.size()) {
      Emit({}, false);
      ++FExtra;
    }
  }

  std::int64_t Dropped() const { return FDropped; }
  std::int64_t Extra() const { return FExtra; }

private:
  // One packet of the PES's next bytes, with the adaptation field bytes kept from its place, and
  // stuffing in the adaptation field where the bytes left do not fill the packet.
  void Emit(std::span<const std::uint8_t> kept, bool hadField) {
    std::uint8_t p[kTsPacketSize];
    const std::size_t left = FPending.size() - FUsed;
    int fieldLength = hadField || !kept.empty() ? static_cast<int>(kept.size()) : -1;  // -1: no field
    int room = kTsPacketSize - 4 - (fieldLength >= 0 ? 1 + fieldLength : 0);
    if (static_cast<std::size_t>(room) > left) {
      const int fill = room - static_cast<int>(left);
      fieldLength = fieldLength < 0 ? fill - 1 : fieldLength + fill;
      room = static_cast<int>(left);
    }
    int at = 4;
    if (fieldLength >= 0) {
      p[4] = static_cast<std::uint8_t>(fieldLength);
      std::size_t used = kept.size();
      if (!kept.empty()) std::memcpy(p + 5, kept.data(), kept.size());
      else if (fieldLength > 0) p[5 + used++] = 0x00;  // a new field's flags: none set
      std::memset(p + 5 + used, 0xFF, static_cast<std::size_t>(fieldLength) - used);
      at = 5 + fieldLength;
    }
    p[0] = kTsSyncByte;
    p[1] = static_cast<std::uint8_t>((FStart ? 0x40 : 0x00) | (FPid >> 8));
    p[2] = static_cast<std::uint8_t>(FPid & 0xFF);
    FCounter = (FCounter + 1) & 0x0F;
    p[3] = static_cast<std::uint8_t>((fieldLength >= 0 ? 0x30 : 0x10) | FCounter);
    std::memcpy(p + at, FPending.data() + FUsed, static_cast<std::size_t>(room));
    FUsed += static_cast<std::size_t>(room);
    FStart = false;
    Write(p);
  }
  void WriteNull() {
    std::uint8_t p[kTsPacketSize];
    std::memset(p, 0xFF, sizeof p);
    p[0] = kTsSyncByte;
    p[1] = 0x1F;
    p[2] = 0xFF;
    p[3] = 0x10;
    Write(p);
  }
  void Write(const std::uint8_t* packet) {
    if (FPrefix > 0) FOut.Write({FLastPrefix.data(), FLastPrefix.size()});
    FOut.Write({packet, kTsPacketSize});
  }

  TPacketOutput& FOut;
  const std::uint16_t FPid;
  const std::int32_t FPrefix;
  const bool FKeepPlaces;
  std::vector<std::uint8_t> FPending;
  std::size_t FUsed = 0;
  bool FStart = false;
  int FCounter = -1;
  std::vector<std::uint8_t> FLastPrefix = std::vector<std::uint8_t>(4, 0);
  std::int64_t FDropped = 0;
  std::int64_t FExtra = 0;
};

} // namespace

TTransrateResult TransrateTransportStream(const TByteSource& source, const std::string& OutputPath,
                                          const TTransrateOptions& Options, const TTransrateProgressFunction& Progress) {
  const TContainerLayout& layout = *source.Layout();
  const TFileStream& file = source.File();
  TContainerRun run(std::max<std::int64_t>(file.Size(), 0), OutputPath, Options, Progress);
  if (layout.Format.PacketSize == 204)
    return run.Fail("transport streams with 204-byte packets are not transrated: their parity bytes would no longer match");
  TVideoPass& pass = run.Pass();

  // Aimed at a size: the video's share of the file is counted first.
  if (Options.SizeBytes > 0) {
    TVideoFootprint footprint;
    // A PES packet per picture: over many of them a partial packet wastes half a packet.
    footprint.PartialWaste = layout.Format.PacketSize / 2;
    bool stopped = false;
    WalkTransport(file, layout, [&](const TTsSlot& slot) {
      footprint.VideoBytes += static_cast<std::int64_t>(slot.Payload.size());
      if (slot.Video) footprint.CarrierBytes += static_cast<std::int64_t>(slot.Bytes.size());
      if (slot.PesStart) ++footprint.PartialPackets;
      stopped = !run.Progress(false, 0);
      return !stopped;
    });
    if (stopped) return run.Cancelled();
    pass.AimAt(footprint.VideoBytes, std::max<std::int64_t>(footprint.VideoTarget(Options.SizeBytes, file.Size()), 0));
  }

  // First pass: the video through the engine, with where its PES packets begin.
  std::vector<std::int64_t> pesStarts;
  bool cancelled = false;
  WalkTransport(file, layout, [&](const TTsSlot& slot) {
    if (slot.PesStart) pesStarts.push_back(pass.VideoIn());
    pass.Feed(slot.Payload);
    cancelled = !run.Progress(false, slot.Offset);
    return !cancelled;
  });
  if (cancelled) return run.Cancelled();
  if (std::string failure = pass.Finish(run.Result()); !failure.empty()) return run.Fail(failure);
  const TPositionMap& map = pass.Map();
  const std::int64_t videoIn = pass.VideoIn();

  // Second pass: every slot again, the video's refilled.
  TSequentialReader video(pass.Video());
  TVideoPacketiser packets(run.Output(), layout.Video().Pid, layout.Format.SyncOffset, Options.KeepMuxRate);
  std::map<std::uint16_t, std::int64_t> others;
  std::size_t nextPes = 0;
  std::int64_t position = 0;  // input video bytes placed so far
  std::int64_t damaged = 0;
  // Video bytes before the first PES start (a file cut inside a PES packet) go out headerless.
  if (pesStarts.empty() || pesStarts.front() > 0) {
    std::vector<std::uint8_t> lead;
    video.Append(0, map.Map(pesStarts.empty() ? videoIn : pesStarts.front()), lead);
    packets.StartPes(std::move(lead));
  }
  WalkTransport(file, layout, [&](const TTsSlot& slot) {
    if (!slot.Packet) {
      run.Output().Write(slot.Bytes);
      ++damaged;
    } else if (!slot.Video) {
      run.Output().Write(slot.Bytes);
      ++others[slot.Header.PID];
    } else if (slot.Duplicate || slot.Scrambled || (slot.Header.payload_unit_start_indicator && !slot.PesStart)) {
      packets.Vacate(slot);
      ++damaged;
    } else {
      if (slot.PesStart) {
        const std::int64_t begin = map.Map(pesStarts[nextPes]);
        const std::int64_t end = map.Map(nextPes + 1 < pesStarts.size() ? pesStarts[nextPes + 1] : videoIn);
        ++nextPes;
        std::vector<std::uint8_t> pes(slot.Ts.begin() + slot.PesHeaderAt, slot.Ts.begin() + slot.PesHeaderAt + slot.PesHeaderSize);
        const std::int64_t length = pes[4] << 8 | pes[5];
        if (length != 0) {
          const std::int64_t now = slot.PesHeaderSize - 6 + (end - begin);
          pes[4] = static_cast<std::uint8_t>(now <= 0xFFFF ? now >> 8 : 0);
          pes[5] = static_cast<std::uint8_t>(now <= 0xFFFF ? now & 0xFF : 0);
        }
        video.Append(begin, end, pes);
        packets.StartPes(std::move(pes));
      }
      packets.Place(slot);
      position += static_cast<std::int64_t>(slot.Payload.size());
    }
    cancelled = !run.Progress(true, slot.Offset);
    return !cancelled;
  });
  if (cancelled) return run.Cancelled();
  packets.EmitRest();
  if (position != videoIn) return run.Fail("the container's video could not be followed the second time");

  std::int64_t otherPackets = 0;
  for (const auto& [pid, count] : others) otherPackets += count;
  std::string carried = std::to_string(others.size()) + (others.size() == 1 ? " other PID, " : " other PIDs, ") +
                        std::to_string(otherPackets) + " packets carried unchanged; " + std::to_string(packets.Dropped()) +
                        (Options.KeepMuxRate ? " video packets made null" : " video packets left out");
  if (packets.Extra() > 0) carried += "; " + std::to_string(packets.Extra()) + " video packets added";
  if (damaged > 0) carried += "; " + std::to_string(damaged) + " damaged places";
  return run.Commit(std::move(carried));
}

} // namespace varlow
