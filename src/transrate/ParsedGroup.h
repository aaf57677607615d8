#pragma once
// The macroblocks of a group's pictures as the re-quantising walk reads them, kept by the
// analysis pass so that the re-quantising passes (one to three per picture) take them from
// here instead of decoding the pictures' codes again. The store holds at most a given number of
// bytes: pictures that do not fit are read again when re-quantised.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "transrate/RequantMacroblock.h"

namespace varlow {

class TParsedGroup {
public:
  // A slice: where its first macroblock begins and its stuffing ends in the input, and its
  // macroblocks in the store.
  struct TSlice {
    std::int64_t Start = 0, End = 0;
    std::uint32_t First = 0, Count = 0;
  };

  // A new group, in at most Limit bytes: every picture kept so far is forgotten.
  void Start(std::size_t Limit);
  // Recording, one picture after the other: returns the picture's number.
  int BeginPicture();
  void BeginSlice(std::int64_t Start);
  // Whether the macroblocks read now are kept (a slice of a picture that still fits).
  bool Keeping() const { return Recording() && FSlices.size() > FPictures.back().FirstSlice; }
  // While keeping: room for a macroblock's coefficients (8 blocks of 64), one block after the
  // other, where the reader puts them before Append takes them without a copy.
  std::uint8_t* FreePos() { return FPos.Free(8 * 64); }
  std::int16_t* FreeLevel() { return FLevel.Free(8 * 64); }
  // Keeps Mb (when keeping). Its blocks' coefficients are taken without a copy where they lie
  // in the room FreePos and FreeLevel gave, one block after the other; elsewhere they are copied.
  void Append(const TRequantMacroblock& Mb);
  void EndSlice(std::int64_t End);

  // Whether picture Picture was kept whole.
  bool Whole(int Picture) const;
  // The slices of a picture kept whole, in stream order: indices First .. End - 1.
  std::size_t FirstSliceOf(int Picture) const { return FPictures[static_cast<std::size_t>(Picture)].FirstSlice; }
  std::size_t EndSliceOf(int Picture) const { return FPictures[static_cast<std::size_t>(Picture)].EndSlice; }
  const TSlice& Slice(std::size_t Index) const { return FSlices[Index]; }
  // Macroblock Index into Mb, as the walk read it; its blocks point into the store.
  void Load(std::uint32_t Index, TRequantMacroblock& Mb) const;
  // Bytes in use.
  std::size_t Bytes() const;

private:
  struct TPicture {
    std::size_t FirstSlice = 0, EndSlice = 0;
    bool Whole = true;
  };
  struct TMacroblock {
    std::int64_t TypeEnd, MotionTypeEnd, DctType, MotionStart, MotionEnd;
    std::int32_t Increment, Flags, QuantIn;
    std::uint32_t Coded;
    std::uint32_t FirstBlock;  // its coded blocks, in order, from here in FBlocks
  };
  struct TBlock {
    std::int64_t DcStart, DcEnd;
    std::uint32_t FirstCoefficient;
    std::uint32_t Count;
  };
  bool Recording() const { return !FPictures.empty() && FPictures.back().Whole; }

  // Coefficients of the kept blocks, one after the other: the reader writes them straight
  // into the room past the last entry, which Keep then takes in.
  template <typename T>
  class TRows {
  public:
    std::size_t Size() const { return FSize; }
    void Clear() { FSize = 0; }
    const T* At(std::size_t Index) const { return FData.get() + Index; }
    // Past the last entry (where Free's room begins; null before the first Free).
    const T* End() const { return FData.get() + FSize; }
    // Room for Count entries past the last one.
    T* Free(std::size_t Count) {
      if (FSize + Count > FCapacity) Grow(FSize + Count);
      return FData.get() + FSize;
    }
    void Keep(std::size_t Count) { FSize += Count; }

  private:
    void Grow(std::size_t Needed) {
      std::size_t capacity = FCapacity < 4096 ? 4096 : FCapacity * 2;
      while (capacity < Needed) capacity *= 2;
      auto data = std::make_unique_for_overwrite<T[]>(capacity);  // entries past Size are never read as values
      if (FSize > 0) std::memcpy(data.get(), FData.get(), FSize * sizeof(T));
      FData = std::move(data);
      FCapacity = capacity;
    }
    std::unique_ptr<T[]> FData;
    std::size_t FSize = 0, FCapacity = 0;
  };

  std::vector<TPicture> FPictures;
  std::vector<TSlice> FSlices;
  std::vector<TMacroblock> FMacroblocks;
  std::vector<TBlock> FBlocks;
  TRows<std::uint8_t> FPos;
  TRows<std::int16_t> FLevel;
  std::size_t FLimit = 0;
  bool FFull = false;
};

} // namespace varlow
