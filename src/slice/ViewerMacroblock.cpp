// Slices, macroblock addresses and macroblock modes. One walker serves I, P and B pictures;
// the few differences between them are kept where they are marked.
#include "slice/HeaderReader4.h"
#include "slice/MPEGVideoViewer.h"
#include "slice/SyntaxReaders.h"
#include "support/Log.h"
#include "support/Trap.h"
#include "syntax/HeaderReaders.h"

namespace varlow {

namespace {

const char* SliceOperation(int kind) {
  switch (kind) {
    case 1: return "TMPEGVideoViewer.DecodeSlice";
    case 2: return "TMPEGVideoViewer.DecodePSlice";
    default: return "TMPEGVideoViewer.DecodeBSlice";
  }
}

const char* ModesOperation(int kind) {
  switch (kind) {
    case 1: return "TMPEGVideoViewer.DecodeMacroBlockModes";
    case 2: return "TMPEGVideoViewer.DecodePMacroBlockModes";
    default: return "TMPEGVideoViewer.DecodeBMacroBlockModes";
  }
}

}  // namespace

bool TMPEGVideoViewer::DecodeSlice(TPictureKind kind, std::int32_t sliceNumber) {
  bool result = false;
  bool ran = Trap(SliceOperation(static_cast<int>(kind)), [&] { result = ExplainSlice(kind, sliceNumber); });
  return ran && result;
}

bool TMPEGVideoViewer::ExplainSlice(TPictureKind kind, std::int32_t sliceNumber) {
  TBitStream4& bs = FBitStream;
  if (kind != TPictureKind::I) FNextX = 0;
  FSliceTraces.push_back({sliceNumber, Position(), Position(), 0, 0, false});
  FTrace = &FSliceTraces.back();

  std::int64_t pos = Position();
  slice_start_code = static_cast<std::int32_t>(bs.ReadAligned32Bit());
  FSliceHeader = TSliceHeaderRecord{};
  FSliceHeader.SliceIndex = sliceNumber;
  FSliceHeader.Header.slice_start_code = static_cast<std::uint32_t>(slice_start_code);
  // The slice number equals the chosen index; when every slice is explained it tells them apart.
  FSliceNode = Add(TTreeSink::kRoot, TElement::Group("slice", "Slice").Numbered(sliceNumber));
  Add(FSliceNode, TElement::Code("slice_start_code", static_cast<std::uint32_t>(slice_start_code), pos));
  FNextY = (slice_start_code - 0x101) * 16;
  // I slices refuse a row outside the picture; P and B slices go on.
  if (kind == TPictureKind::I && FNextY >= vertical_size_value) {
    FTrace->EndBit = Position();
    if (FMacroblocks != nullptr) FMacroblocks->Slice(FSliceHeader);
    return false;
  }
  THeaderReader4 reader(bs);
  FHeaderElements.clear();
  ReadSliceHeader(reader, FSliceHeader.Header, FVerticalSize, FTreeView != nullptr ? &FHeaderElements : nullptr,
                  TStartCodeRead::Already);
  // The start code's node is there already.
  for (std::size_t i = 1; i < FHeaderElements.size(); ++i) Add(FSliceNode, FHeaderElements[i]);
  quantiser_scale_code = FSliceHeader.Header.quantiser_scale_code;
  FSliceHeader.Complete = true;
  if (FMacroblocks != nullptr) FMacroblocks->Slice(FSliceHeader);

  for (;;) {
    if (!DecodeMacroBlock(kind)) {
      FTrace->EndBit = Position();
      const char* format = kind == TPictureKind::I   ? "here1 I FNextX = %d, FNextY = %d"
                           : kind == TPictureKind::P ? "here1 P FNextX = %d, FNextY = %d"
                                                     : "here1 B FNextX = %d, FNextY = %d";
      LogDebugFmt(format, {FNextX, FNextY});
      return false;
    }
    // MPEG-1 slices may run over several rows: a full row goes on with the next one.
    if (FMpeg1 && FNextX > LastMacroBlockX()) {
      FNextX = 0;
      FNextY += 16;
    }
    // A start code or zero stuffing follows, the row is full, or the data is out. A slice at the
    // very end of a file has fewer than 23 bits after its last macroblocks but one: those still
    // count as long as a 1 bit is left (the bytes after the block read as zeros).
    if (bs.Next23Bits() == 0 || FNextX > LastMacroBlockX() || bs.BitsLeft() <= 0) break;
  }
  FTrace->EndBit = Position();
  FTrace->Completed = true;
  if (bs.BitsLeft() < 23) bs.SetError();
  if (kind == TPictureKind::I && FNextX > LastMacroBlockX()) FNextX = 0;
  return true;
}

// One macroblock; its node spans the bits from its first escape or address increment to the
// end of its last block.
bool TMPEGVideoViewer::DecodeMacroBlock(TPictureKind kind) {
  const std::int64_t start = Position();
  FMacroBlockNode = Add(FSliceNode, TElement::Group("macroblock", "MacroBlock").Numbered(FMacroBlockCount));
  const NodeId node = FMacroBlockNode;
  FRecord = TMacroblockRecord{};
  FRecord.NumberInSlice = FTrace->MacroBlocks;
  ++FMacroBlockCount;
  ++FTrace->MacroBlocks;
  bool explained = false;
  try {
    explained = ExplainMacroBlock(kind);
  } catch (...) {
    // What was read of it still counts; the slice's trap reports the failure.
    if (FMacroblocks != nullptr) FMacroblocks->Macroblock(FRecord);
    throw;
  }
  if (FMacroblocks != nullptr) FMacroblocks->Macroblock(FRecord);
  if (explained) CloseRange(node, start);
  return explained;
}

bool TMPEGVideoViewer::ExplainMacroBlock(TPictureKind kind) {
  TBitStream4& bs = FBitStream;

  for (;;) {
    std::int64_t pos = Position();
    if (PeekMacroblockEscape(bs)) {
      bs.DumpBits(11);
      ++FRecord.Escapes;
      AddField(FMacroBlockNode, "macroblock_escape", kMacroblockEscape, pos, 11);
    } else if (FMpeg1 && PeekMacroblockStuffing(bs)) {
      bs.DumpBits(11);
      AddField(FMacroBlockNode, "macroblock_stuffing", kMacroblockStuffing, pos, 11);
    } else {
      break;
    }
  }

  TCodeRead increment = PeekMacroblockAddressIncrement(bs);
  if (!increment.Valid) {
    MarkDamage(FMacroBlockNode, Position(), "macroblock_address_increment");
    if (kind == TPictureKind::P) {
      bs.OutputDebugStringNumBits(24);
      LogDebugFmt("ByteIndex: %d, Data Size = %d, %d",
                    {bs.ByteIndex(), bs.Size(), static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(bs.Data()))});
      LogMessageFmt("wex: Error in TMPEGVideoViewer.DecodePMackroBlock call... %d, %d", {FNextX, FNextY});
    }
    bs.ReadBits(1);
    return false;
  }
  std::int64_t pos = Position();
  bs.DumpBitsNoCheck(increment.Length);
  FRecord.macroblock_address_increment = increment.Value;
  AddCode(FMacroBlockNode, "macroblock_address_increment", increment.Value, pos, increment.Length);

  DecodeMacroBlockModes(kind);

  if (macroblock_quant) {
    pos = Position();
    quantiser_scale_code = static_cast<std::int32_t>(bs.ReadBits(5));
    FRecord.quantiser_scale_code = quantiser_scale_code;
    AddField(FMacroBlockNode, "quantiser_scale_code", quantiser_scale_code, pos, 5);
  }
  const bool concealment = macroblock_intra && concealment_motion_vectors == 1;
  if (concealment) {
    // Concealment vectors: one vector, in frame format in frame pictures and in field format
    // (with its field select) in field pictures, whatever an earlier macroblock left.
    motion_vector_count = 1;
    mv_format = picture_structure == 3 ? kMvFormatFrame : kMvFormatField;
    dmv = 0;
  }
  if (macroblock_motion_forward || concealment) DecodePMotionVectors(0);
  if (macroblock_motion_backward) DecodePMotionVectors(1);
  if (concealment) {
    pos = Position();
    // The label has always read "marker_bit_1"; the element is the marker_bit after the vectors.
    Add(FMacroBlockNode, TElement::Field("marker_bit", bs.ReadBits(1), pos, 1).Labelled("marker_bit_1"));
  }
  if (kind != TPictureKind::I && macroblock_pattern) DecodeCodedBlockPattern();

  const bool checkCoded = kind != TPictureKind::I;
  for (std::int32_t i = 0; i < 4; ++i) DecodeBlock(i, checkCoded);
  if (chroma_format == 1 || chroma_format == 2) {
    const std::int32_t chromaBlocks = chroma_format == 1 ? 2 : 4;
    for (std::int32_t i = 4; i < 4 + chromaBlocks; ++i) DecodeBlock(i, checkCoded);
    FNextX += 16;
  } else if (chroma_format == 3 && kind == TPictureKind::P) {
    LogMessage("wex: Error 4:4:4 format - TODO");
  }
  return true;
}

bool TMPEGVideoViewer::DecodeMacroBlockModes(TPictureKind kind) {
  return Trap(ModesOperation(static_cast<int>(kind)), [&] {
    if (kind == TPictureKind::I) {
      if (picture_coding_type == 1) ExplainIntraModes();
    } else {
      ExplainPredictedModes(kind);
    }
  });
}

void TMPEGVideoViewer::ExplainIntraModes() {
  TBitStream4& bs = FBitStream;
  FModesNode = Add(FMacroBlockNode, TElement::Group("macroblock_modes", "MacroBlock Modes"));
  std::int64_t pos = Position();
  TCodeRead type = PeekMacroblockType(bs, 1);
  bs.DumpBits(type.Length);
  macroblock_type = type.Value;
  FRecord.macroblock_type = macroblock_type;
  AddCode(FModesNode, "macroblock_type", type.Value, pos, type.Length);
  macroblock_quant = (type.Value & kMacroblockQuant) != 0;
  macroblock_intra = true;
  macroblock_motion_forward = macroblock_motion_backward = macroblock_pattern = false;
  dct_type = 0;
  pos = TTreeSink::kNoPosition;
  std::int32_t width = 0;
  if (picture_structure == 3 && frame_pred_frame_dct == 0) {
    pos = Position();
    width = 1;
    dct_type = static_cast<std::int32_t>(bs.ReadBits(1));
  }
  Add(FModesNode, TElement::Field("dct_type", dct_type, pos, width).Stating(1));
  FBlockCoded.fill(true);
}

void TMPEGVideoViewer::ExplainPredictedModes(TPictureKind kind) {
  TBitStream4& bs = FBitStream;
  FModesNode = Add(FMacroBlockNode, TElement::Group("macroblock_modes", "MacroBlock Modes"));
  std::int64_t pos = Position();
  TCodeRead type = PeekMacroblockType(bs, static_cast<std::int32_t>(kind));
  if (!type.Valid) MarkDamage(FModesNode, pos, "macroblock_type");
  AddCode(FModesNode, "macroblock_type", type.Value, pos, type.Length);
  bs.DumpBits(type.Length);
  macroblock_type = type.Value;
  FRecord.macroblock_type = macroblock_type;
  macroblock_quant = (type.Value & kMacroblockQuant) != 0;
  macroblock_motion_forward = (type.Value & kMacroblockMotionForward) != 0;
  macroblock_motion_backward = (type.Value & kMacroblockMotionBackward) != 0;
  macroblock_pattern = (type.Value & kMacroblockPattern) != 0;
  macroblock_intra = (type.Value & kMacroblockIntra) != 0;
  if (macroblock_motion_forward || macroblock_motion_backward) {
    TMotionLayout layout{};
    if (picture_structure != 3) {
      pos = Position();
      field_motion_type = static_cast<std::int32_t>(bs.ReadBits(2));
      FRecord.MotionType = field_motion_type;
      Add(FModesNode, TElement::Field("field_motion_type", field_motion_type, pos, 2).In(TWidthUnit::Bit));
      layout = kFieldMotionLayout[static_cast<std::size_t>(field_motion_type)];
    } else if (frame_pred_frame_dct == 1) {
      layout = {1, kMvFormatFrame, 0};
    } else {
      pos = Position();
      frame_motion_type = static_cast<std::int32_t>(bs.ReadBits(2));
      FRecord.MotionType = frame_motion_type;
      Add(FModesNode, TElement::Field("frame_motion_type", frame_motion_type, pos, 2).In(TWidthUnit::Bit));
      layout = kFrameMotionLayout[static_cast<std::size_t>(frame_motion_type)];
    }
    motion_vector_count = layout.MotionVectorCount;
    mv_format = layout.MvFormat;
    dmv = layout.Dmv;
  }
  dct_type = 0;
  pos = TTreeSink::kNoPosition;
  std::int32_t width = 0;
  if (picture_structure == 3 && frame_pred_frame_dct == 0 && (macroblock_intra || macroblock_pattern)) {
    pos = Position();
    width = 1;
    dct_type = static_cast<std::int32_t>(bs.ReadBits(1));
  }
  Add(FModesNode, TElement::Field("dct_type", dct_type, pos, width).Stating(1));
  FBlockCoded.fill(macroblock_intra);
}

}  // namespace varlow
