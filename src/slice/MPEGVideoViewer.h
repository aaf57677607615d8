#pragma once
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "slice/BitStream4.h"
#include "slice/MacroblockRecords.h"
#include "slice/VLC_Table_Builder.h"
#include "support/Format.h"
#include "support/HResult.h"
#include "support/TreeSink.h"

namespace varlow {

// Explains one slice of one coded picture bit by bit into a tree: the slice header, each
// macroblock with its address, modes, motion vectors, coded block pattern and blocks, down to
// every DCT run/level code. Every element node carries its bit position (from the start of the
// block given to SetSlice) and its width; container nodes carry no position.
//
// One viewer serves one request: construct, set FTreeView, DecodeFrame with the stream from the
// governing sequence header (read silently for the values the slice syntax depends on), then
// SetSlice with the stream from the picture's start code. Both blocks must be followed by the
// bit reader's readable margin (see TBitStream4).
class TMPEGVideoViewer {
public:
  TMPEGVideoViewer();
  ~TMPEGVideoViewer();
  TMPEGVideoViewer(const TMPEGVideoViewer&) = delete;
  TMPEGVideoViewer& operator=(const TMPEGVideoViewer&) = delete;

  // Where the nodes go; the viewer only adds, never clears. Null: nodes are dropped.
  TTreeSink* FTreeView = nullptr;
  // Where the slice headers and macroblocks go as records, beside the tree or without one
  // (the picture overlay). Null: none are made.
  TMacroblockListener* FMacroblocks = nullptr;

  // Parses the headers up to the first picture start code. S_OK at a recognised end (picture
  // reached, data exhausted), E_FAIL when no further start code was found or on a failure.
  HRESULT DecodeFrame(const std::uint8_t* Data, std::int32_t Size);
  // Explains slice `SliceIndex` (0-based, in file order from the picture's start code) of the
  // picture at the start of `Data`; a negative index explains every slice of that picture.
  HRESULT SetSlice(const std::uint8_t* Data, std::int32_t Size, std::int32_t SliceIndex);

  // The last slice node added (TTreeSink::kRoot when none): the one the window expands.
  TTreeSink::NodeId SliceNode() const { return FSliceNode; }

  // What the walk did with each slice it explained, in order: for tests and tools that check
  // where a slice's macroblocks end.
  struct TSliceTrace {
    std::int32_t SliceIndex = 0;
    std::int64_t StartBit = 0;   // position of the slice start code
    std::int64_t EndBit = 0;     // reader position when the macroblock loop ended
    std::int32_t MacroBlocks = 0;
    std::int32_t InvalidCodes = 0;  // codes no table knows, and runs past the 64th coefficient (one damage node each)
    bool Completed = false;         // false when the slice ended on a bad address increment
  };
  const std::vector<TSliceTrace>& SliceTraces() const { return FSliceTraces; }

private:
  enum class TPictureKind { I = 1, P = 2, B = 3 };
  using NodeId = TTreeSink::NodeId;

  // Header walk (MPEGVideoViewer.cpp).
  HRESULT WalkHeaders(bool explainPicture);
  bool NextStartCode();
  bool SkipExtension();
  void DispatchExtension();
  bool DecodePicture();

  // Headers, read silently with the header readers (ViewerHeaders.cpp).
  bool ParseSequenceHeader();
  bool ParseSequenceExtension();
  bool ParseGOPHeader();
  bool ParsePictureHeader();
  bool ParsePictureCodingExtensionHeader();

  // Slices, macroblocks and modes (ViewerMacroblock.cpp).
  bool DecodeSlice(TPictureKind kind, std::int32_t sliceNumber);
  bool ExplainSlice(TPictureKind kind, std::int32_t sliceNumber);
  bool DecodeMacroBlock(TPictureKind kind);
  bool ExplainMacroBlock(TPictureKind kind);
  bool DecodeMacroBlockModes(TPictureKind kind);
  void ExplainIntraModes();
  void ExplainPredictedModes(TPictureKind kind);

  // Coded block pattern, blocks and coefficients (ViewerBlocks.cpp).
  bool DecodeCodedBlockPattern();
  bool DecodeBlock(std::int32_t i, bool checkCoded);
  bool ExplainBlockBits(std::int32_t i);
  bool DecodeIntraCoefficients(bool tableB15);
  bool DecodeNonIntraCoefficients();
  bool DecodeCoefficientLoop(const TDctTableEntry* table, std::int32_t n, bool signByReadBits);

  // Motion vectors (ViewerMotion.cpp).
  bool DecodePMotionVectors(std::int32_t s);
  bool DecodePMotionVector(std::int32_t r, std::int32_t s);

  // Adds the node of one element (nothing without a tree).
  NodeId Add(NodeId parent, const TElement& element) {
    return FTreeView == nullptr ? TTreeSink::kRoot : FTreeView->Add(parent, element);
  }
  // A field just read: `width` bits from `bitPos`.
  NodeId AddField(NodeId parent, std::string_view name, std::int64_t value, std::int64_t bitPos, std::int32_t width) {
    return Add(parent, TElement::Field(name, value, bitPos, width));
  }
  // A variable-length code just read, whose width reads "bits" even at one bit.
  NodeId AddCode(NodeId parent, std::string_view name, std::int64_t value, std::int64_t bitPos, std::int32_t width) {
    return Add(parent, TElement::Field(name, value, bitPos, width).In(TWidthUnit::Bits));
  }
  // Marks a code no table knows at `bitPos`: a damage node under `parent` that says where and
  // what was expected there, with the bits found. Counted in the slice's trace.
  void MarkDamage(NodeId parent, std::int64_t bitPos, std::string_view expected);
  // Gives a container node (a macroblock, a block) the bits from `start` to the reader's position.
  void CloseRange(NodeId node, std::int64_t start);
  std::int64_t Position() const { return FBitStream.BitPosition(); }
  // The last x position at which a macroblock row still has a macroblock.
  std::int32_t LastMacroBlockX() const { return ((FHorizontalSize + 15) / 16) * 16 - 16; }

  TBitStream4 FBitStream;
  const TDctTableEntry* FB15Table;
  const TDctTableEntry* FB14Table;
  const TCBPTableEntry* FCBPTable;
  const TMVTableEntry* FMVTable;

  std::int32_t FSliceIndex = 0;
  std::int32_t FMacroBlockCount = 0;
  std::int32_t FNextX = 0;
  std::int32_t FNextY = 0;
  bool FPictureDone = false;
  bool FPictureHeaderSeen = false;
  std::vector<TSliceTrace> FSliceTraces;
  TSliceTrace* FTrace = nullptr;  // the slice being explained
  TSliceHeaderRecord FSliceHeader;        // the slice being explained
  std::vector<TElement> FHeaderElements;  // its header's elements, for the tree
  TMacroblockRecord FRecord;        // the macroblock being explained

  NodeId FSliceNode = TTreeSink::kRoot;
  NodeId FMacroBlockNode = TTreeSink::kRoot;
  NodeId FModesNode = TTreeSink::kRoot;
  NodeId FCodedBlockPatternNode = TTreeSink::kRoot;
  NodeId FMotionVectorsNode = TTreeSink::kRoot;
  NodeId FMotionVectorNode = TTreeSink::kRoot;
  NodeId FBlockNode = TTreeSink::kRoot;
  NodeId FCoefficientsNode = TTreeSink::kRoot;

  // The header values the slice syntax depends on (the rest of each header is read and left).
  std::int32_t vertical_size_value = 0;
  std::int32_t FHorizontalSize = 0;
  std::int32_t FVerticalSize = 0;
  std::int32_t chroma_format = 0;
  // A sequence header without a sequence extension after it: MPEG-1 video, whose pictures
  // are frame pictures with frame prediction, 4:2:0, f_codes from the picture header and
  // 8/16-bit escape levels.
  bool FMpeg1 = false;
  std::int32_t picture_coding_type = 0;
  std::int32_t forward_f_code = 0;
  std::int32_t backward_f_code = 0;
  std::int32_t f_code[2][2] = {};
  std::int32_t picture_structure = 0;
  std::int32_t frame_pred_frame_dct = 0;
  std::int32_t concealment_motion_vectors = 0;
  std::int32_t intra_vlc_format = 0;

  // Slice values.
  std::int32_t slice_start_code = 0;
  std::int32_t quantiser_scale_code = 0;

  // Macroblock values.
  std::int32_t macroblock_type = 0;
  bool macroblock_quant = false;
  bool macroblock_motion_forward = false;
  bool macroblock_motion_backward = false;
  bool macroblock_pattern = false;
  bool macroblock_intra = false;
  std::int32_t frame_motion_type = 0;
  std::int32_t field_motion_type = 0;
  std::int32_t dct_type = 0;
  std::int32_t motion_vector_count = 0;
  std::int32_t mv_format = 0;
  std::int32_t dmv = 0;
  std::array<bool, 12> FBlockCoded{};
  std::int32_t coded_block_pattern_420 = 0;
  std::int32_t coded_block_pattern_1 = 0;
  std::int32_t coded_block_pattern_2 = 0;
  std::int32_t motion_vertical_field_select[2][2] = {};
  std::int32_t motion_code[2][2][2] = {};
  std::int32_t motion_residual[2][2][2] = {};
  std::int32_t dmvector[2] = {};
  std::int32_t dct_dc_size = 0;
  std::int32_t dct_dc_differential = 0;
};

}  // namespace varlow
