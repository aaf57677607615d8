#pragma once
// A group of pictures as the transrater holds it while one worker analyses it, brings it under
// its budget and leaves it for delivery: its pictures, what their analysis found, the rate
// model its plan starts from and what its pictures taught that model.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "transrate/Buffer.h"
#include "transrate/BufferGuard.h"
#include "transrate/MPEGVideoTranscoder.h"
#include "transrate/ParsedGroup.h"

namespace varlow {

// What one processed group of pictures cost, for callers that watch the rate control.
struct TGroupReport {
  std::int32_t Pictures = 0;
  std::int64_t BudgetBits = 0;  // sum of the per-picture budgets
  std::int64_t FixedBits = 0;   // bits no cut removes (alignment reserve included)
  std::int64_t InputBits = 0;
  std::int64_t OutputBits = 0;
  double Seconds = 0;  // playing time of the group's pictures, each at its own frame rate
};

// What cutting a picture can save: Bits[0] = bits no cut removes, Bits[k] = what the k-th
// run/level codes of all its blocks cost (k = 1 .. MaxCoefIndex).
struct TPictureCost {
  static constexpr int kMaxLevel = 64;
  std::array<std::int32_t, kMaxLevel + 1> Bits{};
  std::int32_t MaxCoefIndex = 0;
  bool Curve = true;  // false: Bits[0] alone is known (an analysis that kept the macroblocks)
};

// Knobs of the re-quantising method's rate control.
struct TRequantTuning {
  float RoundingBias = 0.0f;    // dead zone of the level choice, in steps
  double BudgetUse = 0.995;     // the part of a group's budget the plan aims at
  double MinStepRatio = 1.5;    // see TMPEGVideoTranscoder::TRequantSettings
  double DriftWeight = 0.0;     // a reference picture's error weighs this much more per picture
                                // after it in its group
  double BPictureWeight = 0.6;  // a B picture's error against a last reference picture's
  double Lambda = 0.1;          // see TMPEGVideoTranscoder::TRequantSettings
  // A group plans with the rate model as the group this many places before it left it (the
  // first groups: as the first left it), whatever the number of threads, so the output is the
  // same for any. With 1 each group's plan waits for the one before while other groups are
  // analysed: the output is that of one thread processing group after group. Groups that far
  // apart could be planned side by side, but a model that many groups old costs 0.1 to 0.5 dB
  // on measured streams.
  std::int32_t ModelLag = 1;
};

// How re-quantised pictures of each picture_coding_type shrink: their coefficient bits go as
// the step ratio to the power -Alpha, and they keep FixedShare of their other bits.
struct TRateModel {
  std::array<double, 4> Alpha{1.0, 1.0, 1.0, 1.0};
  std::array<double, 4> FixedShare{1.0, 1.0, 1.0, 1.0};
  bool Learnt = false;  // it has seen a re-quantised group
};

struct THeldFrame {
  std::unique_ptr<TBuffer> Data;
  std::int32_t Type = 0;
  double Periods = 1;                       // frame periods it stays on show
  double Fps = 0;                           // frame rate of the sequence the picture belongs to
  bool Damaged = false;                     // written unchanged: the transcoder could not parse it completely
  TMPEGVideoTranscoder::TCutRecord Record;  // made by the analysis pass, for the cut
  TMPEGVideoTranscoder::TSequenceValues Sequence{};  // transcoder state its analysis starts from
  std::unique_ptr<TBuffer> Output;                   // what processing made of it
  std::int32_t OutputSize = 0;                       // bytes of it, or 0 when the picture goes out as it came
  std::int64_t BlockBits = 0;                        // bits of all run/level and end-of-block codes
  TParsedGroup* Parsed = nullptr;                    // where its macroblocks are kept (re-quantising)
  int ParsedPicture = -1;                            // and their picture there
  std::size_t Store = 0;                             // which of its group's stores keeps them
  bool GroupStart = false;                           // it begins a group of pictures
  double InputStep = 0;                              // its mean quantiser_scale (re-quantising)
  std::int64_t BufferBits = 0;                       // vbv_buffer_size in force for it, in bits
};

// One unit of work: a group of pictures, with a short group after it planned together with it.
struct THeldGroup {
  std::int64_t Index = 0;  // units before it in the stream
  std::vector<THeldFrame> Frames;
  std::vector<TPictureCost> Costs;
  std::int32_t Count = 0;  // pictures held, from the front of Frames
  // The macroblocks its groups of pictures' analyses keep, one store per group.
  std::array<TParsedGroup, 2> Stores;
  std::int64_t InputBefore = 0;  // input bytes before its first unit
  TGroupReport Report;           // BudgetBits and InputBits when it is handed out; the rest after
  TRateModel Model;              // the model its plan starts from; once processed, what it left
  // The decoder's buffer when its first picture is due (off where no buffer is kept); once
  // processed, when the picture after its last is due.
  TBufferGuard Buffer;
  std::int64_t BufferRate = 0;  // the rate the buffer fills at; 0: none is kept
  std::vector<std::int32_t> CutLevels;
  std::string Error;  // why processing stopped, when it did
  bool Done = false;  // processed; under the lock of the run that handed it out
  // CPU seconds its worker spent analysing it and bringing it under its budget.
  double AnalysisSeconds = 0, PlanSeconds = 0;

  // Room for one more picture, at the end.
  THeldFrame& Add() {
    if (Frames.size() <= static_cast<std::size_t>(Count)) {
      Frames.resize(static_cast<std::size_t>(Count) + 1);
      Costs.resize(static_cast<std::size_t>(Count) + 1);
    }
    return Frames[static_cast<std::size_t>(Count++)];
  }
};

// The bits of a picture's run/level and end-of-block codes, from its analysis record.
std::int64_t BlockBits(const TMPEGVideoTranscoder::TCutRecord& Record);

// The level fill: all pictures rise together, one code position at a time, in stream order;
// level 0 charges each picture its fixed bits. A picture takes a level only once that level is
// paid for, so the group stays within Budget unless its fixed bits alone exceed it. Returns one
// cut level per picture.
std::vector<std::int32_t> FillCutLevels(const std::vector<TPictureCost>& Costs, std::int32_t Count,
                                        std::int64_t Budget);

}  // namespace varlow
