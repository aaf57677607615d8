#include "syntax/HeaderParsers.h"

#include "support/Format.h"
#include "support/Trap.h"

namespace varlow {

namespace {

// Bits hi..lo of w, right-aligned.
constexpr std::uint32_t Bits(std::uint32_t w, int hi, int lo) {
  return (w >> lo) & ((hi - lo + 1) >= 32 ? 0xFFFFFFFFu : (1u << (hi - lo + 1)) - 1u);
}

template <class T>
constexpr T Narrow(std::uint32_t v) {
  return static_cast<T>(v);
}

} // namespace

bool Parse_sequence_header(TBitStream3& reader, TSequenceHeaderRec& rec, std::int32_t& headerLength) {
  return Trap("Parse_sequence_header", [&] {
    headerLength = 12;
    rec.sequence_header_code = reader.ReadAligned32Bit();
    // horizontal_size_value(12) vertical_size_value(12) aspect_ratio_information(4) frame_rate_code(4)
    const std::uint32_t w = reader.ReadAligned32Bit();
    rec.horizontal_size_value = Bits(w, 31, 20);
    rec.vertical_size_value = Bits(w, 19, 8);
    rec.aspect_ratio_information = Bits(w, 7, 4);
    rec.frame_rate_code = Bits(w, 3, 0);
    // bit_rate_value(18) marker_bit(1) vbv_buffer_size_value(10) constrained_parameters_flag(1)
    const std::uint32_t v = reader.ReadBits(30);
    rec.bit_rate_value = Bits(v, 29, 12);
    rec.marker_bit = Bits(v, 11, 11);
    rec.vbv_buffer_size_value = Bits(v, 10, 1);
    rec.constrained_parameters_flag = Bits(v, 0, 0);
    rec.load_intra_quantiser_matrix = reader.ReadBit();
    if (rec.load_intra_quantiser_matrix == 1) {
      // Straddles bytes: each value starts one bit into a byte.
      for (auto& q : rec.intra_quantiser_matrix) q = Narrow<std::uint8_t>(reader.Read8Bits());
      headerLength += 64;
    }
    rec.load_non_intra_quantiser_matrix = reader.ReadBit();
    if (rec.load_non_intra_quantiser_matrix == 1) {
      // 96 or 608 bits read so far: the reader stands on a byte boundary.
      for (auto& q : rec.non_intra_quantiser_matrix) q = Narrow<std::uint8_t>(reader.ReadAligned8Bit());
      headerLength += 64;
    }
  });
}

bool Parse_sequence_extension(TBitStream3& reader, TSequenceExtensionRec& rec) {
  return Trap("Parse_sequence_extension", [&] {
    rec.extension_start_code = reader.ReadAligned32Bit();
    const std::uint32_t w = reader.ReadAligned32Bit();
    rec.extension_start_code_identifier = Narrow<std::uint8_t>(Bits(w, 31, 28));
    rec.profile_and_level_indication = Narrow<std::uint8_t>(Bits(w, 27, 20));
    rec.progressive_sequence = Narrow<std::uint8_t>(Bits(w, 19, 19));
    rec.chroma_format = Narrow<std::uint8_t>(Bits(w, 18, 17));
    rec.horizontal_size_extension = Narrow<std::uint8_t>(Bits(w, 16, 15));
    rec.vertical_size_extension = Narrow<std::uint8_t>(Bits(w, 14, 13));
    rec.bit_rate_extension = Narrow<std::uint16_t>(Bits(w, 12, 1));
    rec.marker_bit = Narrow<std::uint8_t>(Bits(w, 0, 0));
    // The last 16 bits are peeked: the reader stays after the first eight bytes.
    const std::uint32_t h = reader.NextAligned16Bit();
    rec.vbv_buffer_size_extension = Narrow<std::uint8_t>(Bits(h, 15, 8));
    rec.low_delay = Narrow<std::uint8_t>(Bits(h, 7, 7));
    rec.frame_rate_extension_n = Narrow<std::uint8_t>(Bits(h, 6, 5));
    rec.frame_rate_extension_d = Narrow<std::uint8_t>(Bits(h, 4, 0));
  });
}

bool Parse_GOP_header(TBitStream3& reader, TGOPHeaderRec& rec) {
  return Trap("Parse_GOP_header", [&] {
    rec.group_start_code = reader.ReadAligned32Bit();
    const std::uint32_t w = reader.ReadAligned32Bit();
    rec.time_code = Bits(w, 31, 7);
    rec.closed_gop = Narrow<std::uint8_t>(Bits(w, 6, 6));
    rec.broken_link = Narrow<std::uint8_t>(Bits(w, 5, 5));
  });
}

std::string TimeCodeToStr(std::uint32_t time_code) {
  return Format("%.2d:%.2d:%.2d:%.2d",
                {Bits(time_code, 23, 19), Bits(time_code, 18, 13), Bits(time_code, 11, 6), Bits(time_code, 5, 0)});
}

bool Parse_picture_header(TBitStream3& reader, TPictureHeaderRec& rec) {
  return Trap("Parse_picture_header", [&] {
    rec.picture_start_code = reader.ReadAligned32Bit();
    rec.temporal_reference = Narrow<std::uint16_t>(reader.Read10Bits());
    rec.picture_coding_type = Narrow<std::uint8_t>(reader.Read3Bits());
    rec.vbv_delay = Narrow<std::uint16_t>(reader.Read16Bits());
    if (rec.picture_coding_type == 2 || rec.picture_coding_type == 3) {
      rec.full_pel_forward_vector = Narrow<std::uint8_t>(reader.ReadBit());
      rec.forward_f_code = Narrow<std::uint8_t>(reader.Read3Bits());
    }
    if (rec.picture_coding_type == 3) {
      rec.full_pel_backward_vector = Narrow<std::uint8_t>(reader.ReadBit());
      rec.backward_f_code = Narrow<std::uint8_t>(reader.Read3Bits());
    }
    // Every extra byte is counted and consumed; the record keeps the first ones it has room for.
    std::int32_t i = 0;
    while (reader.NextBit() == 1) {
      const auto flag = Narrow<std::uint8_t>(reader.ReadBit());
      const auto byte = Narrow<std::uint8_t>(reader.Read8Bits());
      if (i < kMaxExtraInformationBytes) {
        rec.extra_bit_picture_flags[static_cast<std::size_t>(i)] = flag;
        rec.extra_information_picture[static_cast<std::size_t>(i)] = byte;
      }
      ++i;
    }
    rec.extra_count = i;
    rec.extra_bit_picture = Narrow<std::uint8_t>(reader.ReadBit());
  });
}

std::int32_t PictureHeaderLength(const TPictureHeaderRec& rec) {
  std::int64_t bits = 62 + std::int64_t{9} * rec.extra_count;
  if (rec.picture_coding_type == 2) bits += 4;
  if (rec.picture_coding_type == 3) bits += 8;
  std::int64_t bytes = bits / 8;
  const std::int64_t rest = bits % 8;
  if (rest > 4 || (rest == 4 && bytes % 2 == 1)) ++bytes;
  return static_cast<std::int32_t>(bytes);
}

bool Parse_picture_coding_extension(TBitStream3& reader, TPictureCodingExtensionRec& rec) {
  return Trap("Parse_picture_coding_extension", [&] {
    rec.extension_start_code = reader.ReadAligned32Bit();
    const std::uint32_t w = reader.ReadAligned32Bit();
    rec.extension_start_code_identifier = Narrow<std::uint8_t>(Bits(w, 31, 28));
    rec.f_code[0][0] = Narrow<std::uint8_t>(Bits(w, 27, 24));
    rec.f_code[0][1] = Narrow<std::uint8_t>(Bits(w, 23, 20));
    rec.f_code[1][0] = Narrow<std::uint8_t>(Bits(w, 19, 16));
    rec.f_code[1][1] = Narrow<std::uint8_t>(Bits(w, 15, 12));
    rec.intra_dc_precision = Narrow<std::uint8_t>(Bits(w, 11, 10));
    rec.picture_structure = Narrow<std::uint8_t>(Bits(w, 9, 8));
    rec.top_field_first = Narrow<std::uint8_t>(Bits(w, 7, 7));
    rec.frame_pred_frame_dct = Narrow<std::uint8_t>(Bits(w, 6, 6));
    rec.concealment_motion_vectors = Narrow<std::uint8_t>(Bits(w, 5, 5));
    rec.q_scale_type = Narrow<std::uint8_t>(Bits(w, 4, 4));
    rec.intra_vlc_format = Narrow<std::uint8_t>(Bits(w, 3, 3));
    rec.alternate_scan = Narrow<std::uint8_t>(Bits(w, 2, 2));
    rec.repeat_first_field = Narrow<std::uint8_t>(Bits(w, 1, 1));
    rec.chroma_420_type = Narrow<std::uint8_t>(Bits(w, 0, 0));
    rec.progressive_frame = Narrow<std::uint8_t>(reader.ReadBit());
    rec.composite_display_flag = Narrow<std::uint8_t>(reader.ReadBit());
    if (rec.composite_display_flag == 1) {
      rec.v_axis = Narrow<std::uint8_t>(reader.ReadBit());
      rec.field_sequence = Narrow<std::uint8_t>(reader.Read3Bits());
      rec.sub_carrier = Narrow<std::uint8_t>(reader.ReadBit());
      rec.burst_amplitude = Narrow<std::uint8_t>(reader.Read7Bits());
      rec.sub_carrier_phase = Narrow<std::uint8_t>(reader.Read8Bits());
    }
  });
}

bool next_start_codeBS(TBitStream3& reader, std::uint32_t code) {
  bool found = false;
  Trap("next_start_codeBS", [&] {
    reader.ByteAlign();
    while (!reader.Error()) {
      // NextAligned32Bit returns 0 on a shortage, so a search for code 0 must check the flag.
      const std::uint32_t next = reader.NextAligned32Bit();
      if (!reader.Error() && next == code) {
        found = true;
        return;
      }
      reader.SkipAlignedByte();
    }
  });
  return found;
}

} // namespace varlow
