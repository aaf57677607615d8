#pragma once
#include "transrate/MPEGVideoTranscoder.h"

namespace varlow {

// The names one picture type's passes log under. The walker is shared; only the names differ.
struct TMPEGVideoTranscoder::TPassNames {
  const char* AnalysisPass;  // trap and unknown-code name of the analysis pass
  const char* CutPass;       // trap and unknown-code name of the cutting pass
  const char* Picture;
  const char* Slice;
  const char* SliceTag;  // "I", "P" or "B" in the slice's failure line
  const char* Modes;
};

inline constexpr TMPEGVideoTranscoder::TPassNames kIntraNames{
    "TMPEGVideoTranscoder.DecodeFrame",   "TMPEGVideoTranscoder.DirectCutLevels",
    "TMPEGVideoTranscoder.DecodePicture", "TMPEGVideoTranscoder.DecodeSlice",
    "I",                                  "TMPEGVideoTranscoder.DecodeMacroBlockModes"};
inline constexpr TMPEGVideoTranscoder::TPassNames kPredictedNames{
    "TMPEGVideoTranscoder.SetPFrame",      "TMPEGVideoTranscoder.DirectCutPLevels",
    "TMPEGVideoTranscoder.DecodePPicture", "TMPEGVideoTranscoder.DecodePSlice",
    "P",                                   "TMPEGVideoTranscoder.DecodePMacroBlockModes"};
inline constexpr TMPEGVideoTranscoder::TPassNames kBidirectionalNames{
    "TMPEGVideoTranscoder.SetBFrame",      "TMPEGVideoTranscoder.DirectCutBLevels",
    "TMPEGVideoTranscoder.DecodeBPicture", "TMPEGVideoTranscoder.DecodeBSlice",
    "B",                                   "TMPEGVideoTranscoder.DecodeBMacroBlockModes"};

} // namespace varlow
