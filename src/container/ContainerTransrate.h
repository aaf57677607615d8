#pragma once
#include <string>

#include "container/ByteSource.h"
#include "transrate/TransrateFile.h"

namespace varlow {

// Transrates the video stream inside a transport stream and writes the same transport stream
// around it: every other packet is copied as it is (PSI tables, audio, subtitles, data, other
// video), the video PES packets keep their headers (PTS, DTS, flags) and carry the transrated
// access units, repacketised into the video packets' own places in the multiplex, so that PCRs
// keep their values and every packet its arrival time within its PCR interval. Places the
// smaller video no longer needs are left out, or with `KeepMuxRate` filled with null packets so
// that every other packet keeps its position. The video payload of the output is what the
// elementary-stream transrate makes of the video read from the source.
TTransrateResult TransrateTransportStream(const TByteSource& source, const std::string& OutputPath,
                                          const TTransrateOptions& Options, const TTransrateProgressFunction& Progress);

// The same for a program stream (DVD VOB, MPEG-2 program stream, MPEG-1 system stream): each
// group of pictures is poured into its own video packets, which keep their sizes (so a DVD's
// 2,048-byte packs stay so) and take the time stamps of the first picture that begins in them;
// packs left with no video are left out (with `KeepMuxRate`, their video packets become padding
// packets). Pack and system headers, SCRs and every other packet (audio, subpictures, DVD
// navigation packs) are copied as they are.
TTransrateResult TransrateProgramStream(const TByteSource& source, const std::string& OutputPath,
                                        const TTransrateOptions& Options, const TTransrateProgressFunction& Progress);

} // namespace varlow
