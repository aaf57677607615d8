#pragma once
#include <array>
#include <cstdint>

namespace varlow {

// Raw field values of the headers the browser shows, in bitstream order, with the element names
// of ISO/IEC 13818-2. "code" fields hold the four start-code bytes read as a big-endian number.
// A record that is cleared (value-initialised) holds zeros; parsers overwrite only what they read.

struct TSequenceHeaderRec {
  std::uint32_t sequence_header_code = 0;
  std::uint32_t horizontal_size_value = 0;        // 12 bits
  std::uint32_t vertical_size_value = 0;          // 12 bits
  std::uint32_t aspect_ratio_information = 0;     // 4 bits
  std::uint32_t frame_rate_code = 0;              // 4 bits
  std::uint32_t bit_rate_value = 0;               // 18 bits
  std::uint32_t marker_bit = 0;                   // 1 bit
  std::uint32_t vbv_buffer_size_value = 0;        // 10 bits
  std::uint32_t constrained_parameters_flag = 0;  // 1 bit
  std::uint32_t load_intra_quantiser_matrix = 0;  // 1 bit
  std::array<std::uint8_t, 64> intra_quantiser_matrix{};  // zigzag scan order, as transmitted
  std::uint32_t load_non_intra_quantiser_matrix = 0;      // 1 bit
  std::array<std::uint8_t, 64> non_intra_quantiser_matrix{};
};

struct TSequenceExtensionRec {
  std::uint32_t extension_start_code = 0;
  std::uint8_t extension_start_code_identifier = 0;  // 4 bits
  std::uint8_t profile_and_level_indication = 0;     // 8 bits
  std::uint8_t progressive_sequence = 0;             // 1 bit
  std::uint8_t chroma_format = 0;                    // 2 bits
  std::uint8_t horizontal_size_extension = 0;        // 2 bits
  std::uint8_t vertical_size_extension = 0;          // 2 bits
  std::uint16_t bit_rate_extension = 0;              // 12 bits
  std::uint8_t marker_bit = 0;                       // 1 bit
  std::uint8_t vbv_buffer_size_extension = 0;        // 8 bits
  std::uint8_t low_delay = 0;                        // 1 bit
  std::uint8_t frame_rate_extension_n = 0;           // 2 bits
  std::uint8_t frame_rate_extension_d = 0;           // 5 bits
};

struct TGOPHeaderRec {
  std::uint32_t group_start_code = 0;
  std::uint32_t time_code = 0;  // 25 bits: drop_frame_flag, hours, minutes, marker, seconds, pictures
  std::uint8_t closed_gop = 0;
  std::uint8_t broken_link = 0;
};

// Most extra_information_picture bytes a picture header record holds.
inline constexpr std::int32_t kMaxExtraInformationBytes = 1024;

struct TPictureHeaderRec {
  std::uint32_t picture_start_code = 0;
  std::uint16_t temporal_reference = 0;  // 10 bits
  std::uint8_t picture_coding_type = 0;  // 3 bits
  std::uint16_t vbv_delay = 0;           // 16 bits
  std::uint8_t full_pel_forward_vector = 0;
  std::uint8_t forward_f_code = 0;  // 3 bits
  std::uint8_t full_pel_backward_vector = 0;
  std::uint8_t backward_f_code = 0;  // 3 bits
  // Number of extra_information_picture bytes in the header. A header may carry more than the
  // record holds: the count stays true (so PictureHeaderLength is right) while only the first
  // StoredExtraCount() flags and bytes are kept.
  std::int32_t extra_count = 0;
  std::array<std::uint8_t, kMaxExtraInformationBytes> extra_bit_picture_flags{};  // the 1 before each byte
  std::array<std::uint8_t, kMaxExtraInformationBytes> extra_information_picture{};
  std::uint8_t extra_bit_picture = 0;  // the closing 0

  std::int32_t StoredExtraCount() const {
    return extra_count < kMaxExtraInformationBytes ? extra_count : kMaxExtraInformationBytes;
  }
};

struct TPictureCodingExtensionRec {
  std::uint32_t extension_start_code = 0;
  std::uint8_t extension_start_code_identifier = 0;  // 4 bits
  std::uint8_t f_code[2][2] = {};                    // 4 bits each
  std::uint8_t intra_dc_precision = 0;               // 2 bits
  std::uint8_t picture_structure = 0;                // 2 bits
  std::uint8_t top_field_first = 0;
  std::uint8_t frame_pred_frame_dct = 0;
  std::uint8_t concealment_motion_vectors = 0;
  std::uint8_t q_scale_type = 0;
  std::uint8_t intra_vlc_format = 0;
  std::uint8_t alternate_scan = 0;
  std::uint8_t repeat_first_field = 0;
  std::uint8_t chroma_420_type = 0;
  std::uint8_t progressive_frame = 0;
  std::uint8_t composite_display_flag = 0;
  // Present only when composite_display_flag is 1.
  std::uint8_t v_axis = 0;
  std::uint8_t field_sequence = 0;    // 3 bits
  std::uint8_t sub_carrier = 0;
  std::uint8_t burst_amplitude = 0;   // 7 bits
  std::uint8_t sub_carrier_phase = 0; // 8 bits
};

struct TQuantMatrixExtensionRec {
  std::uint32_t extension_start_code = 0;
  std::uint8_t extension_start_code_identifier = 0;  // 4 bits
  // Matrices in zigzag scan order, as transmitted; each present only when its load flag is 1.
  std::uint8_t load_intra_quantiser_matrix = 0;
  std::array<std::uint8_t, 64> intra_quantiser_matrix{};
  std::uint8_t load_non_intra_quantiser_matrix = 0;
  std::array<std::uint8_t, 64> non_intra_quantiser_matrix{};
  std::uint8_t load_chroma_intra_quantiser_matrix = 0;
  std::array<std::uint8_t, 64> chroma_intra_quantiser_matrix{};
  std::uint8_t load_chroma_non_intra_quantiser_matrix = 0;
  std::array<std::uint8_t, 64> chroma_non_intra_quantiser_matrix{};
};

// The slice header as far as the slice data: the elements of slice() before its first
// macroblock (no priority_breakpoint: scalable streams are not read).
struct TSliceHeaderRec {
  std::uint32_t slice_start_code = 0;
  std::int32_t slice_vertical_position_extension = -1;  // 3 bits; -1: not coded (pictures up to 2800 lines)
  std::uint8_t quantiser_scale_code = 0;                // 5 bits
  std::uint8_t intra_slice_flag = 0;
  std::uint8_t intra_slice = 0;
  std::uint8_t reserved_bits = 0;    // 7 bits
  std::int32_t extra_count = 0;      // extra_information_slice bytes
  std::uint8_t extra_bit_slice = 0;  // the closing 0
};

} // namespace varlow
