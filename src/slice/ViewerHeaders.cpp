// The headers in front of a slice, parsed silently: only the values the slice syntax depends
// on are kept; the widths fix how many bits each consumes.
#include "slice/MPEGVideoViewer.h"
#include "support/Trap.h"

namespace varlow {

bool TMPEGVideoViewer::ParseSequenceHeader() {
  return Trap("TMPEGVideoViewer.ParseSequenceHeader", [&] {
    TBitStream4& bs = FBitStream;
    bs.ReadAligned32Bit();  // sequence_header_code
    // horizontal_size_value 12 | vertical_size_value 12 | aspect_ratio_information 4 | frame_rate_code 4
    std::uint32_t w = bs.ReadAligned32Bit();
    horizontal_size_value = static_cast<std::int32_t>(w >> 20);
    vertical_size_value = static_cast<std::int32_t>((w >> 8) & 0xFFF);
    aspect_ratio_information = static_cast<std::int32_t>((w >> 4) & 0xF);
    frame_rate_code = static_cast<std::int32_t>(w & 0xF);
    FHorizontalSize = horizontal_size_value;
    FVerticalSize = vertical_size_value;
    // bit_rate_value 18 | marker 1 | vbv_buffer_size_value 10 | constrained_parameters_flag 1
    std::uint32_t v = bs.ReadBits(30);
    bit_rate_value = static_cast<std::int32_t>(v >> 12);
    vbv_buffer_size_value = static_cast<std::int32_t>((v >> 1) & 0x3FF);
    constrained_parameters_flag = static_cast<std::int32_t>(v & 1);
    if (bs.ReadBit())
      for (int i = 0; i < 64; ++i) bs.Read8Bits();  // intra_quantiser_matrix
    if (bs.ReadBit())
      for (int i = 0; i < 64; ++i) bs.ReadAligned8BitDW();  // non_intra_quantiser_matrix, byte-aligned here
    // Until a sequence extension says otherwise, this is MPEG-1 video.
    FMpeg1 = true;
    chroma_format = 1;
    progressive_sequence = 1;
  });
}

bool TMPEGVideoViewer::ParseSequenceExtension() {
  return Trap("TMPEGVideoViewer.ParseSequenceExtension", [&] {
    // id 4 | profile_and_level 8 | progressive_sequence 1 | chroma_format 2 |
    // horizontal_size_extension 2 | vertical_size_extension 2 | bit_rate_extension 12 | marker 1
    std::uint32_t w = FBitStream.ReadAligned32Bit();
    profile_and_level_indication = static_cast<std::int32_t>((w >> 20) & 0xFF);
    progressive_sequence = static_cast<std::int32_t>((w >> 19) & 1);
    chroma_format = static_cast<std::int32_t>((w >> 17) & 3);
    FHorizontalSize |= static_cast<std::int32_t>((w >> 15) & 3) << 12;
    FVerticalSize |= static_cast<std::int32_t>((w >> 13) & 3) << 12;
    // vbv_buffer_size_extension 8 | low_delay 1 | frame_rate_extension_n 2 | frame_rate_extension_d 5
    FBitStream.ReadAligned16Bit();
    FMpeg1 = false;
  });
}

bool TMPEGVideoViewer::ParseGOPHeader() {
  return Trap("TMPEGVideoViewer.ParseGOPHeader", [&] {
    FBitStream.ReadAligned32Bit();  // group_start_code
    FBitStream.ReadAligned32Bit();  // time_code 25 | closed_gop 1 | broken_link 1 | 5 more bits
  });
}

bool TMPEGVideoViewer::ParsePictureHeader() {
  return Trap("TMPEGVideoViewer.ParsePictureHeader", [&] {
    TBitStream4& bs = FBitStream;
    bs.ReadAligned32Bit();  // picture_start_code
    temporal_reference = static_cast<std::int32_t>(bs.Read10Bits());
    picture_coding_type = static_cast<std::int32_t>(bs.Read3Bits());
    bs.Read16Bits();  // vbv_delay
    if (picture_coding_type == 2 || picture_coding_type == 3) {
      bs.ReadBit();  // full_pel_forward_vector
      forward_f_code = static_cast<std::int32_t>(bs.Read3Bits());
    }
    if (picture_coding_type == 3) {
      bs.ReadBit();  // full_pel_backward_vector
      backward_f_code = static_cast<std::int32_t>(bs.Read3Bits());
    }
    while (bs.Next1Bit() == 1) {
      bs.ReadBit();    // extra_bit_picture
      bs.Read8Bits();  // extra_information_picture
    }
    bs.ReadBit();  // extra_bit_picture
    if (FMpeg1) {
      // No picture coding extension follows: the MPEG-1 picture's fixed coding tools.
      f_code[0][0] = f_code[0][1] = forward_f_code;
      f_code[1][0] = f_code[1][1] = backward_f_code;
      intra_dc_precision = 0;
      picture_structure = 3;
      frame_pred_frame_dct = 1;
      concealment_motion_vectors = 0;
      q_scale_type = 0;
      intra_vlc_format = 0;
      alternate_scan = 0;
    }
  });
}

bool TMPEGVideoViewer::ParsePictureCodingExtensionHeader() {
  return Trap("TMPEGVideoViewer.ParsePictureCodingExtensionHeader", [&] {
    TBitStream4& bs = FBitStream;
    // id 4 | f_code 4 x 4 | intra_dc_precision 2 | picture_structure 2 | top_field_first |
    // frame_pred_frame_dct | concealment_motion_vectors | q_scale_type | intra_vlc_format |
    // alternate_scan | repeat_first_field | chroma_420_type
    std::uint32_t w = bs.ReadAligned32Bit();
    f_code[0][0] = static_cast<std::int32_t>((w >> 24) & 0xF);
    f_code[0][1] = static_cast<std::int32_t>((w >> 20) & 0xF);
    f_code[1][0] = static_cast<std::int32_t>((w >> 16) & 0xF);
    f_code[1][1] = static_cast<std::int32_t>((w >> 12) & 0xF);
    intra_dc_precision = static_cast<std::int32_t>((w >> 10) & 3);
    picture_structure = static_cast<std::int32_t>((w >> 8) & 3);
    top_field_first = static_cast<std::int32_t>((w >> 7) & 1);
    frame_pred_frame_dct = static_cast<std::int32_t>((w >> 6) & 1);
    concealment_motion_vectors = static_cast<std::int32_t>((w >> 5) & 1);
    q_scale_type = static_cast<std::int32_t>((w >> 4) & 1);
    intra_vlc_format = static_cast<std::int32_t>((w >> 3) & 1);
    alternate_scan = static_cast<std::int32_t>((w >> 2) & 1);
    progressive_frame = static_cast<std::int32_t>(bs.ReadBit());
    if (bs.ReadBit()) {  // composite_display_flag
      bs.ReadBit();      // v_axis
      bs.Read3Bits();    // field_sequence
      bs.ReadBit();      // sub_carrier
      bs.Read7Bits();    // burst_amplitude
      bs.Read8Bits();    // sub_carrier_phase
    }
  });
}

}  // namespace varlow
