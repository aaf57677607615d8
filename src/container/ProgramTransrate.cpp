#include <algorithm>
#include <cstring>
#include <vector>

#include "container/ContainerTransrate.h"
#include "container/PackHeader.h"
#include "container/ProgramWalk.h"
#include "container/VideoPass.h"

namespace varlow {

namespace {

// A picture whose PES packet carried time stamps: where its start code lies in the video and
// the stamps' bytes as written (PTS, or PTS and DTS: the same in both PES syntaxes).
struct TStamped {
  std::int64_t Position = 0;
  std::vector<std::uint8_t> Stamps;
  std::uint8_t Flags = 0;  // PTS_DTS_flags
};

// Where the time stamps lie in a PES header's bytes.
std::size_t StampsAt(std::span<const std::uint8_t> pes, bool mpeg2) {
  if (mpeg2) return 9;
  std::size_t at = 6;
  while (at < pes.size() && pes[at] == 0xFF) ++at;
  if (at < pes.size() && (pes[at] & 0xC0) == 0x40) at += 2;
  return at;
}

std::int32_t FirstPictureStart(std::span<const std::uint8_t> bytes) {
  for (std::size_t i = 0; i + 3 < bytes.size(); ++i)
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0) return static_cast<std::int32_t>(i);
  return -1;
}

void PutLength(std::vector<std::uint8_t>& pes) {
  const std::size_t length = pes.size() - 6;
  pes[4] = static_cast<std::uint8_t>(length >> 8);
  pes[5] = static_cast<std::uint8_t>(length & 0xFF);
}

std::vector<std::uint8_t> Padding(std::size_t total) {
  std::vector<std::uint8_t> p(total, 0xFF);
  p[0] = 0;
  p[1] = 0;
  p[2] = 1;
  p[3] = 0xBE;
  PutLength(p);
  return p;
}

// Builds video PES packets of the sizes of the input's, each filled with the next transrated
// bytes of its own group of pictures, with the time stamps of the first picture that begins in it.
class TProgramPacketiser {
public:
  TProgramPacketiser(TSequentialReader& video, const TPositionMap& map, std::vector<TStamped> stamps,
                     std::vector<std::int64_t> groupStarts, std::int64_t videoIn, std::int64_t videoOut, bool mpeg1)
      : FVideo(video), FMap(map), FStamps(std::move(stamps)), FGroups(std::move(groupStarts)), FVideoIn(videoIn),
        FVideoOut(videoOut), FMpeg1(mpeg1) {}

  // The packet that takes the place of the input's video packet `unit`, which began `inputAt`
  // bytes into the video; the same size, a padding packet when nothing is left for it.
  std::vector<std::uint8_t> Replace(const TPsUnit& unit, std::int64_t inputAt, bool& empty) {
    const std::size_t total = unit.Bytes.size();
    // The groups the packet carried (a packet may run on into the next): their transrated bytes
    // may go here, no later group's.
    const std::int64_t last = inputAt + std::max<std::int64_t>(static_cast<std::int64_t>(unit.Payload.size()) - 1, 0);
    const auto next = std::upper_bound(FGroups.begin(), FGroups.end(), last);
    const std::int64_t limit = FMap.Map(next == FGroups.end() ? FVideoIn : *next);
    const std::int64_t available = std::max<std::int64_t>(0, limit - FCursor);
    const std::vector<std::uint8_t> plain = Header(unit, nullptr);
    empty = available == 0 || total < plain.size() + 1;
    if (empty) return Padding(total);
    while (FNextStamp < FStamps.size() && FMap.Map(FStamps[FNextStamp].Position) < FCursor) ++FNextStamp;
    std::int64_t n = std::min<std::int64_t>(available, static_cast<std::int64_t>(total - plain.size()));
    std::vector<std::uint8_t> pes = plain;
    if (FNextStamp < FStamps.size()) {
      const std::int64_t picture = FMap.Map(FStamps[FNextStamp].Position);
      if (picture < FCursor + n) {
        std::vector<std::uint8_t> stamped = Header(unit, &FStamps[FNextStamp]);
        const std::int64_t room = static_cast<std::int64_t>(total) - static_cast<std::int64_t>(stamped.size());
        if (picture < FCursor + std::min(available, room)) {
          ++FNextStamp;
          pes = std::move(stamped);
          n = std::min(available, room);
        } else {
          n = picture - FCursor;  // the picture begins in the next packet, which takes its stamps
        }
      }
    }
    FVideo.Append(FCursor, FCursor + n, pes);
    FCursor += n;
    // Fill up to the input packet's size: stuffing in the header where a few bytes are missing,
    // a padding packet after it otherwise.
    const std::size_t gap = total - pes.size();
    if (gap > 0 && gap < 6) Stuff(pes, gap);
    PutLength(pes);
    if (gap >= 6) {
      const std::vector<std::uint8_t> padding = Padding(gap);
      pes.insert(pes.end(), padding.begin(), padding.end());
    }
    return pes;
  }

  // What is still left after the last input packet, in packets of their own.
  std::vector<std::uint8_t> Rest(std::uint8_t streamId) {
    std::vector<std::uint8_t> out;
    while (FCursor < FVideoOut) {
      std::vector<std::uint8_t> pes;
      pes.reserve(2048);
      for (const std::uint8_t b : {std::uint8_t{0}, std::uint8_t{0}, std::uint8_t{1}, streamId, std::uint8_t{0}, std::uint8_t{0}})
        pes.push_back(b);
      if (FMpeg1) {
        pes.push_back(0x0F);
      } else {
        pes.push_back(0x80);
        pes.push_back(0x00);
        pes.push_back(0x00);
      }
      const std::int64_t n = std::min<std::int64_t>(FVideoOut - FCursor, 2000);
      FVideo.Append(FCursor, FCursor + n, pes);
      FCursor += n;
      PutLength(pes);
      out.insert(out.end(), pes.begin(), pes.end());
      ++FExtra;
    }
    return out;
  }
  std::int64_t Extra() const { return FExtra; }

private:
  // The header of `unit`'s packet with `stamp`'s time stamps (or none) in place of its own:
  // everything else it held is kept, and stuffing keeps its size where the stamps take less room.
  std::vector<std::uint8_t> Header(const TPsUnit& unit, const TStamped* stamp) const {
    const auto in = unit.Bytes.first(static_cast<std::size_t>(unit.Pes.HeaderSize));
    const std::size_t at = StampsAt(in, unit.Pes.Mpeg2);
    const std::size_t oldStamps = unit.Pes.PTS == kNoTimestamp ? 0 : unit.Pes.DTS == kNoTimestamp ? 5 : 10;
    const std::size_t newStamps = stamp ? stamp->Stamps.size() : 0;
    std::vector<std::uint8_t> h;
    if (unit.Pes.Mpeg2) {
      h.assign(in.begin(), in.begin() + 9);
      h[7] = static_cast<std::uint8_t>((stamp ? stamp->Flags << 6 : 0) | (in[7] & 0x3F));
      if (stamp) h.insert(h.end(), stamp->Stamps.begin(), stamp->Stamps.end());
      h.insert(h.end(), in.begin() + static_cast<std::ptrdiff_t>(at + oldStamps), in.end());
      if (newStamps < oldStamps) h.insert(h.end(), oldStamps - newStamps, 0xFF);
      h[8] = static_cast<std::uint8_t>(std::min<std::size_t>(h.size() - 9, 0xFF));
      return h;
    }
    // MPEG-1: leading stuffing, the STD buffer, then the stamps or the marker byte 0F.
    std::size_t stuffing = 0;
    while (6 + stuffing < in.size() && in[6 + stuffing] == 0xFF) ++stuffing;
    const std::size_t oldField = oldStamps == 0 ? 1 : oldStamps;
    const std::size_t newField = newStamps == 0 ? 1 : newStamps;
    const std::size_t keep = std::min<std::size_t>(16, stuffing + oldField > newField ? stuffing + oldField - newField : 0);
    h.assign(in.begin(), in.begin() + 6);
    h.insert(h.end(), keep, 0xFF);
    h.insert(h.end(), in.begin() + static_cast<std::ptrdiff_t>(6 + stuffing), in.begin() + static_cast<std::ptrdiff_t>(at));
    if (stamp) h.insert(h.end(), stamp->Stamps.begin(), stamp->Stamps.end());
    else h.push_back(0x0F);
    return h;
  }
  void Stuff(std::vector<std::uint8_t>& pes, std::size_t count) const {
    if (!FMpeg1) {
      // Stuffing bytes at the end of the optional header, counted in its length.
      const std::size_t end = 9 + pes[8];
      pes.insert(pes.begin() + static_cast<std::ptrdiff_t>(end), count, 0xFF);
      pes[8] = static_cast<std::uint8_t>(pes[8] + count);
    } else {
      pes.insert(pes.begin() + 6, count, 0xFF);
    }
  }

  TSequentialReader& FVideo;
  const TPositionMap& FMap;
  std::vector<TStamped> FStamps;
  std::vector<std::int64_t> FGroups;
  const std::int64_t FVideoIn, FVideoOut;
  const bool FMpeg1;
  std::int64_t FCursor = 0;
  std::size_t FNextStamp = 0;
  std::int64_t FExtra = 0;
};

} // namespace

TTransrateResult TransrateProgramStream(const TByteSource& source, const std::string& OutputPath,
                                        const TTransrateOptions& Options, const TTransrateProgressFunction& Progress) {
  const TContainerLayout& layout = *source.Layout();
  const bool mpeg1 = layout.Format.Mpeg1System;
  const TFileStream& file = source.File();
  TContainerRun run(std::max<std::int64_t>(file.Size(), 0), OutputPath, Options, Progress);
  TVideoPass& pass = run.Pass();
  TPacketOutput& written = run.Output();

  // Aimed at a size: the video's share of the file is counted first. Its carriers are its PES
  // packets and the headers of the packs they open; each group of pictures ends in a partial
  // packet, half empty on average: three quarters of one is counted, and one packet more is kept
  // in hand, since the packs the output keeps come in whole packs and short streams have too few
  // groups to average over.
  if (Options.SizeBytes > 0) {
    TVideoFootprint footprint;
    std::int64_t packHeader = 0, videoPackets = 0;
    bool packOpen = false, stopped = false;
    WalkProgram(file, layout, [&](const TPsUnit& unit) {
      if (unit.Kind == TPsUnit::TKind::Pack) {
        packHeader = static_cast<std::int64_t>(unit.Bytes.size());
        packOpen = true;
      } else if (unit.Kind == TPsUnit::TKind::Pes) {
        if (unit.Video) {
          footprint.VideoBytes += static_cast<std::int64_t>(unit.Payload.size());
          footprint.CarrierBytes += static_cast<std::int64_t>(unit.Bytes.size()) + (packOpen ? packHeader : 0);
          footprint.PartialPackets += CountGroupStarts(unit.Payload);
          ++videoPackets;
        }
        packOpen = false;
      }
      stopped = !run.Progress(false, 0);
      return !stopped;
    });
    if (stopped) return run.Cancelled();
    const auto packet = static_cast<std::int32_t>(footprint.CarrierBytes / std::max<std::int64_t>(videoPackets, 1));
    footprint.PartialWaste = packet * 3 / 4;
    footprint.Reserve = packet;
    pass.AimAt(footprint.VideoBytes, std::max<std::int64_t>(footprint.VideoTarget(Options.SizeBytes, file.Size()), 0));
  }

  // First pass: the video through the engine, and the pictures its time stamps belong to.
  std::vector<TStamped> stamps;
  bool cancelled = false;
  WalkProgram(file, layout, [&](const TPsUnit& unit) {
    if (unit.Video) {
      if (unit.Pes.PTS != kNoTimestamp) {
        const std::int32_t picture = FirstPictureStart(unit.Payload);
        if (picture >= 0) {
          const std::size_t at = StampsAt(unit.Bytes, unit.Pes.Mpeg2);
          const std::size_t count = unit.Pes.DTS != kNoTimestamp ? 10 : 5;
          if (at + count <= unit.Bytes.size())
            stamps.push_back({pass.VideoIn() + picture,
                              std::vector<std::uint8_t>(unit.Bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                        unit.Bytes.begin() + static_cast<std::ptrdiff_t>(at + count)),
                              static_cast<std::uint8_t>(count == 10 ? 3 : 2)});
        }
      }
      pass.Feed(unit.Payload);
    }
    cancelled = !run.Progress(false, unit.Offset);
    return !cancelled;
  });
  if (cancelled) return run.Cancelled();
  if (std::string failure = pass.Finish(run.Result()); !failure.empty()) return run.Fail(failure);
  std::vector<std::int64_t> groups;
  for (const TVideoUnit& u : pass.Map().Input())
    if (u.GroupStart) groups.push_back(u.Start);

  // Second pass: pack by pack, each video packet refilled, packs left with nothing dropped.
  TSequentialReader video(pass.Video());
  TProgramPacketiser packets(video, pass.Map(), std::move(stamps), std::move(groups), pass.VideoIn(), pass.VideoOut(), mpeg1);
  std::vector<std::uint8_t> pack;  // the pack being built
  bool packHasContent = false;     // anything in it besides its header and freed video packets
  bool packFreed = false;          // a video packet of it was freed
  std::int64_t position = 0;
  std::int64_t others = 0, droppedPacks = 0, freed = 0, damaged = 0;
  std::uint8_t lastVideoId = layout.Video().StreamId;
  const auto endPack = [&] {
    if (pack.empty()) return;
    if (packFreed && !packHasContent && !Options.KeepMuxRate) ++droppedPacks;
    else written.Write(pack);
    pack.clear();
    packHasContent = false;
    packFreed = false;
  };
  WalkProgram(file, layout, [&](const TPsUnit& unit) {
    if (unit.Kind == TPsUnit::TKind::Pack || unit.Kind == TPsUnit::TKind::End) endPack();
    if (unit.Kind == TPsUnit::TKind::End) {
      const std::vector<std::uint8_t> rest = packets.Rest(lastVideoId);
      written.Write(rest);
    }
    if (unit.Video) {
      bool empty = false;
      const std::vector<std::uint8_t> pes = packets.Replace(unit, position, empty);
      position += static_cast<std::int64_t>(unit.Payload.size());
      // A freed packet goes, unless every place is to be kept: then it stays as padding.
      if (!empty || Options.KeepMuxRate) pack.insert(pack.end(), pes.begin(), pes.end());
      if (empty) {
        packFreed = true;
        ++freed;
      } else {
        packHasContent = true;
      }
    } else {
      pack.insert(pack.end(), unit.Bytes.begin(), unit.Bytes.end());
      if (unit.Kind == TPsUnit::TKind::Damaged) ++damaged;
      if (unit.Kind == TPsUnit::TKind::Pes && unit.StreamId != 0xBE) ++others;
      if (unit.Kind != TPsUnit::TKind::Pack && !(unit.Kind == TPsUnit::TKind::Pes && unit.StreamId == 0xBE))
        packHasContent = true;
    }
    cancelled = !run.Progress(true, unit.Offset);
    return !cancelled;
  });
  if (cancelled) return run.Cancelled();
  endPack();
  written.Write(packets.Rest(lastVideoId));
  if (position != pass.VideoIn()) return run.Fail("the container's video could not be followed the second time");
  std::string carried = std::to_string(others) + " other packets carried unchanged; " + std::to_string(freed) +
                        (Options.KeepMuxRate ? " video packets made padding"
                                             : " video packets and " + std::to_string(droppedPacks) + " packs left out");
  if (packets.Extra() > 0) carried += "; " + std::to_string(packets.Extra()) + " video packets added";
  if (damaged > 0) carried += "; " + std::to_string(damaged) + " damaged places";
  return run.Commit(std::move(carried));
}

} // namespace varlow
