#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>

#include "syntax/ByteWindowReader.h"
#include "syntax/HeaderReaders.h"

namespace varlow {

// The few fields of a picture header and of a picture coding extension that a picture record
// keeps, read by the header readers straight from the bytes, without the checked reader: the
// scan meets one of each per picture, and the checked reader with its trap costs more than the
// rest of its work on a picture. Both read only headers that lie wholly within `available`
// bytes and return nothing otherwise (or, for a picture header, when extra_information_picture
// bytes follow): the checked parsers handle those.

inline constexpr std::size_t kFastHeaderBytes = 16;  // bytes from the start code both need at most

struct TPictureHeaderFields {
  std::uint16_t TemporalReference;
  std::uint8_t CodingType;
  std::uint16_t VbvDelay;
};

struct TCodingExtensionFields {
  std::uint8_t PictureStructure;
  bool TopFieldFirst;
  bool RepeatFirstField;
  bool ProgressiveFrame;
};

// `bytes` starts with 00 00 01 00. `scratch` is the caller's record, reused from picture to
// picture (the reader overwrites what it reads; clearing its extra bytes each time would cost
// more than the rest).
inline std::optional<TPictureHeaderFields> ReadPictureHeaderFields(const std::uint8_t* bytes, std::size_t available,
                                                                   TPictureHeaderRec& scratch) {
  if (available < kFastHeaderBytes) return std::nullopt;
  TByteWindowReader reader(bytes, kFastHeaderBytes);
  TPictureHeaderRec& rec = scratch;
  ReadPictureHeader(reader, rec, nullptr);
  if (rec.extra_count > 0) return std::nullopt;
  return TPictureHeaderFields{rec.temporal_reference, rec.picture_coding_type, rec.vbv_delay};
}

// `bytes` starts with 00 00 01 B5 and a picture coding extension's identifier.
inline std::optional<TCodingExtensionFields> ReadCodingExtensionFields(const std::uint8_t* bytes, std::size_t available) {
  if (available < kFastHeaderBytes) return std::nullopt;
  TByteWindowReader reader(bytes, kFastHeaderBytes);
  TPictureCodingExtensionRec rec;
  ReadPictureCodingExtension(reader, rec, nullptr);
  return TCodingExtensionFields{rec.picture_structure, rec.top_field_first != 0, rec.repeat_first_field != 0,
                                rec.progressive_frame != 0};
}

} // namespace varlow
