// The re-quantising walk: the slice layer of a picture written anew. Each macroblock is read
// whole (through the same element readers as the cut), its blocks are re-quantised with a
// coarser quantiser, and it is written back with a macroblock_type, quantiser_scale_code and
// coded_block_pattern that fit what is left. Everything that shapes the prediction - address
// increments, motion types and vectors, intra DC - stays as it was, so every decoder predicts
// exactly as it did from the input.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "support/Log.h"
#include "syntax/PictureCodingTypes.h"
#include "transrate/MPEGVideoTranscoder.h"
#include "transrate/RequantShaper.h"
#include "transrate/RequantTables.h"
#include "transrate/Requantiser.h"
#include "transrate/TranscoderNames.h"

namespace varlow {

namespace {

constexpr int kBlockPositions = 64;

// The slice-by-slice step may move by at most this factor from one slice to the next.
constexpr double kSliceStepChange = 1.3;
constexpr double kMaxScale = 24.0;
// A macroblock keeps the quantiser in force when it lies this close (in log) to its own.
constexpr double kKeepQuantiser = 0.12;

// The N bits (1 to 32) of the input at bit position Pos; the unit carries its padding.
std::uint32_t InputBitsAt(const std::uint8_t* Data, std::int64_t Pos, std::int64_t N) {
  std::uint64_t w;
  std::memcpy(&w, Data + (Pos >> 3), 8);
  return static_cast<std::uint32_t>((__builtin_bswap64(w) << (Pos & 7)) >> (64 - N));
}

}  // namespace

// Scan-order weights, the step of this slice (from the bits spent so far against the picture's
// target) and the map from input to output quantiser_scale_code it gives.
void TMPEGVideoTranscoder::PrepareRequantSlice() {
  // The weights by scan position, and the inverse steps made from them, change only with the
  // matrices, the scan and the quantiser table.
  if (FWeightsKey.Matrices != FMatrices || FWeightsKey.AlternateScan != alternate_scan ||
      FWeightsKey.NonLinear != FInNonLinear || FWeightsKey.OutNonLinear != FOutNonLinear ||
      FWeightsKey.Mpeg1 != FMpeg1Walk || FWeightsKey.RoundingBias != FSettings.RoundingBias) {
    FWeightsKey = {FMatrices, alternate_scan, FInNonLinear, FOutNonLinear, FMpeg1Walk, FSettings.RoundingBias};
    FLevelCache.Clear();
    const auto& scan = alternate_scan ? kAlternateScan : kZigzagScan;
    for (std::size_t m = 0; m < 4; ++m)
      for (std::size_t n = 0; n < 64; ++n) FWeights[m][n] = FMatrices[m][scan[n]];
    FInverseKnown.fill(0);
  }

  double scale = FSettings.Scale;
  const std::int64_t inputDone = FReader.BitPosition();
  if (FSettings.TargetBits > 0 && FPictureInputBits > 0 && FScaleWeight > 0) {
    const double progress = static_cast<double>(inputDone) / static_cast<double>(FPictureInputBits);
    const double written = static_cast<double>(WrittenBits());
    const double target = static_cast<double>(FSettings.TargetBits);
    if (progress > 0.01 && progress < 1) {
      // The rate so far and the rate the rest needs, both against the plan (output in
      // proportion to input); the step moves by their ratio through the rate model.
      const double rateSoFar = written / (target * progress);
      const double rateNeeded = std::max((target - written) / (target * (1 - progress)), 0.05);
      const double alpha = std::clamp(FSettings.Alpha, 0.4, 4.0);
      const double used = FScaleSum / FScaleWeight;
      const double wanted = used * std::pow(rateSoFar / rateNeeded, 1.0 / alpha);
      // Early in the picture the rate so far says little: lean on the planned step.
      const double trust = std::min(1.0, progress * 5);
      scale = std::exp((1 - trust) * std::log(FSettings.Scale) + trust * std::log(std::max(wanted, 1e-3)));
      scale = std::clamp(scale, FSliceScale / kSliceStepChange, FSliceScale * kSliceStepChange);
    }
  }
  FSliceScale = std::clamp(scale, 1.0, kMaxScale);

  // The map from input to output quantiser_scale_code is made entry by entry as codes occur:
  // a slice uses few of them.
  FCodeMapLogRatio = std::log(FSliceScale);
  FCodeMap[0] = 0;
  FCodeMapKnown = 1;
}

namespace {

// log quantiser_scale by code, for the linear and the non-linear table.
const std::array<std::array<double, 32>, 2>& LogQuantiserScales() {
  static const auto kLogScale = [] {
    std::array<std::array<double, 32>, 2> t{};
    for (int c = 1; c < 32; ++c) {
      t[0][static_cast<std::size_t>(c)] = std::log(static_cast<double>(QuantiserScale(c, false)));
      t[1][static_cast<std::size_t>(c)] = std::log(static_cast<double>(QuantiserScale(c, true)));
    }
    return t;
  }();
  return kLogScale;
}

}  // namespace

int TMPEGVideoTranscoder::SameStepCode(int QuantIn) const {
  if (FInNonLinear == FOutNonLinear) return QuantIn;
  const auto& in = LogQuantiserScales()[FInNonLinear ? 1 : 0];
  const auto& out = LogQuantiserScales()[FOutNonLinear ? 1 : 0];
  int best = 1;
  for (int c = 2; c < 32; ++c)
    if (std::abs(out[static_cast<std::size_t>(c)] - in[static_cast<std::size_t>(QuantIn & 31)]) <
        std::abs(out[static_cast<std::size_t>(best)] - in[static_cast<std::size_t>(QuantIn & 31)]))
      best = c;
  return best;
}

// The output code for input code In at this slice's step: the nearest to the wanted step among
// the input's own step and those at least MinStepRatio coarser. Where the output codes steps
// with the other table, the input's own step may have no code: the nearest coarser one serves.
void TMPEGVideoTranscoder::MapQuantiser(int In) {
  const auto& logIn = LogQuantiserScales()[FInNonLinear ? 1 : 0];
  const auto& logScale = LogQuantiserScales()[FOutNonLinear ? 1 : 0];
  const double logMinRatio = std::log(std::max(FSettings.MinStepRatio, 1.0)) - 1e-9;
  const double own = logIn[static_cast<std::size_t>(In)];
  const double target = own + FCodeMapLogRatio;
  int first = 1;  // the output code of the input's step, or of the first coarser one
  while (first < 31 && logScale[static_cast<std::size_t>(first)] < own - 1e-9) ++first;
  int best = first;
  double bestDistance = 1e9;
  for (int c = first; c < 32; ++c) {
    // Steps a little coarser than the input's add much error for few bits saved (the
    // reconstruction points of the two quantisers interleave badly): they are left out.
    if (c != first && logScale[static_cast<std::size_t>(c)] - own < logMinRatio) continue;
    const double distance = std::abs(logScale[static_cast<std::size_t>(c)] - target);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = c;
    }
    // The scales rise with the code: past the target every further code is farther.
    if (logScale[static_cast<std::size_t>(c)] >= target) break;
  }
  FCodeMap[static_cast<std::size_t>(In)] = static_cast<std::uint8_t>(best);
  FCodeMapKnown |= 1u << In;
}

bool TMPEGVideoTranscoder::RequantSlice() {
  FSliceInputStart = FReader.BitPosition();
  PrepareRequantSlice();
  FWriting = false;  // the slice's own elements are read here and written below
  std::int32_t quantIn = static_cast<std::int32_t>(Copy(5));
  FWriting = true;
  if (quantIn == 0) {
    MarkDamaged();
    return false;
  }
  std::int32_t quantInForce = QuantOutFor(quantIn);  // the output's quantiser in force
  FWriter.PutBits(static_cast<std::uint32_t>(quantInForce), 5);
  const std::int32_t mbWidth = CopySliceHeaderEnd();

  // A P macroblock without motion that loses all its blocks becomes a skipped macroblock,
  // which predicts alike (zero vector, predictors reset); so does a B macroblock that repeats
  // the prediction before it (see skippableB). The first and the last macroblock of a slice
  // cannot be skipped, so such a macroblock waits until the next one shows it is not the last;
  // as the last it keeps its input blocks (P) or its motion alone (B).
  bool first = true;
  bool pending = false;
  std::int32_t pendingIncrement = 0;
  std::int32_t pendingFlags = 0;
  std::int32_t carry = 0;  // increments of macroblocks turned into skipped ones
  bool ok = true;
  // What a skipped macroblock of a B picture repeats: the prediction of the last macroblock
  // written. Only frame prediction of a macroblock after a non-intra one is repeated here.
  constexpr std::int32_t kMotion = kMacroblockMotionForward | kMacroblockMotionBackward;
  std::int32_t lastMotion = -1;  // kMotion bits of the last macroblock written; -1: none may follow
  const auto frameMotion = [&](const TRequantMacroblock& mb) {
    return picture_structure == kFramePicture &&
           (frame_pred_frame_dct || InputBitsAt(FReader.Data(), mb.TypeEnd, 2) == 2);  // frame_motion_type "frame"
  };
  const auto wrote = [&](const TRequantMacroblock& mb, std::int32_t flags) {
    lastMotion = !(flags & kMacroblockIntra) && frameMotion(mb) ? flags & kMotion : -1;
  };
  // A B macroblock left without blocks whose vectors are the predicted ones (every motion_code
  // 0: "1" per component) and whose prediction is the previous macroblock's decodes the same
  // as a skipped one.
  const auto skippableB = [&](const TRequantMacroblock& mb, std::int32_t flags) {
    const std::int64_t bits = mb.MotionEnd - mb.MotionStart;
    const std::int64_t zeroBits = 2 * __builtin_popcount(static_cast<unsigned>(flags & kMotion));
    return FSettings.SkipBMacroblocks && picture_coding_type == kBidirectionalPicture && zeroBits > 0 &&
           lastMotion == (flags & kMotion) && frameMotion(mb) && bits == zeroBits &&
           InputBitsAt(FReader.Data(), mb.MotionStart, bits) == (1u << bits) - 1;
  };
  const auto writeIdentity = [&](const TRequantMacroblock& mb, std::int32_t increment) {
    std::int32_t flags = mb.Flags & ~kMacroblockQuant;
    // The input's levels at the input's step; written with the other quantiser table, the
    // nearest step it has (the same one for every step up to 24 and every fourth above).
    const std::int32_t quant = SameStepCode(mb.QuantIn);
    // Only a macroblock with blocks carries a quantiser (a B macroblock of the input may have
    // motion alone).
    if (quant != quantInForce && (flags & (kMacroblockPattern | kMacroblockIntra))) {
      flags |= kMacroblockQuant;
      quantInForce = quant;
    }
    WriteRequantMacroblock(mb, increment, flags, quant, mb.Coded, true);
    wrote(mb, flags);
  };

  FWriting = false;
  if (FParsedIn != nullptr) {
    // The analysis read the same slices in the same order; a slice that does not begin where
    // it did cannot be replayed.
    const bool known = FParsedSlice < FParsedSliceEnd && FParsedIn->Slice(FParsedSlice).Start == FReader.BitPosition();
    if (known) {
      FParsedNext = FParsedIn->Slice(FParsedSlice).First;
      FParsedEnd = FParsedNext + FParsedIn->Slice(FParsedSlice).Count;
      ++FParsedSlice;
    }
    ok = known;
  }
  // The macroblock being read and the one waiting; a macroblock that starts to wait trades
  // places with the next to be read rather than being copied.
  TRequantMacroblock* current = &FCurrentMb;
  TRequantMacroblock* waiting = &FPendingMb;
  while (ok) {
    const TMacroblockRead read = NextRequantMacroblock(*current, mbWidth);
    if (read == TMacroblockRead::SliceEnd) break;
    if (read == TMacroblockRead::Damaged) {
      LogDebugFmt("here1 %s FNextX = %d, FNextY = %d", {FNames->SliceTag, FNextX, FNextY});
      ok = false;
      break;
    }
    TRequantMacroblock& mb = *current;
    if (mb.Flags & kMacroblockQuant) quantIn = mb.QuantIn;
    mb.QuantIn = quantIn;
    if (quantIn == 0) {
      ok = false;
      break;
    }
    if (pending) {
      carry = pendingIncrement;  // the waiting macroblock is skipped after all
      pending = false;
    }
    const bool intra = (mb.Flags & kMacroblockIntra) != 0;
    const bool pattern = (mb.Flags & kMacroblockPattern) != 0;
    std::int32_t quantOut = QuantOutFor(quantIn);
    if (quantOut != quantInForce) {
      // The quantiser in force serves when it is as coarse as the input's and close to the
      // wanted one: the change would cost more than it saves.
      const double inForce = QuantiserScale(quantInForce, FOutNonLinear);
      const double wanted = QuantiserScale(quantOut, FOutNonLinear);
      if (inForce >= QuantiserScale(quantIn, FInNonLinear) && std::abs(std::log(inForce / wanted)) < kKeepQuantiser)
        quantOut = quantInForce;
    }
    const std::uint32_t coded = intra || pattern ? RequantBlocks(mb, quantOut) : 0u;
    std::int32_t flags = mb.Flags & ~(kMacroblockQuant | kMacroblockPattern);
    const std::int32_t increment = carry + mb.Increment;
    if (intra || coded != 0) {
      if (!intra) flags |= kMacroblockPattern;
      if (quantOut != quantInForce) {
        flags |= kMacroblockQuant;
        quantInForce = quantOut;
      }
      WriteRequantMacroblock(mb, increment, flags, quantOut, coded, false);
      wrote(mb, flags);
    } else if ((picture_coding_type == kPredictedPicture && !(flags & kMacroblockMotionForward)) ||
               (!first && skippableB(mb, flags))) {
      if (first) {
        writeIdentity(mb, increment);
      } else {
        std::swap(current, waiting);
        pendingIncrement = increment;
        pendingFlags = flags;
        pending = true;
        carry = 0;
        continue;
      }
    } else {
      // Motion without blocks: the same prediction, no pattern, no quantiser.
      WriteRequantMacroblock(mb, increment, flags, quantInForce, 0, false);
      wrote(mb, flags);
    }
    carry = 0;
    first = false;
  }
  if (ok && pending) {
    if (picture_coding_type == kBidirectionalPicture)
      WriteRequantMacroblock(*waiting, pendingIncrement, pendingFlags, quantInForce, 0, false);
    else
      writeIdentity(*waiting, pendingIncrement);
  }
  FWriting = true;
  FScaleSum += FSliceScale * static_cast<double>(FReader.BitPosition() - FSliceInputStart);
  FScaleWeight += static_cast<double>(FReader.BitPosition() - FSliceInputStart);
  if (!ok || FReader.BitsLeft() < 0 || FReader.Error()) {
    MarkDamaged();
    return false;
  }
  return true;
}

// The analysis pass's slice when the macroblocks are kept for re-quantising: read as the
// re-quantising walk reads it, and damaged where that walk would find it damaged.
bool TMPEGVideoTranscoder::RecordRequantSlice() {
  std::int32_t quantIn = static_cast<std::int32_t>(Copy(5));
  const std::int32_t mbWidth = CopySliceHeaderEnd();
  FParsedOut->BeginSlice(FReader.BitPosition());
  bool ok = quantIn != 0;
  while (ok) {
    const TMacroblockRead read = NextRequantMacroblock(FCurrentMb, mbWidth);
    if (read == TMacroblockRead::SliceEnd) break;
    if (FCurrentMb.Flags & kMacroblockQuant) quantIn = FCurrentMb.QuantIn;
    ok = read == TMacroblockRead::Macroblock && quantIn != 0;
    if (!ok) break;
    FParsedOut->Append(FCurrentMb);
    int coefficients = 0;
    for (std::uint32_t left = FCurrentMb.Coded; left != 0; left &= left - 1)
      coefficients += FCurrentMb.Blocks[static_cast<std::size_t>(__builtin_ctz(left))].Count;
    FQuantSum += QuantiserScale(quantIn, q_scale_type != 0 && !FMpeg1Walk) * static_cast<double>(coefficients);
    FQuantWeight += coefficients;
  }
  if (!ok || FReader.BitsLeft() < 0 || FReader.Error()) {
    MarkDamaged();
    return false;
  }
  FParsedOut->EndSlice(FReader.BitPosition());
  // As the cut's analysis does: a cut may end the slice anywhere in its last byte.
  FAlignmentReserve += 7 - (8 - FReader.BitIndex()) % 8;
  return true;
}

// The slice's next macroblock: from the kept ones when replaying (at the end the reader moves
// past the slice's stuffing, as reading would have), else read from the input.
TMPEGVideoTranscoder::TMacroblockRead TMPEGVideoTranscoder::NextRequantMacroblock(TRequantMacroblock& Mb,
                                                                                  std::int32_t MbWidth) {
  if (FParsedIn != nullptr) {
    if (FParsedNext < FParsedEnd) {
      FParsedIn->Load(FParsedNext++, Mb);
      return TMacroblockRead::Macroblock;
    }
    const std::int64_t end = FParsedIn->Slice(FParsedSlice - 1).End;
    if (end < FReader.BitPosition()) return TMacroblockRead::Damaged;
    FReader.DumpBits(static_cast<std::int32_t>(end - FReader.BitPosition()));
    return TMacroblockRead::SliceEnd;
  }
  if (PeekBits(23) == 0 || FReader.Error()) return TMacroblockRead::SliceEnd;
  if (FReader.BitsLeft() < 0 || FMbColumn + 1 >= MbWidth || !ReadRequantMacroblock(Mb)) return TMacroblockRead::Damaged;
  return TMacroblockRead::Macroblock;
}

bool TMPEGVideoTranscoder::ReadRequantMacroblock(TRequantMacroblock& Mb) {
  if (!DecodeAddressIncrement()) return false;
  FQuantCode = 0;
  if (!DecodeMacroBlockHeader()) return false;
  Mb.Increment = FIncrement;
  Mb.Flags = (macroblock_quant ? kMacroblockQuant : 0) | (macroblock_motion_forward ? kMacroblockMotionForward : 0) |
             (macroblock_motion_backward ? kMacroblockMotionBackward : 0) |
             (macroblock_pattern ? kMacroblockPattern : 0) | (macroblock_intra ? kMacroblockIntra : 0);
  Mb.QuantIn = FQuantCode;
  Mb.TypeEnd = FTypeEnd;
  const bool motion = macroblock_motion_forward || macroblock_motion_backward;
  const bool framePicture = picture_structure == kFramePicture;
  Mb.MotionTypeEnd = FTypeEnd + (motion && (!framePicture || !frame_pred_frame_dct) ? 2 : 0);
  Mb.DctType =
      framePicture && !frame_pred_frame_dct && (macroblock_intra || macroblock_pattern) ? Mb.MotionTypeEnd : -1;
  Mb.MotionStart = FMotionStart;
  Mb.MotionEnd = FMotionEnd;
  const int blocks = chroma_format == 1 ? 6 : 8;
  Mb.Coded = FCodedBlocks & ((1u << blocks) - 1);
  const bool account = FParsedOut != nullptr;
  // The coefficients go straight into the store when it keeps this macroblock.
  const bool keep = account && FParsedOut->Keeping();
  std::uint8_t* pos = keep ? FParsedOut->FreePos() : Mb.OwnPos.data();
  std::int16_t* level = keep ? FParsedOut->FreeLevel() : Mb.OwnLevel.data();
  for (int b = 0; b < blocks; ++b) {
    if (!((Mb.Coded >> b) & 1u)) continue;
    TRequantBlock& block = Mb.Blocks[static_cast<std::size_t>(b)];
    block.Pos = pos;
    block.Level = level;
    if (!(account ? ReadRequantBlock<true>(b, block, pos, level) : ReadRequantBlock<false>(b, block, pos, level)))
      return false;
    pos += block.Count;
    level += block.Count;
  }
  return !FReader.Error() && FReader.BitsLeft() >= 0;
}

// One block's coefficients, in scan order, into Pos and Level (room for 64 each), with the
// input bits of its intra DC. With Account, the analysis figures the cut's walk makes of the
// block: its bits from the first code it counts through the end of block, the most codes of a
// block, and the total of its cost curve (the codes a cut may drop: neither the short first
// code "1s" nor a non-intra block's first code, which stay at every cut).
template <bool Account>
bool TMPEGVideoTranscoder::ReadRequantBlock(int b, TRequantBlock& Block, std::uint8_t* Pos, std::int16_t* Level) {
  Block.Count = 0;
  int p = 0;
  int shortFirst = 0;  // 1 when the block began with "1s"
  const TDctTableEntry* table = FTables->B14.Table();
  if (macroblock_intra) {
    Block.DcStart = FReader.BitPosition();
    if (!DecodeDCDifferential(b)) return false;
    Block.DcEnd = FReader.BitPosition();
    if (intra_vlc_format) table = FTables->B15.Table();
    p = 1;
  } else if (PeekBits(1) == 1) {
    // The short first code "1s": run 0, level +-1.
    const std::uint32_t code = Copy(2);
    Pos[0] = 0;
    Level[0] = static_cast<std::int16_t>(code & 1u ? -1 : 1);
    Block.Count = 1;
    p = 1;
    shortFirst = 1;
  }
  const auto account = [&](std::int64_t ScanStart, std::int64_t EndOfBlockStart, std::int64_t EndOfBlockEnd) {
    if constexpr (Account) {
      const int codes = Block.Count - shortFirst;
      const bool keepFirst = !macroblock_intra && shortFirst == 0 && codes > 0;
      FCurveBits += EndOfBlockStart - ScanStart - (keepFirst ? NonIntraCodeBitsAt(ScanStart) : 0);
      FBlockBits += EndOfBlockEnd - ScanStart;
      FMaxCoefIndex = std::max(FMaxCoefIndex, codes);
    }
  };
  // While refills stay inside the unit and its padding, the codes come from a local bit cache
  // (as in the cut's loops); the reader takes over near the end of the unit. Most codes are
  // decided, sign and all, by one look-up in a small table; the rest go through the full one.
  const std::int64_t scanStart = FReader.BitPosition();
  {
    const std::uint8_t* data = FReader.Data();
    const std::int64_t start = scanStart;
    const std::int64_t fastEnd = FastScanEnd();
    const TLevelCode* levels = table == FTables->B15.Table() ? FFast->LevelB15.data() : FFast->LevelB14.data();
    std::int64_t pos = start;
    std::uint64_t w = 0;
    int valid = 0;
    // The count in a local: the byte-wide stores to Pos could alias it in memory.
    int count = Block.Count;
    for (;;) {
      if (valid < 32) {
        if (pos >= fastEnd) break;
        std::memcpy(&w, data + (pos >> 3), 8);
        w = __builtin_bswap64(w) << (pos & 7);
        valid = 64 - static_cast<int>(pos & 7);
      }
      const TLevelCode c = levels[w >> (64 - kLevelPrefixBits)];
      std::int32_t run = c.Run;
      std::int32_t level = c.Level;
      int bits = c.Bits;
      if (c.Level == 0) [[unlikely]] {
        // An end of block, or a code the small table leaves to the full one.
        const int endBits = c.Bits != 0 ? c.Bits : table[w >> 48].Run == kEndOfBlockMarker ? table[w >> 48].Length : 0;
        if (endBits != 0) {
          Block.Count = count;
          account(start, pos, pos + endBits);
          FReader.DumpBits(static_cast<std::int32_t>(pos + endBits - start));
          return !FReader.Error();
        }
        const TDctTableEntry& e = table[w >> 48];
        if (e.Run < kEndOfBlockMarker) {
          bits = e.Length + 1;
          run = e.Run;
          level = (w >> (64 - bits)) & 1u ? -static_cast<std::int32_t>(e.Level) : e.Level;
        } else if (e.Run == kEscapeMarker) {
          run = static_cast<std::int32_t>((w >> 52) & 63);
          if (FMpeg1Walk) {
            const auto firstByte = static_cast<std::int32_t>((w >> 44) & 0xFF);
            const auto secondByte = static_cast<std::int32_t>((w >> 36) & 0xFF);
            bits = firstByte == 0x00 || firstByte == 0x80 ? 28 : 20;
            level = firstByte == 0x00   ? secondByte
                    : firstByte == 0x80 ? secondByte - 256
                    : firstByte >= 0x80 ? firstByte - 256
                                        : firstByte;
          } else {
            bits = kEscapeBits;
            level = EscapeLevel(static_cast<std::uint32_t>((w >> 40) & 0xFFF));
          }
        } else {
          level = 0;
        }
        if (level == 0) {
          Block.Count = count;
          FReader.DumpBits(static_cast<std::int32_t>(pos - start));
          return false;
        }
      }
      p += run;
      if (p >= kBlockPositions) [[unlikely]] {
        Block.Count = count;
        FReader.DumpBits(static_cast<std::int32_t>(pos - start));
        return false;
      }
      Pos[count] = static_cast<std::uint8_t>(p);
      Level[count] = static_cast<std::int16_t>(level);
      ++count;
      ++p;
      pos += bits;
      w <<= bits;
      valid -= bits;
    }
    Block.Count = count;
    FReader.DumpBits(static_cast<std::int32_t>(pos - start));
  }
  // Near the end of the unit, through the reader.
  for (;;) {
    const TDctTableEntry& e = table[Next16()];
    std::int32_t run;
    std::int32_t level;
    const std::int64_t codeStart = FReader.BitPosition();
    if (e.Run < kEndOfBlockMarker) {
      const std::uint32_t code = Copy(e.Length + 1);
      run = e.Run;
      level = code & 1u ? -static_cast<std::int32_t>(e.Level) : e.Level;
    } else if (e.Run == kEndOfBlockMarker) {
      Copy(e.Length);
      account(scanStart, codeStart, FReader.BitPosition());
      return !FReader.Error();
    } else if (e.Run == kEscapeMarker) {
      Copy(6);
      run = static_cast<std::int32_t>(Copy(6));
      if (FMpeg1Walk) {
        const std::uint32_t firstByte = Copy(8);
        if (firstByte == 0x00) {
          level = static_cast<std::int32_t>(Copy(8));
        } else if (firstByte == 0x80) {
          level = static_cast<std::int32_t>(Copy(8)) - 256;
        } else {
          level = firstByte >= 0x80 ? static_cast<std::int32_t>(firstByte) - 256 : static_cast<std::int32_t>(firstByte);
        }
      } else {
        level = EscapeLevel(Copy(12));
      }
      if (level == 0) return false;
    } else {
      return false;
    }
    p += run;
    if (p >= kBlockPositions || FReader.Error()) return false;
    Pos[Block.Count] = static_cast<std::uint8_t>(p);
    Level[Block.Count] = static_cast<std::int16_t>(level);
    ++Block.Count;
    ++p;
  }
}

// Bits of the run/level code (table B-14, sign or escape included) at input bit Pos, which a
// block decoded without damage holds.
std::int32_t TMPEGVideoTranscoder::NonIntraCodeBitsAt(std::int64_t Pos) const {
  std::uint64_t w;
  std::memcpy(&w, FReader.Data() + (Pos >> 3), 8);
  w = __builtin_bswap64(w) << (Pos & 7);
  const TLevelCode c = FFast->LevelB14[w >> (64 - kLevelPrefixBits)];
  if (c.Level != 0) return c.Bits;
  const TDctTableEntry& e = FTables->B14.Table()[w >> 48];
  return e.Run == kEscapeMarker ? EscapeBits(w) : e.Length + 1;
}

// Re-quantises the macroblock's coded blocks from its input quantiser to QuantOut into
// FOutBlocks; returns the blocks that keep a coefficient (every block of an intra macroblock).
std::uint32_t TMPEGVideoTranscoder::RequantBlocks(const TRequantMacroblock& Mb, int QuantOut) {
  const bool intra = (Mb.Flags & kMacroblockIntra) != 0;
  const std::int32_t qsIn = QuantiserScale(Mb.QuantIn, FInNonLinear);
  const std::int32_t qsOut = QuantiserScale(QuantOut, FOutNonLinear);
  const std::int32_t maxLevel = FMpeg1Walk ? 255 : 2047;
  const float bias = FSettings.RoundingBias;
  std::uint32_t coded = 0;
  int coefficients = 0;
  // Bits are priced by the step the slice wants, also where a macroblock keeps its own
  // quantiser because the wanted one is too close to it: there the shaping alone saves bits.
  const double wantedStep = std::max(static_cast<double>(qsOut), qsIn * FSliceScale);
  const double lambda = FSettings.Lambda * wantedStep * wantedStep;
  const bool shaping = lambda > 0;
  const TBlockShaper shaper(intra, intra && intra_vlc_format, FMpeg1Walk);
  // The level table of each matrix, taken on first use by this macroblock.
  std::array<TLevelEntry*, 4> tables{};
  const auto levelTable = [&](std::size_t matrix) {
    if (tables[matrix] == nullptr) tables[matrix] = FLevelCache.Table(static_cast<int>(matrix), Mb.QuantIn, QuantOut);
    return tables[matrix];
  };
  // Blocks 4 on take the chroma matrices outside 4:2:0 (one test per macroblock, not per block).
  const std::size_t chromaMatrix = chroma_format != 1 ? 2u : 0u;
  for (std::uint32_t left = Mb.Coded; left != 0; left &= left - 1) {
    const int b = __builtin_ctz(left);
    const TRequantBlock& in = Mb.Blocks[static_cast<std::size_t>(b)];
    TRequantOutBlock& out = FOutBlocks[static_cast<std::size_t>(b)];
    const std::size_t matrix = (intra ? 0u : 1u) + (b >= 4 ? chromaMatrix : 0u);
    const std::array<std::int32_t, 64>& w = FWeights[matrix];
    // 16 / (weight x quantiser_scale) by scan position, made once per matrix and code.
    std::array<float, 64>& inverse = FInverseSteps[matrix][static_cast<std::size_t>(QuantOut & 31)];
    if (!((FInverseKnown[matrix] >> (QuantOut & 31)) & 1u)) {
      for (std::size_t i = 0; i < 64; ++i) inverse[i] = 16.0f / static_cast<float>(w[i] * qsOut);
      FInverseKnown[matrix] |= 1u << (QuantOut & 31);
    }
    // What input magnitude m at scan position pos comes to; at the input's own step the level
    // stays.
    const auto entryFor = [&](std::size_t pos, std::int32_t m) {
      const std::int32_t target = TLevelQuantiser::Magnitude(m, w[pos] * qsIn, intra, FMpeg1Walk);
      const std::int32_t level = qsOut == qsIn ? m
                                               : TLevelQuantiser::Requantise(target, w[pos] * qsOut, inverse[pos],
                                                                             intra, FMpeg1Walk, bias, maxLevel);
      if (level == 0) return TLevelEntry{0, 0, 0, 0};
      const TShapedCoefficient c = shaper.Coefficient(static_cast<std::uint8_t>(pos), level, target, w[pos] * qsOut);
      return TLevelEntry{static_cast<std::int16_t>(level), c.ErrorKept, c.ErrorLower, c.ErrorZero};
    };
    // Small levels through the pair's table, filled as they occur; the rest computed.
    TLevelEntry* const table = levelTable(matrix);
    // With shaping, the chosen levels gather with their errors and are weighed once more for
    // their bits before they are stored; without, they are stored at once (in any case, kept
    // only when not zero: no branch on the data).
    std::array<TShapedCoefficient, 64> shaped;
    int n = 0;
    for (int i = 0; i < in.Count; ++i) {
      const std::size_t pos = in.Pos[static_cast<std::size_t>(i)];
      const std::int32_t QF = in.Level[static_cast<std::size_t>(i)];
      const std::int32_t m = QF < 0 ? -QF : QF;
      TLevelEntry e;
      if (m < TLevelCache::kSmallLevels) {
        TLevelEntry& known = table[static_cast<std::size_t>(m) * 64 + pos];
        if (known.Level == TLevelCache::kUnknown) known = entryFor(pos, m);
        e = known;
      } else {
        e = entryFor(pos, m);
      }
      // The input's sign, without a branch: it is as likely one way as the other.
      const std::int32_t sign = QF >> 31;
      const std::int32_t level = (e.Level ^ sign) - sign;
      if (shaping) {
        shaped[static_cast<std::size_t>(n)] = {static_cast<std::uint8_t>(pos), static_cast<std::int16_t>(level),
                                               e.ErrorKept, e.ErrorLower, e.ErrorZero};
      } else {
        out.Pos[static_cast<std::size_t>(n)] = static_cast<std::uint8_t>(pos);
        out.Level[static_cast<std::size_t>(n)] = static_cast<std::int16_t>(level);
      }
      n += level != 0 ? 1 : 0;
    }
    out.First = 0;
    if (shaping) {
      out.First = shaper.ShapeInto(shaped.data(), n, lambda, out.Pos.data(), out.Level.data());
      n -= out.First;
    }
    out.Count = n;
    if (intra || n > 0) coded |= 1u << b;
    coefficients += in.Count;
  }
  const auto& logScale = LogQuantiserScales();
  FRatioLogSum += (logScale[FOutNonLinear ? 1 : 0][static_cast<std::size_t>(QuantOut & 31)] -
                   logScale[FInNonLinear ? 1 : 0][static_cast<std::size_t>(Mb.QuantIn & 31)]) *
                  coefficients;
  FRatioWeight += coefficients;
  return coded;
}

void TMPEGVideoTranscoder::WriteRequantMacroblock(const TRequantMacroblock& Mb, int Increment, int Flags, int QuantOut,
                                                  std::uint32_t Coded, bool Identity) {
  const TRequantCodes& codes = TRequantCodes::Shared();
  // The macroblock's codes and the input bits it keeps go to the writer several at a time.
  TBitGatherer out(FWriter);
  for (; Increment > 33; Increment -= kMacroblockEscapeIncrement) out.Put(kMacroblockEscape, 11);
  const TVlcCode address = codes.AddressIncrement(Increment);
  const TVlcCode type = codes.MacroblockType(picture_coding_type, Flags);
  if (address.Length == 0 || type.Length == 0) {
    out.Flush();
    MarkDamaged();
    return;
  }
  out.Put(address.Code, address.Length);
  out.Put(type.Code, type.Length);
  const bool intra = (Flags & kMacroblockIntra) != 0;
  const bool pattern = (Flags & kMacroblockPattern) != 0;
  GatherInputBits(out, Mb.TypeEnd, Mb.MotionTypeEnd);  // frame_motion_type or field_motion_type
  if (Mb.DctType >= 0 && (intra || pattern)) GatherInputBits(out, Mb.DctType, Mb.DctType + 1);
  if (Flags & kMacroblockQuant) out.Put(static_cast<std::uint32_t>(QuantOut), 5);
  GatherInputBits(out, Mb.MotionStart, Mb.MotionEnd);
  if (pattern) {
    std::uint32_t cbp = 0;
    for (int b = 0; b < 6; ++b) cbp |= ((Coded >> b) & 1u) << (5 - b);
    const TVlcCode c = codes.CodedBlockPattern(static_cast<int>(cbp));
    out.Put(c.Code, c.Length);
    if (chroma_format == 2) out.Put(((Coded >> 6) & 1u) << 1 | ((Coded >> 7) & 1u), 2);
  }
  for (std::uint32_t left = Coded; left != 0; left &= left - 1) {
    const int b = __builtin_ctz(left);
    WriteBlock(Mb.Blocks[static_cast<std::size_t>(b)], FOutBlocks[static_cast<std::size_t>(b)], intra, Identity, out);
  }
  out.Flush();
}

// Input bits From .. To - 1 into Out: short spans through a window over the input (the unit
// keeps its readable padding), long ones copied by the writer.
void TMPEGVideoTranscoder::GatherInputBits(TBitGatherer& Out, std::int64_t From, std::int64_t To) {
  const std::int64_t count = To - From;
  if (count <= 0) return;
  if (count <= 32) {
    Out.Put(InputBitsAt(FReader.Data(), From, count), static_cast<std::int32_t>(count));
    return;
  }
  Out.Flush();
  CopyInputBits(From, To);
}

void TMPEGVideoTranscoder::WriteBlock(const TRequantBlock& In, const TRequantOutBlock& Out, bool Intra, bool Identity,
                                      TBitGatherer& Codes) {
  const bool b15 = Intra && intra_vlc_format;
  if (Intra) GatherInputBits(Codes, In.DcStart, In.DcEnd);
  const int count = Identity ? In.Count : Out.Count;
  const std::uint8_t* pos = Identity ? In.Pos : Out.Pos.data() + Out.First;
  const std::int16_t* level = Identity ? In.Level : Out.Level.data() + Out.First;
  const std::uint32_t* codes = b15 ? FFast->WriteB15.data() : FFast->WriteB14.data();
  int last = Intra ? 0 : -1;
  for (int i = 0; i < count; ++i) {
    const int run = pos[i] - last - 1;
    last = pos[i];
    // The common case, a pair with a code of its own, here; the short first code and escapes
    // in RunLevelCode.
    const int magnitude = level[i] < 0 ? -level[i] : level[i];
    const std::uint32_t packed = run < kWriteRuns && magnitude < kWriteLevels
                                     ? codes[static_cast<std::size_t>(run * kWriteLevels + magnitude)]
                                     : 0u;
    if (packed != 0 && (Intra || i > 0 || run != 0 || magnitude != 1)) {
      Codes.Put(packed >> 8 | (level[i] < 0 ? 1u : 0u), static_cast<std::int32_t>(packed & 0xFFu));
    } else {
      const TVlcCode code = RunLevelCode(run, level[i], b15, !Intra && i == 0);
      Codes.Put(code.Code, code.Length);
    }
  }
  const TVlcCode eob = TRequantCodes::Shared().EndOfBlock(b15);
  Codes.Put(eob.Code, eob.Length);
}

// The code of one run/level pair, its sign bit included: the short first code "1s", the pair's
// own code, or an escape.
TVlcCode TMPEGVideoTranscoder::RunLevelCode(int Run, int Level, bool B15, bool First) const {
  const int magnitude = Level < 0 ? -Level : Level;
  const std::uint32_t sign = Level < 0 ? 1u : 0u;
  if (First && Run == 0 && magnitude == 1) return {2u | sign, 2};  // the short first code "1s"
  const TVlcCode code = TRequantCodes::Shared().RunLevel(B15, Run, magnitude);
  if (code.Length > 0) return {code.Code << 1 | sign, code.Length + 1};
  const std::uint32_t escape = 1u << 6 | static_cast<std::uint32_t>(Run);  // escape code, run
  if (!FMpeg1Walk) return {escape << 12 | (static_cast<std::uint32_t>(Level) & 0xFFFu), 24};
  if (magnitude < 128) return {escape << 8 | (static_cast<std::uint32_t>(Level) & 0xFFu), 20};
  // 16 bits: 0x00, then the level; or 0x80, then level + 256.
  const std::uint32_t wide =
      Level > 0 ? static_cast<std::uint32_t>(Level) : 0x8000u | static_cast<std::uint32_t>(Level + 256);
  return {escape << 16 | wide, 28};
}

}  // namespace varlow
