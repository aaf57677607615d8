#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>

namespace varlow {

// The few fields of a picture header and of a picture coding extension that a picture record
// keeps, read straight from the bytes: the scan meets one of each per picture, and the general
// header parsers cost more than the rest of its work on a picture. Both read only headers that
// lie wholly within `available` bytes and return nothing otherwise (or, for a picture header,
// when extra_information_picture bytes follow): the general parsers handle those.

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

namespace detail {
inline std::uint64_t BigEndian64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int k = 0; k < 8; ++k) v = v << 8 | p[k];
  return v;
}
} // namespace detail

// `bytes` starts with 00 00 01 00.
inline std::optional<TPictureHeaderFields> ReadPictureHeaderFields(const std::uint8_t* bytes, std::size_t available) {
  if (available < kFastHeaderBytes) return std::nullopt;
  // temporal_reference(10) picture_coding_type(3) vbv_delay(16), then the vector codes of P
  // and B pictures (4 bits each), then extra_bit_picture.
  const std::uint64_t w = detail::BigEndian64(bytes + 4);
  const auto type = static_cast<std::uint8_t>(w >> 51 & 7);
  const int extraBit = 29 + (type == 2 || type == 3 ? 4 : 0) + (type == 3 ? 4 : 0);
  if ((w >> (63 - extraBit) & 1) != 0) return std::nullopt;
  return TPictureHeaderFields{static_cast<std::uint16_t>(w >> 54), type, static_cast<std::uint16_t>(w >> 35 & 0xFFFF)};
}

// `bytes` starts with 00 00 01 B5 and a picture coding extension's identifier.
inline std::optional<TCodingExtensionFields> ReadCodingExtensionFields(const std::uint8_t* bytes, std::size_t available) {
  if (available < kFastHeaderBytes) return std::nullopt;
  // identifier(4) f_code(16) intra_dc_precision(2) picture_structure(2) top_field_first
  // frame_pred_frame_dct concealment_motion_vectors q_scale_type intra_vlc_format
  // alternate_scan repeat_first_field chroma_420_type progressive_frame
  const std::uint8_t b6 = bytes[6], b7 = bytes[7], b8 = bytes[8];
  return TCodingExtensionFields{static_cast<std::uint8_t>(b6 & 3), (b7 & 0x80) != 0, (b7 & 0x02) != 0,
                                (b8 & 0x80) != 0};
}

} // namespace varlow
