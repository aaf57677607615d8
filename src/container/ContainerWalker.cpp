#include "container/ContainerWalker.h"

#include <algorithm>
#include <cstring>

#include "container/PackHeader.h"
#include "container/PesHeader.h"
#include "container/TransportPacket.h"
#include "support/Format.h"

namespace varlow {

TFileWindow::TFileWindow(const TFileStream& file, std::int64_t fileSize, std::size_t pieceSize)
    // A piece never needs to be larger than the file: a small file costs no megabytes a read.
    : FFile(file), FSize(fileSize), FBytes(static_cast<std::size_t>(std::clamp<std::int64_t>(
                                          fileSize, 1, static_cast<std::int64_t>(pieceSize)))) {}

std::span<const std::uint8_t> TFileWindow::At(std::int64_t position, std::size_t count) {
  if (position < 0 || position >= FSize) return {};
  if (count > FBytes.size()) FBytes.resize(count);
  const bool inside = position >= FStart && position + static_cast<std::int64_t>(count) <= FStart + static_cast<std::int64_t>(FValid);
  if (!inside) {
    FStart = position;
    FValid = static_cast<std::size_t>(FFile.ReadAt(position, FBytes));
  }
  const auto from = static_cast<std::size_t>(position - FStart);
  if (from >= FValid) return {};
  return {FBytes.data() + from, std::min(count, FValid - from)};
}

namespace {

// Copies the payload bytes payload[0, n) that sit at file offsets `at` on into dest, keeping
// only those in [begin, end).
struct TEmitter {
  std::span<std::uint8_t> Dest;
  TSourcePlaces* Places;
  std::int64_t Begin, End;
  std::size_t Count = 0;
  bool Full() const { return Count >= Dest.size(); }
  void Emit(const std::uint8_t* bytes, std::int64_t at, std::size_t n) {
    std::int64_t from = at;
    std::size_t skip = 0;
    if (from < Begin) {
      skip = static_cast<std::size_t>(std::min<std::int64_t>(Begin - from, static_cast<std::int64_t>(n)));
      from += static_cast<std::int64_t>(skip);
    }
    std::size_t take = n - skip;
    if (from + static_cast<std::int64_t>(take) > End) take = static_cast<std::size_t>(std::max<std::int64_t>(End - from, 0));
    take = std::min(take, Dest.size() - Count);
    if (take == 0) return;
    std::memcpy(Dest.data() + Count, bytes + skip, take);
    if (Places != nullptr) Places->Add(from, take);
    Count += take;
  }
};

class TTransportWalker final : public TContainerWalker {
public:
  explicit TTransportWalker(const TContainerLayout& layout)
      : FFormat(layout.Format), FPid(layout.Video().Pid) {}

  std::int64_t Read(const TFileStream& file, std::int64_t begin, std::int64_t end, std::span<std::uint8_t> dest,
                    TSourcePlaces* places) const override {
    const std::int64_t size = file.Size();
    end = std::min(end, size);
    if (places != nullptr) places->Clear();
    if (begin >= end || dest.empty()) return 0;
    const std::int64_t P = FFormat.PacketSize;
    const std::int64_t S = FFormat.SyncOffset;
    TFileWindow window(file, size, std::clamp<std::size_t>(dest.size() * 2, 64 << 10, 4 << 20));
    TEmitter out{dest, places, begin, end};
    const auto syncAt = [&](std::int64_t at) {
      const auto b = window.At(at + S, 1);
      return !b.empty() && b[0] == kTsSyncByte;
    };
    // A packet start is trusted where the next packet's sync byte follows too (or the file ends).
    const auto confirmed = [&](std::int64_t at) {
      return syncAt(at) && (at + P + S >= size || syncAt(at + P));
    };
    const auto resync = [&](std::int64_t from) {
      for (std::int64_t at = std::max<std::int64_t>(from, 0); at + S < size; ++at) {
        if (confirmed(at)) return at;
      }
      return size;
    };

    std::int64_t at = FFormat.FirstPacket + std::max<std::int64_t>(begin - FFormat.FirstPacket, 0) / P * P;
    if (!confirmed(at)) at = resync(std::max<std::int64_t>(begin - P + 1, 0));

    TNoElements none;
    std::uint8_t header[300];    // a PES header cut by a packet's end, gathered
    std::size_t gathered = 0;
    bool gathering = false;
    std::int64_t bounded = -1;   // payload bytes the current PES packet has left; -1 unbounded
    int lastCounter = -1;
    while (at < end && !out.Full()) {
      const auto bytes = window.At(at + S, kTsPacketSize);
      if (bytes.size() < static_cast<std::size_t>(kTsPacketSize)) {
        if (places && !bytes.empty()) places->AddDamage(at, "the file ends inside a transport packet");
        break;
      }
      if (bytes[0] != kTsSyncByte) {
        const std::int64_t next = resync(at + 1);
        if (places) places->AddDamage(at, Format("sync byte lost: %d bytes skipped to the next packet", {next - at}));
        at = next;
        continue;
      }
      const std::int64_t packetAt = at;
      at += P;
      const TTsPacketHeader h = ReadTsPacketHeader(bytes, none);
      if (h.PID != FPid) continue;
      if (!h.Ok) {
        if (places) places->AddDamage(packetAt, "transport packet with a bad adaptation field");
        continue;
      }
      if (h.adaptation_field_control & 1) {
        const int expected = (lastCounter + 1) & 0x0F;
        if (lastCounter >= 0 && h.continuity_counter == lastCounter && !h.discontinuity_indicator) continue;  // duplicate
        if (lastCounter >= 0 && h.continuity_counter != expected && !h.discontinuity_indicator && places)
          places->AddDamage(packetAt, Format("continuity_counter %d where %d was due", {h.continuity_counter, expected}));
        lastCounter = h.continuity_counter;
      }
      if (!h.HasPayload()) continue;
      if (h.transport_scrambling_control != 0) {
        if (places) places->AddDamage(packetAt, "scrambled packet: its payload cannot be read");
        continue;
      }
      const std::uint8_t* payload = bytes.data() + h.PayloadOffset;
      auto count = static_cast<std::size_t>(kTsPacketSize - h.PayloadOffset);
      std::int64_t payloadAt = packetAt + S + h.PayloadOffset;
      if (h.payload_unit_start_indicator) {
        gathering = true;
        gathered = 0;
        bounded = -1;
      }
      if (gathering) {
        // The PES header: skip it, gathering it first when it runs on into the next packet.
        const std::size_t take = std::min(count, sizeof header - gathered);
        std::memcpy(header + gathered, payload, take);
        const std::size_t before = gathered;
        gathered += take;
        const TPesHeader pes = ReadPesHeader({header, gathered}, none);
        if (!pes.Ok) {
          if (gathered >= 9 || gathered == sizeof header || (gathered >= 3 && (header[0] != 0 || header[1] != 0 || header[2] != 1))) {
            if (places) places->AddDamage(payloadAt, "packet starts with no PES header");
            gathering = false;
          }
          continue;
        }
        gathering = false;
        const std::size_t skip = static_cast<std::size_t>(pes.HeaderSize) - before;
        if (pes.PES_packet_length != 0) bounded = std::int64_t{pes.PES_packet_length} + 6 - pes.HeaderSize;
        payload += skip;
        payloadAt += static_cast<std::int64_t>(skip);
        count -= skip;
      }
      if (bounded >= 0) {
        count = static_cast<std::size_t>(std::min<std::int64_t>(bounded, static_cast<std::int64_t>(count)));
        bounded -= static_cast<std::int64_t>(count);
      }
      out.Emit(payload, payloadAt, count);
    }
    return static_cast<std::int64_t>(out.Count);
  }

private:
  TContainerFormat FFormat;
  std::uint16_t FPid;
};

} // namespace

std::int64_t ProgramUnitLength(TFileWindow& window, std::int64_t at) {
  const auto b = window.At(at, 16);
  if (b.empty()) return 0;
  if (b.size() < 4 || b[0] != 0 || b[1] != 0 || b[2] != 1 || b[3] < kProgramEndCode) return -1;
  if (b[3] == kProgramEndCode) return 4;
  if (b[3] == kPackStartCode) {
    TNoElements none;
    const TPackHeader pack = ReadPackHeader(b, none);
    return pack.Ok ? pack.Size : -1;
  }
  if (b.size() < 6) return -1;
  return 6 + (std::int64_t{b[4]} << 8 | b[5]);
}

namespace {

class TProgramWalker final : public TContainerWalker {
public:
  explicit TProgramWalker(const TContainerLayout& layout)
      : FMpeg1(layout.Format.Mpeg1System), FStreamId(layout.Video().StreamId) {}

  std::int64_t Read(const TFileStream& file, std::int64_t begin, std::int64_t end, std::span<std::uint8_t> dest,
                    TSourcePlaces* places) const override {
    const std::int64_t size = file.Size();
    end = std::min(end, size);
    if (places != nullptr) places->Clear();
    if (begin >= end || dest.empty()) return 0;
    TFileWindow window(file, size, std::clamp<std::size_t>(dest.size() * 2, 128 << 10, 4 << 20));
    TEmitter out{dest, places, begin, end};

    std::int64_t at = FindUnitAtOrBefore(window, begin);
    while (at < end && !out.Full()) {
      const std::int64_t length = ProgramUnitLength(window, at);
      if (length <= 0) {
        if (length == 0) break;  // the file ends
        const std::int64_t next = NextUnit(window, at + 1);
        if (places) places->AddDamage(at, Format("no pack or packet start here: %d bytes skipped", {next - at}));
        at = next;
        continue;
      }
      const auto head = window.At(at, 4);
      if (IsVideoStreamId(head[3]) && head[3] == FStreamId) {
        TNoElements none;
        const auto bytes = window.At(at, 6 + 255 + 16);
        const TPesHeader pes = ReadPesHeader(bytes, none, FMpeg1);
        if (pes.Ok && pes.HeaderSize <= length) {
          const std::int64_t from = at + pes.HeaderSize;
          const std::int64_t stop = std::min(at + length, end);
          if (stop > begin) {
            // The payload in pieces that each fit the window.
            for (std::int64_t p = std::max(from, std::min(begin, stop)); p < stop && !out.Full();) {
              const auto piece = window.At(p, static_cast<std::size_t>(std::min<std::int64_t>(stop - p, 1 << 16)));
              if (piece.empty()) break;
              out.Emit(piece.data(), p, piece.size());
              p += static_cast<std::int64_t>(piece.size());
            }
          }
        } else if (places) {
          places->AddDamage(at, "video PES packet with a bad header");
        }
      }
      at += length;
    }
    return static_cast<std::int64_t>(out.Count);
  }

private:
  // Whether a unit starts at `at` and the one after it starts where it says (or the file ends).
  bool Chains(TFileWindow& window, std::int64_t at) const {
    const std::int64_t length = ProgramUnitLength(window, at);
    if (length <= 0) return false;
    return ProgramUnitLength(window, at + length) >= 0;
  }

  std::int64_t NextUnit(TFileWindow& window, std::int64_t from) const {
    for (std::int64_t at = from; at < window.FileSize(); ++at) {
      const auto b = window.At(at, 4);
      if (b.size() == 4 && b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] >= kProgramEndCode && Chains(window, at)) return at;
    }
    return window.FileSize();
  }

  // The unit that holds `position`: found from a unit start shortly before it whose chain of
  // lengths leads there, so that a read from any position takes up the packet it falls in.
  std::int64_t FindUnitAtOrBefore(TFileWindow& window, std::int64_t position) const {
    constexpr std::int64_t kBack = 6 + 65535 + 64;  // the longest unit, and some
    const std::int64_t from = std::max<std::int64_t>(position - kBack, 0);
    std::vector<std::uint8_t> back(static_cast<std::size_t>(position - from + 3));
    {
      std::int64_t p = from;
      std::size_t got = 0;
      while (got < back.size()) {
        const auto piece = window.At(p, back.size() - got);
        if (piece.empty()) break;
        std::memcpy(back.data() + got, piece.data(), piece.size());
        got += piece.size();
        p += static_cast<std::int64_t>(piece.size());
      }
      back.resize(got);
    }
    for (std::int64_t i = std::min<std::int64_t>(position - from, static_cast<std::int64_t>(back.size()) - 4); i >= 0; --i) {
      const auto k = static_cast<std::size_t>(i);
      if (back[k] != 0 || back[k + 1] != 0 || back[k + 2] != 1 || back[k + 3] < kProgramEndCode) continue;
      // Follow the chain from this candidate up to the position.
      std::int64_t at = from + i;
      bool ok = true;
      while (ok) {
        const std::int64_t length = ProgramUnitLength(window, at);
        if (length <= 0) {
          ok = length == 0;
          break;
        }
        if (at + length > position) break;
        at += length;
      }
      if (ok && Chains(window, at)) return at;
      if (ok && ProgramUnitLength(window, at) == 0) return at;
    }
    return NextUnit(window, position);
  }

  bool FMpeg1;
  std::uint8_t FStreamId;
};

} // namespace

std::unique_ptr<TContainerWalker> MakeContainerWalker(const TContainerLayout& layout) {
  if (layout.Format.Kind == TContainerKind::Transport) return std::make_unique<TTransportWalker>(layout);
  return std::make_unique<TProgramWalker>(layout);
}

} // namespace varlow
