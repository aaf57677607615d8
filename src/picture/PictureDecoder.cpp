#include "picture/PictureDecoder.h"

#include <array>
#include <map>
#include <stdexcept>
#include <string>

#include "picture/AvDecoder.h"
#include "picture/DecodePlan.h"
#include "picture/UnitWindow.h"
#include "container/OpenSource.h"
#include "support/Trap.h"

namespace varlow {

namespace {

constexpr std::int64_t kFirstBackReach = std::int64_t{1} << 20;
constexpr std::int64_t kLastBackReach = std::int64_t{256} << 20;
// The picture and, for the prefetch, the rest of its group; reached further for a larger picture.
constexpr std::int64_t kForwardReach = std::int64_t{4} << 20;
constexpr std::int64_t kLastForwardReach = std::int64_t{64} << 20;

} // namespace

struct TPictureDecoder::TRun {
  std::unique_ptr<TAvDecoder> Decoder;
  std::vector<TPacket> Packets;
  std::size_t Next = 0;
  std::map<std::int64_t, std::int64_t> SecondFields;  // frame key -> second field offset
};

namespace {

// Whether a picture start code begins at `offset`.
bool StartsPicture(const TByteSource& source, std::int64_t offset) {
  std::array<std::uint8_t, 4> code{};
  return source.ReadAt(offset, code) == 4 && code == std::array<std::uint8_t, 4>{0, 0, 1, 0};
}

}  // namespace

TPictureDecoder::TPictureDecoder(std::string path, std::size_t cacheBytes, std::int32_t stream)
    : FPath(std::move(path)), FStreamIndex(stream), FCache(cacheBytes) {}

TPictureDecoder::~TPictureDecoder() = default;

void TPictureDecoder::Keep(std::int64_t key, TDecodedPicturePtr picture) {
  FCache.Insert(key, picture);
  if (FRun) {
    auto it = FRun->SecondFields.find(key);
    if (it != FRun->SecondFields.end()) FCache.Insert(it->second, picture);
  }
}

TPictureResult TPictureDecoder::Decode(std::int64_t offset, const std::atomic<bool>* cancel) {
  TPictureResult result;
  if (TDecodedPicturePtr cached = FCache.Find(offset)) {
    result.Status = TPictureResult::TStatus::Ok;
    result.Picture = std::move(cached);
    result.FromCache = true;
    return result;
  }
  result.Message = "The picture could not be decoded.";
  Trap("TPictureDecoder.Decode", [&] { result = DecodeFresh(offset, cancel); });
  return result;
}

TPictureResult TPictureDecoder::DecodeFresh(std::int64_t offset, const std::atomic<bool>* cancel) {
  TPictureResult result;
  FRun.reset();
  if (!FStream) FStream = OpenVideoSource(FPath, TFileStream::Mode::ReadOnly, FStreamIndex).Source;
  if (!FStream) {
    result.Message = "The file cannot be read.";
    return result;
  }

  // Reach further back until the units hold every reference the picture needs.
  std::unique_ptr<TUnitWindow> window;
  TDecodePlan plan;
  std::int64_t target = -1;
  std::int64_t forward = kForwardReach;
  for (std::int64_t reach = kFirstBackReach;; reach *= 4) {
    window = std::make_unique<TUnitWindow>(*FStream, offset, reach, forward);
    target = window->IndexAt(offset);
    if (target < 0 && !window->ReachesFileEnd() && forward < kLastForwardReach) {
      forward *= 4;  // the picture is longer than the bytes read
      reach /= 4;
      continue;
    }
    if (target < 0 && !window->ReachesFileEnd() && StartsPicture(*FStream, offset)) {
      // A picture the list shows, longer than any window read for it.
      result.Message = "This picture is more than " + std::to_string(kLastForwardReach >> 20) +
                       " MiB long: too large for the picture pane to decode.";
      return result;
    }
    if (target < 0 || !window->Units()[static_cast<std::size_t>(target)].IsPicture()) {
      result.Status = TPictureResult::TStatus::NotAPicture;
      result.Message = "No picture starts at this offset.";
      return result;
    }
    plan = PlanDecode(window->Units(), target, window->ReachesFileStart());
    if (plan.Outcome != TDecodePlan::TOutcome::NeedMoreBefore || reach >= kLastBackReach) break;
  }
  if (plan.Outcome == TDecodePlan::TOutcome::ReferenceMissing) {
    result.Status = TPictureResult::TStatus::ReferenceMissing;
    result.Message = "Reference picture missing: the pictures this one is predicted from are not in the file.";
    return result;
  }
  if (plan.Outcome != TDecodePlan::TOutcome::Ready) {
    result.Message = "No I picture or sequence header found before this picture.";
    return result;
  }

  // One packet per picture, carrying the headers in front of it; the governing sequence header
  // goes in front of the first when it is not among them.
  const auto& units = window->Units();
  auto run = std::make_unique<TRun>();
  std::vector<std::uint8_t> pending;
  if (plan.Sequence >= 0) {
    auto bytes = window->Bytes(plan.Sequence);
    pending.assign(bytes.begin(), bytes.end());
  }
  bool groupStart = plan.Sequence >= 0;
  std::int64_t frameKey = 0;
  std::size_t targetPacket = 0;
  for (std::int64_t i = plan.First; i < static_cast<std::int64_t>(units.size()); ++i) {
    const TStreamUnit& u = units[static_cast<std::size_t>(i)];
    auto bytes = window->Bytes(i);
    pending.insert(pending.end(), bytes.begin(), bytes.end());
    if (!u.IsPicture()) {
      groupStart = groupStart || u.Code == 0xB3 || u.Code == 0xB8;
      continue;
    }
    if (!u.SecondField) frameKey = u.Offset;
    else run->SecondFields[frameKey] = u.Offset;
    TPacket packet;
    packet.Bytes = std::move(pending);
    pending.clear();
    packet.Key = u.Offset;
    packet.FrameKey = frameKey;
    packet.B = u.PictureCodingType == 3;
    packet.GroupStart = groupStart;
    groupStart = false;
    if (i == target) targetPacket = run->Packets.size();
    run->Packets.push_back(std::move(packet));
  }
  if (!pending.empty() && !run->Packets.empty()) {
    // A sequence end code after the last picture.
    auto& last = run->Packets.back().Bytes;
    last.insert(last.end(), pending.begin(), pending.end());
  }

  const std::int64_t wanted = units[static_cast<std::size_t>(plan.FrameFirst)].Offset;
  run->Decoder = std::make_unique<TAvDecoder>(
      ReadPictureGeometry(plan.Sequence >= 0 ? window->Bytes(plan.Sequence) : window->Bytes(plan.First)).Mpeg1);
  FRun = std::move(run);
  TDecodedPicturePtr picture;
  auto onFrame = [&](std::int64_t key, TDecodedPicturePtr frame) {
    if (key == wanted) picture = frame;
    Keep(key, std::move(frame));
  };
  auto& packets = FRun->Packets;
  while (FRun->Next < packets.size() && !picture) {
    if (cancel != nullptr && cancel->load()) {
      FRun.reset();
      result.Status = TPictureResult::TStatus::Cancelled;
      return result;
    }
    const TPacket& packet = packets[FRun->Next];
    // B pictures before the one asked for are not needed by anything.
    const bool skip = packet.B && FRun->Next < targetPacket && packet.FrameKey != wanted;
    FRun->Decoder->Send(packet.Bytes, packet.Key, skip, onFrame);
    ++FRun->Next;
  }
  if (!picture) {
    FRun->Decoder->Flush(onFrame);
    FRun->Next = packets.size();
  }
  if (!picture) {
    result.Message = "The decoder gave no picture for this pack.";
    return result;
  }
  result.Status = TPictureResult::TStatus::Ok;
  result.Picture = std::move(picture);
  return result;
}

std::vector<std::int64_t> TPictureDecoder::Prefetch(const std::atomic<bool>* cancel, std::int32_t maxPictures) {
  std::vector<std::int64_t> decoded;
  Trap("TPictureDecoder.Prefetch", [&] {
    if (!FRun) return;
    auto onFrame = [&](std::int64_t key, TDecodedPicturePtr frame) { Keep(key, std::move(frame)); };
    for (std::int32_t n = 0; n < maxPictures && FRun->Next < FRun->Packets.size(); ++n) {
      if (cancel != nullptr && cancel->load()) return;
      const TPacket& packet = FRun->Packets[FRun->Next];
      FRun->Decoder->Send(packet.Bytes, packet.Key, false, onFrame);
      ++FRun->Next;
      decoded.push_back(packet.Key);
      // The next group's I picture brings out the last anchor of this one; the pictures after
      // it are the next group's.
      if (packet.GroupStart && n > 0) break;
    }
  });
  return decoded;
}

} // namespace varlow
