#pragma once
#include <cstdint>
#include <string>

#include "syntax/BitStream3.h"
#include "syntax/HeaderReaders.h"
#include "syntax/HeaderRecords.h"

namespace varlow {

// Bit-exact readers of the five headers the browser shows. Each starts at the reader's current
// position, which must be the first byte of the header's start code, reads the fields in
// bitstream order and stores what it finds: nothing is checked against the values the standard
// prescribes. A header cut short by the end of the block leaves zeros where the data ran out
// and still returns true; false means a failure was trapped (and logged). `elements`, when given,
// receives the header's elements as the readers of HeaderReaders list them.

// headerLength: the header's length in bytes with its start code (12, 76 or 140).
bool Parse_sequence_header(TBitStream3& reader, TSequenceHeaderRec& rec, std::int32_t& headerLength,
                           TElementList* elements = nullptr);
bool Parse_sequence_extension(TBitStream3& reader, TSequenceExtensionRec& rec, TElementList* elements = nullptr);
bool Parse_GOP_header(TBitStream3& reader, TGOPHeaderRec& rec, TElementList* elements = nullptr);
bool Parse_picture_header(TBitStream3& reader, TPictureHeaderRec& rec, TElementList* elements = nullptr);
bool Parse_picture_coding_extension(TBitStream3& reader, TPictureCodingExtensionRec& rec,
                                    TElementList* elements = nullptr);

// Byte-aligns and moves to the next occurrence of `code` (00 00 01 xx as a big-endian number),
// leaving the reader on its first byte. Other start codes are passed over.
bool next_start_codeBS(TBitStream3& reader, std::uint32_t code);

// Length in bytes of a parsed picture header: its bits divided by 8, rounded to the nearest whole
// number with halves going to the even one (62 bits give 8, 70 give 9).
std::int32_t PictureHeaderLength(const TPictureHeaderRec& rec);

// "hh:mm:ss:pp" of a 25-bit time_code; the drop_frame_flag and marker bit are not shown.
std::string TimeCodeToStr(std::uint32_t time_code);

} // namespace varlow
