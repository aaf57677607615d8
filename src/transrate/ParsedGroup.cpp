#include "transrate/ParsedGroup.h"

#include <cstring>

namespace varlow {

void TParsedGroup::Start(std::size_t Limit) {
  FPictures.clear();
  FSlices.clear();
  FMacroblocks.clear();
  FBlocks.clear();
  FPos.Clear();
  FLevel.Clear();
  // Room from the start, so that Append may compare the blocks' places with it.
  FPos.Free(8 * 64);
  FLevel.Free(8 * 64);
  FLimit = Limit;
  FFull = false;
}

int TParsedGroup::BeginPicture() {
  FPictures.push_back({FSlices.size(), FSlices.size(), !FFull});
  return static_cast<int>(FPictures.size()) - 1;
}

void TParsedGroup::BeginSlice(std::int64_t Start) {
  if (!Recording()) return;
  FSlices.push_back({Start, Start, static_cast<std::uint32_t>(FMacroblocks.size()), 0});
  FPictures.back().EndSlice = FSlices.size();
}

void TParsedGroup::Append(const TRequantMacroblock& Mb) {
  if (!Keeping()) return;
  FMacroblocks.push_back({Mb.TypeEnd, Mb.MotionTypeEnd, Mb.DctType, Mb.MotionStart, Mb.MotionEnd, Mb.Increment,
                          Mb.Flags, Mb.QuantIn, Mb.Coded, static_cast<std::uint32_t>(FBlocks.size())});
  // Where the reader put the coefficients, nothing moves; a block whose coefficients lie
  // elsewhere is copied in.
  std::size_t count = 0;
  for (std::uint32_t left = Mb.Coded; left != 0; left &= left - 1) {
    const TRequantBlock& b = Mb.Blocks[static_cast<std::size_t>(__builtin_ctz(left))];
    const auto n = static_cast<std::size_t>(b.Count);
    if (b.Pos != FPos.End() + count || b.Level != FLevel.End() + count) [[unlikely]] {
      std::memmove(FPos.Free(8 * 64) + count, b.Pos, n);
      std::memmove(FLevel.Free(8 * 64) + count, b.Level, n * sizeof(std::int16_t));
    }
    FBlocks.push_back({b.DcStart, b.DcEnd, static_cast<std::uint32_t>(FPos.Size() + count), static_cast<std::uint32_t>(n)});
    count += n;
  }
  FPos.Keep(count);
  FLevel.Keep(count);
  ++FSlices.back().Count;
  if (Bytes() > FLimit) {
    // Full: this picture and the rest of the group are read again; the pictures before stay.
    FFull = true;
    FPictures.back().Whole = false;
  }
}

void TParsedGroup::EndSlice(std::int64_t End) {
  if (!Recording() || FSlices.size() == FPictures.back().FirstSlice) return;
  FSlices.back().End = End;
}

bool TParsedGroup::Whole(int Picture) const {
  return Picture >= 0 && static_cast<std::size_t>(Picture) < FPictures.size() &&
         FPictures[static_cast<std::size_t>(Picture)].Whole;
}

std::size_t TParsedGroup::Bytes() const {
  return FPictures.size() * sizeof(TPicture) + FSlices.size() * sizeof(TSlice) +
         FMacroblocks.size() * sizeof(TMacroblock) + FBlocks.size() * sizeof(TBlock) + FPos.Size() +
         FLevel.Size() * sizeof(std::int16_t);
}

void TParsedGroup::Load(std::uint32_t Index, TRequantMacroblock& Mb) const {
  const TMacroblock& m = FMacroblocks[Index];
  Mb.Increment = m.Increment;
  Mb.Flags = m.Flags;
  Mb.QuantIn = m.QuantIn;
  Mb.TypeEnd = m.TypeEnd;
  Mb.MotionTypeEnd = m.MotionTypeEnd;
  Mb.DctType = m.DctType;
  Mb.MotionStart = m.MotionStart;
  Mb.MotionEnd = m.MotionEnd;
  Mb.Coded = m.Coded;
  std::uint32_t block = m.FirstBlock;
  for (std::uint32_t left = m.Coded; left != 0; left &= left - 1, ++block) {
    const TBlock& s = FBlocks[block];
    TRequantBlock& b = Mb.Blocks[static_cast<std::size_t>(__builtin_ctz(left))];
    b.DcStart = s.DcStart;
    b.DcEnd = s.DcEnd;
    b.Count = static_cast<int>(s.Count);
    b.Pos = FPos.At(s.FirstCoefficient);
    b.Level = FLevel.At(s.FirstCoefficient);
  }
}

} // namespace varlow
