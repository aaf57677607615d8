#pragma once
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "slice/BitStream4.h"
#include "slice/SyntaxReaders.h"
#include "slice/VLCConstTables.h"
#include "slice/VLC_Table_Builder.h"
#include "support/HResult.h"
#include "transrate/BitStreamWriter.h"
#include "transrate/ParsedGroup.h"
#include "transrate/RequantLevelCache.h"
#include "transrate/RequantMacroblock.h"
#include "transrate/RequantTables.h"

namespace varlow {

// Makes a coded picture smaller without decoding it: copies it bit for bit and leaves out, in
// every block, the run/level codes after a chosen count (the cut level). Each picture is walked
// twice by the same walker: an analysis pass that records what the k-th codes of all blocks
// cost (the cost curve), and a cutting pass that writes the picture with the chosen cut.
//
// The same walker also re-quantises (Requantise, TranscoderRequant.cpp): it reads each
// macroblock whole and writes it back with coarser levels.
//
// A picture that cannot be parsed completely (an invalid code, a macroblock running past the
// unit, 4:4:4, an MPEG-2 picture without a picture coding extension, an MPEG-1 picture unless
// SetMpeg1 allows it) is reported through Damaged();
// its caller then copies it unchanged.
class TMPEGVideoTranscoder {
 public:
  static constexpr int kCurveSize = 256;

  TMPEGVideoTranscoder();
  ~TMPEGVideoTranscoder();
  TMPEGVideoTranscoder(const TMPEGVideoTranscoder&) = delete;
  TMPEGVideoTranscoder& operator=(const TMPEGVideoTranscoder&) = delete;

  // Analysis passes over one picture unit (headers in front of it included). The block must be
  // followed by at least 7 readable bytes.
  HRESULT DecodeFrame(const std::uint8_t* Data, std::int32_t Size);
  HRESULT SetPFrame(const std::uint8_t* Data, std::int32_t Size);
  HRESULT SetBFrame(const std::uint8_t* Data, std::int32_t Size);
  // Cutting passes. On entry OutputSize is the size of the output block; on success the
  // number of bytes written.
  HRESULT DirectCutLevels(const std::uint8_t* Input, std::uint8_t* Output, std::int32_t InputSize,
                          std::int32_t& OutputSize, std::int32_t CutLevel);
  HRESULT DirectCutPLevels(const std::uint8_t* Input, std::uint8_t* Output, std::int32_t InputSize,
                           std::int32_t& OutputSize, std::int32_t CutLevel);
  HRESULT DirectCutBLevels(const std::uint8_t* Input, std::uint8_t* Output, std::int32_t InputSize,
                           std::int32_t& OutputSize, std::int32_t CutLevel);
  // The pass of a picture_coding_type (1 I, 2 P, 3 B). With Parsed (on which BeginPicture was
  // called), the slices are read as the re-quantising walk reads them and their macroblocks
  // kept there for Requantise; the figures the pass yields (block bits, cost curve, alignment
  // reserve, damage) are the same.
  HRESULT Analyse(std::int32_t PictureType, const std::uint8_t* Data, std::int32_t Size,
                  TParsedGroup* Parsed = nullptr);
  HRESULT Cut(std::int32_t PictureType, const std::uint8_t* Input, std::uint8_t* Output, std::int32_t InputSize,
              std::int32_t& OutputSize, std::int32_t CutLevel);
  // Reads a unit's headers and extensions and steps over its slices: the sequence values after
  // it are those an analysis pass of the unit leaves, at a fraction of its cost. The block must
  // be followed by at least 7 readable bytes.
  HRESULT ReadHeaders(const std::uint8_t* Data, std::int32_t Size);

  // Re-quantising pass over one picture unit (TranscoderRequant.cpp): every coded block is
  // re-quantised with a coarser quantiser and the slice layer is written anew. The quantiser
  // step grows by about Scale; with a TargetBits the step follows, slice by slice, the bits
  // actually written so that the picture lands near that size.
  struct TRequantSettings {
    double Scale = 1;              // wanted ratio of the new quantiser step to the input's
    std::int64_t TargetBits = 0;   // wanted size of the picture in bits; 0: Scale throughout
    double Alpha = 1;              // model: coefficient bits go as step ratio ^ -Alpha
    float RoundingBias = 0;        // dead zone, in steps (see TLevelQuantiser::Requantise)
    double MinStepRatio = 1;       // a new step is the input's or at least this much coarser
    double Lambda = 0;             // price of a bit in squared coefficient error, per squared
                                   // quantiser_scale; 0: levels are not shaped (TBlockShaper)
    bool SkipBMacroblocks = true;  // B macroblocks left without blocks that repeat the
                                   // prediction before them become skipped ones
    bool NonLinear = false;        // an MPEG-2 picture of the linear quantiser table is written
                                   // with the non-linear one (q_scale_type 1), whose steps reach
                                   // 112 where linear ones stop at 62
  };
  // Parsed, Picture: where the picture's analysis kept its macroblocks; when it kept them whole
  // they are taken instead of decoding the picture's codes again.
  HRESULT Requantise(std::int32_t PictureType, const std::uint8_t* Input, std::uint8_t* Output, std::int32_t InputSize,
                     std::int32_t& OutputSize, const TRequantSettings& Settings, const TParsedGroup* Parsed = nullptr,
                     int Picture = -1);
  // The ratio of output to input quantiser_scale the last re-quantising pass wrote, a geometric
  // mean over the input's coefficients: what the quantiser codes allowed of the wanted steps.
  double RealisedScale() const { return FRatioWeight > 0 ? std::exp(FRatioLogSum / FRatioWeight) : 1.0; }
  // Whether the passes walk MPEG-1 pictures (the cut carries them unchanged; the re-quantiser
  // walks them).
  void SetMpeg1(bool Walk) { FMpeg1Allowed = Walk; }

  // The quantiser matrices in force, in raster order: intra, non-intra, chroma intra, chroma
  // non-intra.
  using TMatrices = std::array<std::array<std::uint8_t, 64>, 4>;

  // Sequence-level values that a picture unit without a sequence header inherits. The
  // controller keeps them per held picture, so that a picture's cutting pass starts from the
  // state its analysis pass started from.
  struct TSequenceValues {
    std::int32_t HorizontalSizeValue, VerticalSizeValue, HorizontalSize, VerticalSize, ChromaFormat;
    bool HaveSequenceExtension;
    TMatrices Matrices;
    // vbv_buffer_size_value, and with the extension's high bits vbv_buffer_size (16 kbit units).
    std::int32_t VbvBufferSizeValue, VbvBufferSize;
  };
  TSequenceValues SequenceValues() const {
    return {horizontal_size_value,  vertical_size_value, horizontal_size,        vertical_size, chroma_format,
            FHaveSequenceExtension, FMatrices,           vbv_buffer_size_value, vbv_buffer_size};
  }
  void SetSequenceValues(const TSequenceValues& v) {
    horizontal_size_value = v.HorizontalSizeValue;
    vertical_size_value = v.VerticalSizeValue;
    horizontal_size = v.HorizontalSize;
    vertical_size = v.VerticalSize;
    chroma_format = v.ChromaFormat;
    FHaveSequenceExtension = v.HaveSequenceExtension;
    FMatrices = v.Matrices;
    vbv_buffer_size_value = v.VbvBufferSizeValue;
    vbv_buffer_size = v.VbvBufferSize;
  }

  // What the analysis pass records for the cutting pass of the same picture: the bit positions
  // where a block's codes begin and where the walk byte-aligns (Marks), and for every block, in
  // CodeEnds, its count n of run/level codes followed by the ends of those n codes and of its
  // end of block, in bits from the block's first code. With it the cutting pass copies the
  // picture as runs of bits, leaving out the dropped codes, without walking the syntax again,
  // and finds where a block's kept codes end with one look-up.
  struct TCutRecord {
    enum TMark : std::int64_t { kBlock = 0, kBlockKeepingFirst = 1, kAlign = 2 };
    std::vector<std::uint16_t> CodeEnds;  // a block's codes span at most 64 * 24 + 4 bits
    std::vector<std::int64_t> Marks;      // bit position << 2 | TMark
    // Whether the pass that made the record kept it (SetCutRecording); a cut with a record
    // that is not complete walks the syntax instead.
    bool Complete = false;
    void Clear() {
      CodeEnds.clear();
      Marks.clear();
      Complete = false;
    }
  };
  // Hands over the last analysis pass's record. The record handed back in exchange is reused
  // as room by the next pass (see CodeEndRoom).
  void TakeCutRecord(TCutRecord& Into) {
    std::swap(Into, FRecord);
    FRecord.Marks.clear();
  }
  // For the next cutting pass only; null (or a record that is not complete) cuts by walking
  // the syntax.
  void UseCutRecord(const TCutRecord* Record) { FRecorded = Record; }
  // Whether analysis passes keep the cut record (the default). Without it they cost less and
  // still give the cost curve, BlockBits and Damaged: what re-quantising plans with.
  void SetCutRecording(bool Record) { FRecordCuts = Record; }
  // Bits of every block's run/level codes and end of block (what re-quantising can shrink),
  // from the last analysis pass. The short first code of a non-intra block and intra DC are
  // not counted.
  std::int64_t BlockBits() const { return FBlockBits; }

  // Cost curve of the last analysis pass: entry k (1..64) = bits of all k-th codes. An
  // analysis that kept the macroblocks makes no curve, only its total (CurveBits).
  const std::array<std::int32_t, kCurveSize>& CoefBits() const { return FCoefBits; }
  std::int64_t CurveBits() const { return FCurveBits; }
  // The input's quantiser_scale over the picture, each macroblock weighed by its coefficients,
  // from an analysis that kept the macroblocks; 0 when it has none.
  double MeanQuantiserScale() const { return FQuantWeight > 0 ? FQuantSum / FQuantWeight : 0.0; }
  std::int32_t MaxCoefIndex() const { return FMaxCoefIndex; }
  // Whether the last pass met something it could not parse.
  bool Damaged() const { return FDamaged; }
  // Bits a cut may add by ending a slice elsewhere in its last byte (7 per slice minus the
  // input's own alignment bits), from the last analysis pass.
  std::int32_t AlignmentReserve() const { return FAlignmentReserve; }

 public:
  // The names one picture type's passes log under (TranscoderNames.h).
  struct TPassNames;

  // The re-quantising walk reads levels: a run/level code with its sign, or an end of block,
  // decided by the next kLevelPrefixBits bits. Bits 0 where the prefix does not decide the
  // code (longer codes, escapes, invalid bits): the full table takes over.
  struct TLevelCode {
    std::int16_t Level;  // signed; 0 for the end of block
    std::uint8_t Bits;   // the code's bits, its sign bit included
    std::uint8_t Run;
  };
  static constexpr int kLevelPrefixBits = 10;
  using TLevelTable = std::array<TLevelCode, std::size_t{1} << kLevelPrefixBits>;
  static void BuildLevelTable(const TDctTableEntry* Table, TLevelTable& Levels);
  // The write side: the code of (run, |level|) with room for its sign bit, packed as
  // code << 8 | bits with the sign included; 0 where the pair must be escaped.
  static constexpr int kWriteRuns = 32, kWriteLevels = 41;
  using TRunLevelCodes = std::array<std::uint32_t, kWriteRuns * kWriteLevels>;
  static void BuildRunLevelCodes(bool B15, TRunLevelCodes& Codes);

 private:
  HRESULT RunPass(const TPassNames& Names, const std::uint8_t* Input, std::uint8_t* Output, std::int32_t InputSize,
                  std::int32_t* OutputSize, std::int32_t CutLevel);
  void RunUnit();

  // Copy primitive: reads n bits (n <= 25) and, in a cutting pass, writes them. Inside the
  // unit the bits come from a 64-bit window over the reader's data; near its end through the
  // reader's checked read.
  [[gnu::always_inline]] std::uint32_t Copy(int n) {
    std::uint32_t v;
    if (InsideUnit() && n > 0) [[likely]] {
      v = static_cast<std::uint32_t>(Window() >> (64 - n));
      FReader.SkipSeen(n);
    } else {
      v = FReader.ReadBits(n);
    }
    if (FWriting) FWriter.PutBits(v, n);
    return v;
  }
  // The next 16 bits, as the reader's Next16Bits gives them.
  std::uint32_t Next16() { return InsideUnit() ? static_cast<std::uint32_t>(Window() >> 48) : FReader.Next16Bits(); }
  // The next n bits (1..32), as the reader's NextBitsDW gives them.
  std::uint32_t PeekBits(int n) {
    return InsideUnit() ? static_cast<std::uint32_t>(Window() >> (64 - n)) : FReader.NextBitsDW(n);
  }
  // Whether 8 bytes from the current one lie inside the unit, and the 57+ bits they hold from
  // the current bit on, left-aligned.
  bool InsideUnit() const { return FReader.ByteIndex() < FReader.Size() - 8; }
  std::uint64_t Window() const {
    std::uint64_t w;
    std::memcpy(&w, FReader.Data() + FReader.ByteIndex(), 8);
    return __builtin_bswap64(w) << FReader.BitIndex();
  }
  void CopyStartCode();
  // Aligns, then copies bytes up to the next start code; false at the end of the unit (the
  // last bytes copied).
  bool CopyToNextStartCode();
  // Moves the reader to the next start code prefix (or the unit's end) without copying.
  void SkipToNextStartCode();
  void CopyExtension();

  // Headers.
  bool ParseSequenceHeader();
  bool ParseSequenceExtension();
  bool ParseGOPHeader();
  bool ParsePictureHeader();
  bool ParsePictureCodingExtensionHeader();
  bool DecodePicture();

  // Slices, macroblocks and blocks: one walker for I, P and B pictures.
  bool DecodeSlice();
  std::int32_t CopySliceHeaderEnd();
  bool DecodeMacroBlock();
  bool DecodeAddressIncrement();
  // Macroblocks a slice may hold: one row, or in MPEG-1 (whose slices may run on over several
  // rows) the picture.
  std::int32_t SliceMacroblockLimit() const {
    const std::int32_t width = (horizontal_size + 15) / 16;
    return FMpeg1Walk ? width * ((vertical_size + 15) / 16) : width;
  }
  bool DecodeMacroBlockHeader();
  bool DecodeMacroBlockModes();
  bool DecodeMotionVectors(int s);
  bool DecodeMotionVector(int r, int s);
  bool DecodeCodedBlockPattern();
  bool DecodeBlock(int b);
  bool DecodeDCDifferential(int b);
  bool CutNonIntraCoefficients();
  bool CutCoefficients(const TDctTableEntry* Table, int p, bool keepFirst);
  static void BuildShortTable(const TDctTableEntry* Table, std::array<TDctTableEntry, 256>& Short);
  // The analysis pass's coefficient loop (TranscoderCoefficientScan.cpp).
  struct TScanCode {
    std::uint8_t Bits;         // bits the code takes, its sign bit included; 0: not decided here
    std::uint8_t Advance;      // run + 1; 0 for the end of block
    std::uint8_t BothBits;     // Bits plus those of a second run/level code the prefix also
                               // decides (the shift that consumes both, stored ready for it);
    std::uint8_t PairAdvance;  // the second code's run + 1; Bits and 0 when there is none
  };
  static constexpr int kScanPrefixBits = 12;
  using TScanTable = std::array<TScanCode, std::size_t{1} << kScanPrefixBits>;
  static void BuildScanTable(const TDctTableEntry* Table, TScanTable& Scan);
  // Small tables for the walk (TranscoderTables.cpp): the scan tables, and motion_code (at
  // most 11 bits) and coded_block_pattern (at most 9 bits) indexed by that many bits. Built
  // once from the shared code tables and only read afterwards.
  struct TFastTables {
    TScanTable B14, B15;
    std::array<TMVTableEntry, 2048> MV;
    std::array<TCBPTableEntry, 512> CBP;
    TLevelTable LevelB14, LevelB15;
    TRunLevelCodes WriteB14, WriteB15;
  };
  static const TFastTables& SharedFastTables();
  static TScanCode LongCode(const TDctTableEntry* Table, std::uint64_t w, int escapeBits);
  bool ScanCoefficients(const TDctTableEntry* Table, int p, bool keepFirst);
  // All coded blocks of a non-intra macroblock in one loop that keeps its bit cache between
  // blocks; the analysis pass's path for them.
  bool ScanNonIntraBlocks(int blocks);
  template <bool Record>
  bool ScanNonIntraBlocksAs(int blocks);
  // The state of the scan's bit cache: the next bit's position in the unit, the bits from it
  // on (left-aligned) and how many of them are valid.
  struct TScanCursor {
    std::int64_t Pos = 0;
    std::uint64_t W = 0;
    int Valid = 0;
  };
  // How a block's scan stopped, with its code count and scan position then.
  struct TBlockScan {
    enum TStop { EndOfBlock, Damaged, NearEnd } Stop;
    int Codes;
    int P;
  };
  template <bool Record>
  TBlockScan ScanBlock(const TScanTable& Scan, const TDctTableEntry* Table, TScanCursor& Cursor, std::int64_t FastEnd,
                       int p, bool keepFirst);
  bool FinishBlockScan(const TBlockScan& Scan, const TDctTableEntry* Table, bool keepFirst);
  // A refill from a bit position before this stays inside the unit and its padding.
  std::int64_t FastScanEnd() const { return std::int64_t{FReader.Size()} * 8 - 8; }
  bool CutFromRecord();
  void CopyInputBits(std::int64_t From, std::int64_t To);
  void Mark(std::int64_t Kind) { FRecord.Marks.push_back(FReader.BitPosition() << 2 | Kind); }
  // During the analysis pass the record's code ends are written at FCodeCount into room that
  // grows ahead in large steps, so the coefficient loop can write through a pointer; the pass
  // trims them to FCodeCount when it ends. Whatever the vector holds when the pass starts is
  // room too, so a reused record costs no zero-filling. Returns the room for n more entries.
  std::uint16_t* CodeEndRoom(std::size_t n) {
    std::vector<std::uint16_t>& ends = FRecord.CodeEnds;
    // Grown in steps within the reserved capacity, so only pages that are used get touched;
    // past it the vector's own growth is geometric.
    constexpr std::size_t kStep = 4096;
    if (ends.size() < FCodeCount + n) ends.resize(FCodeCount + n + kStep);
    return ends.data() + FCodeCount;
  }
  // Appends the end of one of the current block's codes, for blocks read through the reader.
  void RecordCodeEnd() {
    *CodeEndRoom(1) = static_cast<std::uint16_t>(FReader.BitPosition() - FBlockStart);
    ++FCodeCount;
  }
  bool CutCoefficientsNearEnd(const TDctTableEntry* Table, int k, int p, bool keepFirst);
  // Escape width: 24 bits in MPEG-2; in MPEG-1 20, or 28 when the first level byte is 0x00 or
  // 0x80. w holds the escape left-aligned.
  int EscapeBits(std::uint64_t w) const {
    if (!FMpeg1Walk) return kEscapeBits;
    const auto first = static_cast<std::uint32_t>(w >> (64 - 20)) & 0xFFu;
    return first == 0x00 || first == 0x80 ? 28 : 20;
  }
  // MPEG-1 pictures: no sequence extension, walked only when allowed.
  bool Mpeg1Picture() const { return FMpeg1Allowed && !FHaveSequenceExtension; }
  void ParseQuantMatrixExtension();
  void LoadMatrix(std::array<std::uint8_t, 64>& Matrix);

  // The re-quantising walk (TranscoderRequant.cpp).
  struct TRequantOutBlock {
    int First = 0;  // the coefficients are at First .. First + Count - 1
    int Count = 0;
    std::array<std::uint8_t, 64> Pos{};
    std::array<std::int16_t, 64> Level{};
  };
  bool RequantSlice();
  enum class TMacroblockRead { Macroblock, SliceEnd, Damaged };
  bool RecordRequantSlice();
  TMacroblockRead NextRequantMacroblock(TRequantMacroblock& Mb, std::int32_t MbWidth);
  bool ReadRequantMacroblock(TRequantMacroblock& Mb);
  template <bool Account>
  bool ReadRequantBlock(int b, TRequantBlock& Block, std::uint8_t* Pos, std::int16_t* Level);
  std::int32_t NonIntraCodeBitsAt(std::int64_t Pos) const;
  std::uint32_t RequantBlocks(const TRequantMacroblock& Mb, int QuantOut);
  void WriteRequantMacroblock(const TRequantMacroblock& Mb, int Increment, int Flags, int QuantOut, std::uint32_t Coded,
                              bool Identity);
  void WriteBlock(const TRequantBlock& In, const TRequantOutBlock& Out, bool Intra, bool Identity, TBitGatherer& Codes);
  void GatherInputBits(TBitGatherer& Out, std::int64_t From, std::int64_t To);
  TVlcCode RunLevelCode(int Run, int Level, bool B15, bool First) const;
  void PrepareRequantSlice();
  // The output code whose quantiser_scale is nearest to that of input code QuantIn.
  int SameStepCode(int QuantIn) const;
  int QuantOutFor(int QuantIn) {
    const int in = QuantIn & 31;
    if (!((FCodeMapKnown >> in) & 1u)) MapQuantiser(in);
    return FCodeMap[static_cast<std::size_t>(in)];
  }
  void MapQuantiser(int In);
  std::int64_t WrittenBits() const { return std::int64_t{FWriter.BytesWritten()} * 8 + FWriter.BitPos(); }
  void MarkDamaged() { FDamaged = true; }
  void SetMotionLayout(const TMotionLayout& Layout) {
    motion_vector_count = Layout.MotionVectorCount;
    mv_format = Layout.MvFormat;
    dmv = Layout.Dmv;
  }

  TBitStream4 FReader;
  TBitStreamWriter FWriter;
  const TVlcTables* FTables;
  const TPassNames* FNames = nullptr;
  TCutRecord FRecord;
  const TCutRecord* FRecorded = nullptr;
  std::size_t FCodeCount = 0;
  std::size_t FBlockEntry = 0;   // index of the current block's code count in CodeEnds
  std::int64_t FBlockStart = 0;  // bit position of the current block's first code
  std::array<TDctTableEntry, 256> FShortB14{};
  std::array<TDctTableEntry, 256> FShortB15{};
  const TFastTables* FFast;
  bool FWriting = false;
  bool FRecordCuts = true;
  std::int64_t FBlockBits = 0;
  std::int64_t FCurveBits = 0;
  double FQuantSum = 0, FQuantWeight = 0;
  bool FDamaged = false;
  bool FRequanting = false;
  bool FHeadersOnly = false;  // ReadHeaders: slices are stepped over
  bool FMpeg1Allowed = false;
  bool FMpeg1Walk = false;  // the current picture is an MPEG-1 picture being walked

  // Re-quantisation state.
  TRequantSettings FSettings;
  TMatrices FMatrices{};
  std::array<std::array<std::int32_t, 64>, 4> FWeights{};  // by scan position, as FMatrices
  std::array<std::uint8_t, 32> FCodeMap{};                 // input quantiser_scale_code -> output
  std::uint32_t FCodeMapKnown = 0;                         // its entries made for this slice
  double FCodeMapLogRatio = 0;                             // the slice's step ratio, in log
  bool FInNonLinear = false;                               // the picture's quantiser table, as the input codes it
  bool FOutNonLinear = false;                              // and as the output codes it
  double FRatioLogSum = 0, FRatioWeight = 0;
  // 16 / (weight x quantiser_scale) by matrix, quantiser_scale_code and scan position, and
  // which codes of each matrix are made (see RequantBlocks).
  std::array<std::array<std::array<float, 64>, 32>, 4> FInverseSteps{};
  std::array<std::uint32_t, 4> FInverseKnown{};
  struct TWeightsKey {
    TMatrices Matrices{};
    std::int32_t AlternateScan = -1;
    bool NonLinear = false;
    bool OutNonLinear = false;
    bool Mpeg1 = false;
    float RoundingBias = 0;
  } FWeightsKey;
  TLevelCache FLevelCache;
  double FSliceScale = 1;
  double FScaleSum = 0, FScaleWeight = 0;
  std::int64_t FSliceInputStart = 0;
  std::int64_t FPictureInputBits = 0;
  std::array<TRequantOutBlock, 8> FOutBlocks;
  TRequantMacroblock FCurrentMb, FPendingMb;
  TParsedGroup* FParsedOut = nullptr;                 // the analysis keeps the macroblocks here
  const TParsedGroup* FParsedIn = nullptr;            // the re-quantising pass takes them from here,
  std::size_t FParsedSlice = 0, FParsedSliceEnd = 0;  // from its slices FParsedSlice .. End - 1
  std::uint32_t FParsedNext = 0, FParsedEnd = 0;      // macroblocks of the current slice left
  std::int32_t q_scale_type = 0;
  std::int32_t alternate_scan = 0;

  std::array<std::int32_t, kCurveSize> FCoefBits{};
  std::int32_t FMaxCoefIndex = 0;
  std::int32_t FCutLevel = 0;
  std::int32_t FAlignmentReserve = 0;
  std::int32_t FNextX = 0;
  std::int32_t FNextY = 0;
  std::int32_t FMbColumn = -1;

  // Header values, as the standard names them.
  std::int32_t horizontal_size_value = 0;
  std::int32_t vertical_size_value = 0;
  std::int32_t horizontal_size = 0;
  std::int32_t vertical_size = 0;
  std::int32_t chroma_format = 1;
  std::int32_t vbv_buffer_size_value = 0;
  std::int32_t vbv_buffer_size = 0;
  std::int32_t picture_coding_type = 0;
  std::int32_t f_code[2][2] = {{15, 15}, {15, 15}};
  std::int32_t intra_dc_precision = 0;
  std::int32_t picture_structure = 3;
  std::int32_t frame_pred_frame_dct = 1;
  std::int32_t concealment_motion_vectors = 0;
  std::int32_t intra_vlc_format = 0;
  bool FHaveSequenceExtension = false;
  bool FHaveCodingExtension = false;  // of the current picture
  std::int32_t FMotionVectorCalls = 0;

  // Macroblock values.
  std::int32_t macroblock_quant = 0;
  std::int32_t macroblock_motion_forward = 0;
  std::int32_t macroblock_motion_backward = 0;
  std::int32_t macroblock_pattern = 0;
  std::int32_t macroblock_intra = 0;
  std::int32_t motion_vector_count = 1;
  std::int32_t mv_format = 1;
  std::int32_t dmv = 0;
  std::uint32_t FCodedBlocks = 0;  // bit b set when block b is coded
  std::int64_t FTypeEnd = 0;       // input bit position after the macroblock_type code
  std::int32_t FIncrement = 0;     // of the current macroblock, escapes included
  std::int32_t FQuantCode = 0;     // the current macroblock's quantiser_scale_code, when it has one
  std::int64_t FMotionStart = 0, FMotionEnd = 0;
};

}  // namespace varlow
