// The unit loop of the transcoder: entry points, the copy primitive, headers and extensions.
#include <algorithm>
#include <cstring>

#include "slice/VLC_Table_Builder.h"
#include "support/Format.h"
#include "support/Log.h"
#include "support/Trap.h"
#include "syntax/StartCodes.h"
#include "transrate/MPEGVideoTranscoder.h"
#include "transrate/RequantTables.h"
#include "transrate/TranscoderNames.h"

namespace varlow {

namespace {

constexpr std::uint32_t kStartCodePrefix = 0x000001;

}  // namespace

TMPEGVideoTranscoder::TMPEGVideoTranscoder() : FTables(&TVlcTables::Shared()), FFast(&SharedFastTables()) {
  BuildShortTable(FTables->B14.Table(), FShortB14);
  BuildShortTable(FTables->B15.Table(), FShortB15);
  FMatrices[0] = kDefaultIntraMatrix;
  FMatrices[1].fill(16);
  FMatrices[2] = FMatrices[0];
  FMatrices[3] = FMatrices[1];
}

TMPEGVideoTranscoder::~TMPEGVideoTranscoder() = default;

HRESULT TMPEGVideoTranscoder::DecodeFrame(const std::uint8_t* Data, std::int32_t Size) {
  return RunPass(kIntraNames, Data, nullptr, Size, nullptr, 0);
}
HRESULT TMPEGVideoTranscoder::SetPFrame(const std::uint8_t* Data, std::int32_t Size) {
  return RunPass(kPredictedNames, Data, nullptr, Size, nullptr, 0);
}
HRESULT TMPEGVideoTranscoder::SetBFrame(const std::uint8_t* Data, std::int32_t Size) {
  return RunPass(kBidirectionalNames, Data, nullptr, Size, nullptr, 0);
}
HRESULT TMPEGVideoTranscoder::DirectCutLevels(const std::uint8_t* Input, std::uint8_t* Output, std::int32_t InputSize,
                                              std::int32_t& OutputSize, std::int32_t CutLevel) {
  return RunPass(kIntraNames, Input, Output, InputSize, &OutputSize, CutLevel);
}
HRESULT TMPEGVideoTranscoder::DirectCutPLevels(const std::uint8_t* Input, std::uint8_t* Output, std::int32_t InputSize,
                                               std::int32_t& OutputSize, std::int32_t CutLevel) {
  return RunPass(kPredictedNames, Input, Output, InputSize, &OutputSize, CutLevel);
}
HRESULT TMPEGVideoTranscoder::DirectCutBLevels(const std::uint8_t* Input, std::uint8_t* Output, std::int32_t InputSize,
                                               std::int32_t& OutputSize, std::int32_t CutLevel) {
  return RunPass(kBidirectionalNames, Input, Output, InputSize, &OutputSize, CutLevel);
}

HRESULT TMPEGVideoTranscoder::Requantise(std::int32_t PictureType, const std::uint8_t* Input, std::uint8_t* Output,
                                         std::int32_t InputSize, std::int32_t& OutputSize,
                                         const TRequantSettings& Settings, const TParsedGroup* Parsed, int Picture) {
  if (PictureType < 1 || PictureType > 3) return E_FAIL;
  static constexpr TPassNames kRequantNames[3] = {
      {kIntraNames.AnalysisPass, "TMPEGVideoTranscoder.Requantise", kIntraNames.Picture, kIntraNames.Slice,
       kIntraNames.SliceTag, kIntraNames.Modes},
      {kPredictedNames.AnalysisPass, "TMPEGVideoTranscoder.RequantisePFrame", kPredictedNames.Picture,
       kPredictedNames.Slice, kPredictedNames.SliceTag, kPredictedNames.Modes},
      {kBidirectionalNames.AnalysisPass, "TMPEGVideoTranscoder.RequantiseBFrame", kBidirectionalNames.Picture,
       kBidirectionalNames.Slice, kBidirectionalNames.SliceTag, kBidirectionalNames.Modes}};
  FSettings = Settings;
  FScaleSum = 0;
  FScaleWeight = 0;
  FRatioLogSum = 0;
  FRatioWeight = 0;
  FPictureInputBits = std::int64_t{std::max(InputSize, 0)} * 8;
  FRequanting = true;
  FRecorded = nullptr;
  FParsedIn = Parsed != nullptr && Parsed->Whole(Picture) ? Parsed : nullptr;
  FParsedSlice = FParsedIn != nullptr ? Parsed->FirstSliceOf(Picture) : 0;
  FParsedSliceEnd = FParsedIn != nullptr ? Parsed->EndSliceOf(Picture) : 0;
  const HRESULT result = RunPass(kRequantNames[PictureType - 1], Input, Output, InputSize, &OutputSize, 0);
  FRequanting = false;
  FParsedIn = nullptr;
  return result;
}

HRESULT TMPEGVideoTranscoder::Analyse(std::int32_t PictureType, const std::uint8_t* Data, std::int32_t Size,
                                      TParsedGroup* Parsed) {
  FParsedOut = Parsed;
  HRESULT result = E_FAIL;
  switch (PictureType) {
    case 1:
      result = DecodeFrame(Data, Size);
      break;
    case 2:
      result = SetPFrame(Data, Size);
      break;
    case 3:
      result = SetBFrame(Data, Size);
      break;
    default:
      break;
  }
  FParsedOut = nullptr;
  return result;
}

HRESULT TMPEGVideoTranscoder::Cut(std::int32_t PictureType, const std::uint8_t* Input, std::uint8_t* Output,
                                  std::int32_t InputSize, std::int32_t& OutputSize, std::int32_t CutLevel) {
  switch (PictureType) {
    case 1:
      return DirectCutLevels(Input, Output, InputSize, OutputSize, CutLevel);
    case 2:
      return DirectCutPLevels(Input, Output, InputSize, OutputSize, CutLevel);
    case 3:
      return DirectCutBLevels(Input, Output, InputSize, OutputSize, CutLevel);
    default:
      return E_FAIL;
  }
}

HRESULT TMPEGVideoTranscoder::ReadHeaders(const std::uint8_t* Data, std::int32_t Size) {
  const bool recording = FRecordCuts;
  FRecordCuts = false;
  FHeadersOnly = true;
  const HRESULT result = RunPass(kIntraNames, Data, nullptr, Size, nullptr, 0);
  FHeadersOnly = false;
  FRecordCuts = recording;
  return result;
}

HRESULT TMPEGVideoTranscoder::RunPass(const TPassNames& Names, const std::uint8_t* Input, std::uint8_t* Output,
                                      std::int32_t InputSize, std::int32_t* OutputSize, std::int32_t CutLevel) {
  HRESULT result = E_FAIL;
  const bool cutting = Output != nullptr;
  Trap(cutting ? Names.CutPass : Names.AnalysisPass, [&] {
    FNames = &Names;
    FDamaged = false;
    FNextX = 0;
    FNextY = 0;
    FWriting = false;
    if (cutting) {
      FCutLevel = CutLevel;
    } else {
      FRecorded = nullptr;
      FRecord.Marks.clear();
      FRecord.Complete = FRecordCuts;
      FBlockBits = 0;
      FCurveBits = 0;
      FQuantSum = 0;
      FQuantWeight = 0;
      FCodeCount = 0;  // CodeEnds keeps its size as room, see CodeEndRoom
      // About one entry per input byte is typical; reserving it spares the growing record a
      // chain of reallocations (the pages are touched only as they are used).
      FRecord.CodeEnds.reserve(static_cast<std::size_t>(std::max(InputSize, 0)));
      FCoefBits.fill(0);
      FMaxCoefIndex = 0;
      FAlignmentReserve = 0;
    }
    if (FReader.SetData(Input, InputSize) < 0) return;
    if (cutting) {
      if (OutputSize == nullptr || FWriter.SetDestination(Output, *OutputSize) < 0) return;
      FWriting = true;
    }
    if (cutting && FRecorded && FRecorded->Complete) {
      if (!CutFromRecord()) FDamaged = true;
    } else {
      RunUnit();
    }
    if (FReader.Error()) FDamaged = true;
    if (cutting) {
      FWriter.ByteAlign();
      if (FWriter.Overflow()) return;
      *OutputSize = FWriter.BytesWritten();
    }
    result = S_OK;
  });
  if (!cutting) FRecord.CodeEnds.resize(FCodeCount);
  FWriting = false;
  FRecorded = nullptr;
  return result;
}

void TMPEGVideoTranscoder::RunUnit() {
  while (CopyToNextStartCode()) {
    const std::uint32_t code = FReader.NextAligned32Bit();
    switch (code) {
      case kPictureStartCode:
        DecodePicture();
        return;
      case kUserDataStartCode:
        CopyStartCode();
        break;
      case kSequenceHeaderCode:
        ParseSequenceHeader();
        break;
      case kExtensionStartCode:
        CopyExtension();
        break;
      case kGroupStartCode:
        ParseGOPHeader();
        break;
      case kSequenceEndCode:
        // Recordings joined end to end: the sequence before ends here, and the header that
        // follows starts the next one from its own values.
        CopyStartCode();
        break;
      default:
        LogMessage(std::string("wex: ") + (FWriting ? FNames->CutPass : FNames->AnalysisPass) + " - unknown code $" +
                   HexUpper(code, 8));
        CopyStartCode();
        break;
    }
  }
}

bool TMPEGVideoTranscoder::DecodePicture() {
  return Trap(FNames->Picture, [&] {
    // At the picture start code; the loop continues to the end of the unit.
    do {
      const std::uint32_t code = FReader.NextAligned32Bit();
      if (code == kPictureStartCode) {
        ParsePictureHeader();
      } else if (code >= kFirstSliceStartCode && code <= kLastSliceStartCode) {
        if (FHeadersOnly) {
          FReader.SkipSeen(32);
          SkipToNextStartCode();
        } else {
          DecodeSlice();
        }
      } else if (code == kUserDataStartCode) {
        CopyStartCode();
      } else if (code == kExtensionStartCode) {
        CopyExtension();
      } else {
        LogDebug("unknown code - $" + HexUpper(code, 10));
        CopyStartCode();
      }
    } while (CopyToNextStartCode());
  });
}

void TMPEGVideoTranscoder::CopyStartCode() {
  const std::uint32_t v = FReader.ReadAligned32Bit();
  if (FWriting) FWriter.PutBits(v, 32);
}

bool TMPEGVideoTranscoder::CopyToNextStartCode() {
  if (!FWriting && FRecord.Complete) Mark(TCutRecord::kAlign);
  FReader.ByteAlign();
  if (FWriting) FWriter.ByteAlign();
  for (;;) {
    std::int64_t left = FReader.BitsLeft();
    if (left < 32) {
      // No room for another start code: the rest of the unit goes out as it is.
      for (; left >= 8; left -= 8) Copy(8);
      return false;
    }
    if (FReader.NextAligned24Bit() == kStartCodePrefix) return true;
    Copy(8);
  }
}

void TMPEGVideoTranscoder::SkipToNextStartCode() {
  FReader.ByteAlign();
  const std::uint8_t* data = FReader.Data();
  const std::int32_t size = FReader.Size();
  std::int32_t at = FReader.ByteIndex();
  while (at + 2 < size) {
    const void* zero = std::memchr(data + at, 0, static_cast<std::size_t>(size - 2 - at));
    if (zero == nullptr) break;
    at = static_cast<std::int32_t>(static_cast<const std::uint8_t*>(zero) - data);
    if (data[at + 1] == 0 && data[at + 2] == 1) break;
    ++at;
  }
  if (at + 2 >= size) at = size;
  FReader.SkipSeen((at - FReader.ByteIndex()) * 8);
}

void TMPEGVideoTranscoder::CopyExtension() {
  CopyStartCode();
  const std::uint32_t id = FReader.Next4Bits();
  if (id == kSequenceExtensionId) {
    ParseSequenceExtension();
  } else if (id == kPictureCodingExtensionId) {
    ParsePictureCodingExtensionHeader();
  } else if (id == kQuantMatrixExtensionId) {
    ParseQuantMatrixExtension();
  }
  // Every other extension is carried byte for byte by the next CopyToNextStartCode.
}

void TMPEGVideoTranscoder::LoadMatrix(std::array<std::uint8_t, 64>& Matrix) {
  for (int i = 0; i < 64; ++i) Matrix[kZigzagScan[static_cast<std::size_t>(i)]] = static_cast<std::uint8_t>(Copy(8));
}

void TMPEGVideoTranscoder::ParseQuantMatrixExtension() {
  Trap("TMPEGVideoTranscoder.ParseQuantMatrixExtension", [&] {
    Copy(4);        // extension_start_code_identifier
    if (Copy(1)) {  // load_intra_quantiser_matrix: chrominance follows it
      LoadMatrix(FMatrices[0]);
      FMatrices[2] = FMatrices[0];
    }
    if (Copy(1)) {  // load_non_intra_quantiser_matrix
      LoadMatrix(FMatrices[1]);
      FMatrices[3] = FMatrices[1];
    }
    if (Copy(1)) LoadMatrix(FMatrices[2]);  // load_chroma_intra_quantiser_matrix
    if (Copy(1)) LoadMatrix(FMatrices[3]);  // load_chroma_non_intra_quantiser_matrix
  });
}

bool TMPEGVideoTranscoder::ParseSequenceHeader() {
  return Trap("TMPEGVideoTranscoder.ParseSequenceHeader", [&] {
    CopyStartCode();
    horizontal_size_value = static_cast<std::int32_t>(Copy(12));
    vertical_size_value = static_cast<std::int32_t>(Copy(12));
    Copy(4);  // aspect_ratio_information
    Copy(4);  // frame_rate_code
    // bit_rate_value and vbv_buffer_size_value go out unchanged: the output announces the
    // input's rate.
    Copy(18);  // bit_rate_value
    Copy(1);   // marker_bit
    vbv_buffer_size_value = static_cast<std::int32_t>(Copy(10));
    vbv_buffer_size = vbv_buffer_size_value;
    Copy(1);   // constrained_parameters_flag
    // The matrices (sent in zigzag order) hold for luminance and chrominance alike until a
    // quant matrix extension says otherwise; a matrix not sent is the default one.
    FMatrices[0] = kDefaultIntraMatrix;
    FMatrices[1].fill(16);
    if (Copy(1)) LoadMatrix(FMatrices[0]);  // load_intra_quantiser_matrix
    if (Copy(1)) LoadMatrix(FMatrices[1]);  // load_non_intra_quantiser_matrix
    FMatrices[2] = FMatrices[0];
    FMatrices[3] = FMatrices[1];
    horizontal_size = horizontal_size_value;
    vertical_size = vertical_size_value;
    FHaveSequenceExtension = false;
  });
}

bool TMPEGVideoTranscoder::ParseSequenceExtension() {
  return Trap("TMPEGVideoTranscoder.ParseSequenceExtension", [&] {
    Copy(4);  // extension_start_code_identifier
    Copy(8);  // profile_and_level_indication
    Copy(1);  // progressive_sequence
    chroma_format = static_cast<std::int32_t>(Copy(2));
    const auto horizontal_size_extension = static_cast<std::int32_t>(Copy(2));
    const auto vertical_size_extension = static_cast<std::int32_t>(Copy(2));
    Copy(12);  // bit_rate_extension
    Copy(1);   // marker_bit
    vbv_buffer_size = vbv_buffer_size_value | static_cast<std::int32_t>(Copy(8)) << 10;  // vbv_buffer_size_extension
    Copy(1);   // low_delay
    Copy(2);   // frame_rate_extension_n
    Copy(5);   // frame_rate_extension_d
    horizontal_size = horizontal_size_value | (horizontal_size_extension << 12);
    vertical_size = vertical_size_value | (vertical_size_extension << 12);
    FHaveSequenceExtension = true;
  });
}

bool TMPEGVideoTranscoder::ParseGOPHeader() {
  return Trap("TMPEGVideoTranscoder.ParseGOPHeader", [&] {
    CopyStartCode();
    Copy(16);  // time_code (25), closed_gop, broken_link and the bits after them: 32 in all
    Copy(16);
  });
}

bool TMPEGVideoTranscoder::ParsePictureHeader() {
  return Trap("TMPEGVideoTranscoder.ParsePictureHeader", [&] {
    CopyStartCode();
    Copy(10);  // temporal_reference
    picture_coding_type = static_cast<std::int32_t>(Copy(3));
    Copy(16);  // vbv_delay, unchanged
    std::int32_t forward = 15;
    std::int32_t backward = 15;
    if (picture_coding_type == 2 || picture_coding_type == 3) {
      Copy(1);                                       // full_pel_forward_vector
      forward = static_cast<std::int32_t>(Copy(3));  // forward_f_code
    }
    if (picture_coding_type == 3) {
      Copy(1);                                        // full_pel_backward_vector
      backward = static_cast<std::int32_t>(Copy(3));  // backward_f_code
    }
    // An MPEG-1 picture has no coding extension: its vectors take the header's f_codes, and
    // the rest is what MPEG-1 fixes (frame pictures, frame prediction, zigzag, table B-14,
    // linear quantiser, 8-bit DC). A picture coding extension overwrites all of it.
    FMpeg1Walk = Mpeg1Picture();
    f_code[0][0] = f_code[0][1] = forward;
    f_code[1][0] = f_code[1][1] = backward;
    intra_dc_precision = 0;
    picture_structure = 3;
    frame_pred_frame_dct = 1;
    concealment_motion_vectors = 0;
    intra_vlc_format = 0;
    q_scale_type = 0;
    FInNonLinear = FOutNonLinear = false;
    alternate_scan = 0;
    while (FReader.Next1Bit() == 1 && !FReader.Error()) Copy(9);  // extra_bit_picture + extra_information_picture
    Copy(1);                                                      // extra_bit_picture
    FHaveCodingExtension = false;
    // Macroblock state starts afresh with every picture, so both passes walk it alike.
    motion_vector_count = 1;
    mv_format = 1;
    dmv = 0;
  });
}

bool TMPEGVideoTranscoder::ParsePictureCodingExtensionHeader() {
  return Trap("TMPEGVideoTranscoder.ParsePictureCodingExtensionHeader", [&] {
    Copy(4);  // extension_start_code_identifier
    f_code[0][0] = static_cast<std::int32_t>(Copy(4));
    f_code[0][1] = static_cast<std::int32_t>(Copy(4));
    f_code[1][0] = static_cast<std::int32_t>(Copy(4));
    f_code[1][1] = static_cast<std::int32_t>(Copy(4));
    intra_dc_precision = static_cast<std::int32_t>(Copy(2));
    picture_structure = static_cast<std::int32_t>(Copy(2));
    Copy(1);  // top_field_first
    frame_pred_frame_dct = static_cast<std::int32_t>(Copy(1));
    concealment_motion_vectors = static_cast<std::int32_t>(Copy(1));
    // The re-quantising walk may write the non-linear table where the input has the linear one.
    const bool writing = FWriting;
    FWriting = false;
    q_scale_type = static_cast<std::int32_t>(Copy(1));
    FWriting = writing;
    FInNonLinear = q_scale_type != 0;
    FOutNonLinear = FInNonLinear || (FRequanting && FSettings.NonLinear);
    if (FWriting) FWriter.PutBits(FOutNonLinear ? 1u : 0u, 1);
    intra_vlc_format = static_cast<std::int32_t>(Copy(1));
    alternate_scan = static_cast<std::int32_t>(Copy(1));
    Copy(1);                // repeat_first_field
    Copy(1);                // chroma_420_type
    Copy(1);                // progressive_frame
    if (Copy(1)) Copy(20);  // composite_display_flag: v_axis, field_sequence, sub_carrier, burst, phase
    FHaveCodingExtension = true;
    FMpeg1Walk = false;
  });
}

}  // namespace varlow
