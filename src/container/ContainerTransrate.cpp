#include "container/ContainerTransrate.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>
#include <vector>

#include "container/TransportWalk.h"
#include "support/PaddedBuffer.h"
#include "transrate/MPEG2VideoTransrateClass.h"
#include "transrate/MPEGESFrameSeparator.h"
#include "transrate/TemporaryOutputFile.h"

namespace varlow {

namespace {

constexpr std::size_t kFeedSize = 2 << 20;  // video bytes handed to the engine at a time

// Where a unit's header part ends: its first slice start code (the whole unit when it has none).
std::int32_t HeaderPart(const std::uint8_t* data, std::int32_t size) {
  for (std::int32_t i = 0; i + 3 < size; ++i)
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] >= 0x01 && data[i + 3] <= 0xAF) return i;
  return size;
}

struct TUnit {
  std::int64_t Start = 0;   // in the video bytes
  std::int64_t Size = 0;
  std::int32_t Header = 0;  // bytes before the first slice
  std::int32_t Type = 0;    // picture_coding_type; 0 for what follows the last picture
};

// A scratch file beside the output for the transrated video, removed with the object.
class TScratchFile {
public:
  explicit TScratchFile(const std::string& beside) {
    const auto slash = beside.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : beside.substr(0, slash);
    FPath = folder + "/.varlow-video-" + std::to_string(::getpid()) + "-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".tmp";
    FFile = TFileStream::Open(FPath, TFileStream::Mode::Create);
    if (!FFile) throw std::runtime_error("Cannot create a scratch file in " + folder);
  }
  ~TScratchFile() { ::unlink(FPath.c_str()); }
  TScratchFile(const TScratchFile&) = delete;
  TScratchFile& operator=(const TScratchFile&) = delete;
  TFileStream& File() { return *FFile; }

private:
  std::string FPath;
  std::unique_ptr<TFileStream> FFile;
};

// Input video positions to output positions, unit by unit: a unit's headers come out as they
// went in, its slices shrink; the engine leaves out what comes before its first intra picture.
class TPositionMap {
public:
  TPositionMap(std::vector<TUnit> in, std::vector<TUnit> out, std::int64_t inTotal, std::int64_t outTotal)
      : FIn(std::move(in)), FOut(std::move(out)), FInTotal(inTotal), FOutTotal(outTotal) {
    // The output units are the last input units one for one.
    FSkipped = static_cast<std::int64_t>(FIn.size()) - static_cast<std::int64_t>(FOut.size());
    if (FSkipped < 0) throw std::runtime_error("the transrated video has more units than its input");
  }

  std::int64_t Map(std::int64_t pos) const {
    if (pos >= FInTotal) return FOutTotal;
    auto it = std::upper_bound(FIn.begin(), FIn.end(), pos, [](std::int64_t p, const TUnit& u) { return p < u.Start; });
    if (it == FIn.begin()) return 0;
    const auto k = static_cast<std::int64_t>(it - FIn.begin()) - 1;
    if (k < FSkipped) return 0;
    const TUnit& a = FIn[static_cast<std::size_t>(k)];
    const TUnit& b = FOut[static_cast<std::size_t>(k - FSkipped)];
    const std::int64_t d = pos - a.Start;
    if (d <= a.Header) return b.Start + std::min<std::int64_t>(d, b.Header);
    const std::int64_t inSlices = std::max<std::int64_t>(a.Size - a.Header, 1);
    const std::int64_t outSlices = b.Size - b.Header;
    return b.Start + b.Header + (d - a.Header) * outSlices / inSlices;
  }

private:
  std::vector<TUnit> FIn, FOut;
  std::int64_t FInTotal, FOutTotal;
  std::int64_t FSkipped = 0;
};

// Reads the transrated video front to back.
class TSequentialReader {
public:
  explicit TSequentialReader(const TFileStream& file) : FFile(file), FBytes(1 << 20) {}
  void Append(std::int64_t from, std::int64_t to, std::vector<std::uint8_t>& out) {
    while (from < to) {
      if (from < FStart || from >= FStart + static_cast<std::int64_t>(FValid)) {
        FStart = from;
        FValid = static_cast<std::size_t>(FFile.ReadAt(from, FBytes));
        if (FValid == 0) throw std::runtime_error("the transrated video ended early");
      }
      const auto at = static_cast<std::size_t>(from - FStart);
      const std::size_t take = std::min<std::size_t>(FValid - at, static_cast<std::size_t>(to - from));
      out.insert(out.end(), FBytes.begin() + static_cast<std::ptrdiff_t>(at), FBytes.begin() + static_cast<std::ptrdiff_t>(at + take));
      from += static_cast<std::int64_t>(take);
    }
  }

private:
  const TFileStream& FFile;
  std::vector<std::uint8_t> FBytes;
  std::int64_t FStart = 0;
  std::size_t FValid = 0;
};

// The output file behind a buffer, so that packets go out in large writes rather than one
// system call each.
class TPacketOutput {
public:
  explicit TPacketOutput(TTemporaryOutputFile& file) : FFile(file) { FBytes.reserve(kSize); }
  ~TPacketOutput() = default;
  void Write(std::span<const std::uint8_t> bytes) {
    if (FBytes.size() + bytes.size() > kSize) Flush();
    if (bytes.size() >= kSize) {
      FFile.Write(bytes);
      return;
    }
    FBytes.insert(FBytes.end(), bytes.begin(), bytes.end());
  }
  void Flush() {
    if (FBytes.empty()) return;
    FFile.Write(FBytes);
    FBytes.clear();
  }
  std::int64_t Written() const { return FFile.Written() + static_cast<std::int64_t>(FBytes.size()); }

private:
  static constexpr std::size_t kSize = 1 << 20;
  TTemporaryOutputFile& FFile;
  std::vector<std::uint8_t> FBytes;
};

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
  TVideoPacketiser(TPacketOutput& out, std::int32_t prefix, bool keepPlaces)
      : FOut(out), FPrefix(prefix), FKeepPlaces(keepPlaces) {}

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
      ++FAdaptationOnly;
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

public:
  std::uint16_t FPid = 0;
  std::int64_t FAdaptationOnly = 0;

private:
  TPacketOutput& FOut;
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

TTransrateResult Fail(TTransrateResult result, std::string message, TTransrateStatus status = TTransrateStatus::Failed) {
  result.Status = status;
  result.Message = std::move(message);
  return result;
}

} // namespace

TTransrateResult TransrateTransportStream(const TByteSource& source, const std::string& OutputPath,
                                          const TTransrateOptions& Options, const TTransrateProgressFunction& Progress) {
  TTransrateResult result;
  const TContainerLayout& layout = *source.Layout();
  if (layout.Format.PacketSize == 204)
    return Fail(result, "transport streams with 204-byte packets are not transrated: their parity bytes would no longer match");
  const TFileStream& file = source.File();
  const std::int64_t size = std::max<std::int64_t>(file.Size(), 0);
  TTemporaryOutputFile output(OutputPath);
  TScratchFile scratch(OutputPath);

  // First pass: the video through the engine, with where its units and PES packets begin.
  TMPEG2VideoTransrateClass engine;
  engine.SetMethod(Options.Method);
  engine.SetMaxOutputBitrate(Options.Bitrate);
  std::vector<TUnit> outUnits;
  std::int64_t outTotal = 0;
  std::string writeError;
  engine.SetMPEGESTransReceiveFunctionObj([&](const std::uint8_t* data, std::int32_t n, std::int32_t type) {
    try {
      scratch.File().Append({data, static_cast<std::size_t>(n)});
    } catch (const std::exception& e) {
      if (writeError.empty()) writeError = e.what();
      return E_FAIL;
    }
    outUnits.push_back({outTotal, n, HeaderPart(data, n), type});
    outTotal += n;
    return S_OK;
  });
  double seconds = 0;
  engine.SetGroupReportFunction([&](const TGroupReport& report) {
    ++result.Groups;
    if (report.OutputBits > report.BudgetBits) ++result.GroupsOverBudget;
    seconds += report.Seconds;
  });
  TMPEGESVideoFrameSeparatorEx separator;
  std::vector<TUnit> inUnits;
  std::int64_t separated = 0;
  separator.SetMPEGESReceiveFunctionObj([&](std::int32_t, std::int32_t, const std::uint8_t* data, std::int32_t n) {
    inUnits.push_back({separated, n, HeaderPart(data, n), separator.FrameCodingType()});
    separated += n;
    return S_OK;
  });
  std::vector<std::int64_t> pesStarts;
  std::int64_t videoIn = 0;
  TPaddedBuffer feed(kFeedSize);
  std::size_t fed = 0;
  const auto flushFeed = [&] {
    if (fed == 0) return;
    engine.AddData(feed.Data(), static_cast<std::int32_t>(fed));
    separator.AddData(feed.Data(), static_cast<std::int32_t>(fed));
    fed = 0;
  };
  bool cancelled = false;
  std::int64_t slotsSeen = 0;
  const auto report = [&](std::int64_t done) {
    if (!Progress) return true;
    TTransrateProgress progress;
    progress.InputSize = size;
    progress.InputRead = done;
    progress.PicturesOut = engine.PicturesOut();
    progress.OutputBytes = output.Written() + outTotal;
    return Progress(progress);
  };
  WalkTransport(file, layout, [&](const TTsSlot& slot) {
    if (slot.PesStart) pesStarts.push_back(videoIn);
    for (std::size_t at = 0; at < slot.Payload.size();) {
      const std::size_t take = std::min(slot.Payload.size() - at, kFeedSize - fed);
      std::memcpy(feed.Data() + fed, slot.Payload.data() + at, take);
      fed += take;
      at += take;
      if (fed == kFeedSize) flushFeed();
    }
    videoIn += static_cast<std::int64_t>(slot.Payload.size());
    if ((++slotsSeen & 0xFFF) == 0 && !report(slot.Offset / 2)) {
      cancelled = true;
      return false;
    }
    return writeError.empty();
  });
  if (cancelled) return Fail(result, "Cancelled", TTransrateStatus::Cancelled);
  flushFeed();
  engine.Flush();
  separator.Flush();
  result.PicturesIn = engine.PicturesIn();
  result.PicturesOut = engine.PicturesOut();
  result.VideoBytesIn = videoIn;
  result.VideoBytesOut = outTotal;
  result.InputBytes = size;
  if (!writeError.empty()) return Fail(result, writeError);
  if (result.PicturesIn == 0) return Fail(result, "No MPEG video picture from an intra picture on in the container's video");
  if (result.PicturesOut != result.PicturesIn)
    return Fail(result, std::to_string(result.PicturesIn - result.PicturesOut) + " of " +
                            std::to_string(result.PicturesIn) + " pictures could not be written");
  // Bytes before the first unit (none in a stream that starts at a start code) belong to no unit.
  if (!inUnits.empty() && separated < videoIn) {
    const std::int64_t lead = videoIn - separated;
    for (TUnit& u : inUnits) u.Start += lead;
    inUnits.insert(inUnits.begin(), TUnit{0, lead, static_cast<std::int32_t>(std::min<std::int64_t>(lead, 1 << 30)), 0});
  }
  const TPositionMap map(std::move(inUnits), std::move(outUnits), videoIn, outTotal);

  // Second pass: every slot again, the video's refilled.
  TSequentialReader video(scratch.File());
  TPacketOutput written(output);
  TVideoPacketiser packets(written, layout.Format.SyncOffset, Options.KeepMuxRate);
  packets.FPid = layout.Video().Pid;
  std::map<std::uint16_t, std::int64_t> others;
  std::size_t nextPes = 0;
  std::int64_t position = 0;  // input video bytes placed so far
  std::int64_t damaged = 0;
  slotsSeen = 0;
  // Video bytes before the first PES start (a file cut inside a PES packet) go out headerless.
  if (pesStarts.empty() || pesStarts.front() > 0) {
    std::vector<std::uint8_t> lead;
    video.Append(0, map.Map(pesStarts.empty() ? videoIn : pesStarts.front()), lead);
    packets.StartPes(std::move(lead));
  }
  WalkTransport(file, layout, [&](const TTsSlot& slot) {
    if (!slot.Packet) {
      written.Write(slot.Bytes);
      ++damaged;
    } else if (!slot.Video) {
      written.Write(slot.Bytes);
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
    if ((++slotsSeen & 0xFFF) == 0 && !report(size / 2 + slot.Offset / 2)) {
      cancelled = true;
      return false;
    }
    return true;
  });
  if (cancelled) return Fail(result, "Cancelled", TTransrateStatus::Cancelled);
  packets.EmitRest();
  written.Flush();
  if (position != videoIn) return Fail(result, "the container's video could not be followed the second time");

  std::int64_t otherPackets = 0;
  for (const auto& [pid, count] : others) otherPackets += count;
  result.Carried = std::to_string(others.size()) + (others.size() == 1 ? " other PID, " : " other PIDs, ") +
                   std::to_string(otherPackets) + " packets carried unchanged; " + std::to_string(packets.Dropped()) +
                   (Options.KeepMuxRate ? " video packets made null" : " video packets left out");
  if (packets.Extra() > 0) result.Carried += "; " + std::to_string(packets.Extra()) + " video packets added";
  if (damaged > 0) result.Carried += "; " + std::to_string(damaged) + " damaged places";
  result.OutputBytes = output.Written();
  result.Seconds = seconds;
  result.AverageBitrate = seconds > 0 ? static_cast<double>(outTotal) * 8 / seconds : 0;
  if (!report(size)) return Fail(result, "Cancelled", TTransrateStatus::Cancelled);
  output.Commit();
  result.Status = TTransrateStatus::Succeeded;
  return result;
}

} // namespace varlow
