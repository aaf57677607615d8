// The headers in front of a slice, read silently with the header readers: only the values the
// slice syntax depends on are kept.
#include "slice/HeaderReader4.h"
#include "slice/MPEGVideoViewer.h"
#include "support/Trap.h"
#include "syntax/HeaderReaders.h"

namespace varlow {

bool TMPEGVideoViewer::ParseSequenceHeader() {
  return Trap("TMPEGVideoViewer.ParseSequenceHeader", [&] {
    THeaderReader4 reader(FBitStream);
    TSequenceHeaderRec sh;
    std::int32_t length = 0;
    ReadSequenceHeader(reader, sh, length, nullptr);
    vertical_size_value = static_cast<std::int32_t>(sh.vertical_size_value);
    FHorizontalSize = static_cast<std::int32_t>(sh.horizontal_size_value);
    FVerticalSize = vertical_size_value;
    // Until a sequence extension says otherwise, this is MPEG-1 video.
    FMpeg1 = true;
    chroma_format = 1;
  });
}

// After the extension start code, which the walk has read to dispatch on the identifier.
bool TMPEGVideoViewer::ParseSequenceExtension() {
  return Trap("TMPEGVideoViewer.ParseSequenceExtension", [&] {
    THeaderReader4 reader(FBitStream);
    TSequenceExtensionRec se;
    ReadSequenceExtension(reader, se, nullptr, TStartCodeRead::Already);
    FBitStream.DumpBits(16);  // the last two bytes, which the reader only peeks
    chroma_format = se.chroma_format;
    FHorizontalSize |= std::int32_t{se.horizontal_size_extension} << 12;
    FVerticalSize |= std::int32_t{se.vertical_size_extension} << 12;
    FMpeg1 = false;
  });
}

bool TMPEGVideoViewer::ParseGOPHeader() {
  return Trap("TMPEGVideoViewer.ParseGOPHeader", [&] {
    THeaderReader4 reader(FBitStream);
    TGOPHeaderRec gop;
    ReadGroupOfPicturesHeader(reader, gop, nullptr);
  });
}

bool TMPEGVideoViewer::ParsePictureHeader() {
  return Trap("TMPEGVideoViewer.ParsePictureHeader", [&] {
    THeaderReader4 reader(FBitStream);
    TPictureHeaderRec ph;
    ReadPictureHeader(reader, ph, nullptr);
    picture_coding_type = ph.picture_coding_type;
    if (picture_coding_type == 2 || picture_coding_type == 3) forward_f_code = ph.forward_f_code;
    if (picture_coding_type == 3) backward_f_code = ph.backward_f_code;
    if (FMpeg1) {
      // No picture coding extension follows: the MPEG-1 picture's fixed coding tools.
      f_code[0][0] = f_code[0][1] = forward_f_code;
      f_code[1][0] = f_code[1][1] = backward_f_code;
      picture_structure = 3;
      frame_pred_frame_dct = 1;
      concealment_motion_vectors = 0;
      intra_vlc_format = 0;
    }
  });
}

// After the extension start code, as for the sequence extension.
bool TMPEGVideoViewer::ParsePictureCodingExtensionHeader() {
  return Trap("TMPEGVideoViewer.ParsePictureCodingExtensionHeader", [&] {
    THeaderReader4 reader(FBitStream);
    TPictureCodingExtensionRec pce;
    ReadPictureCodingExtension(reader, pce, nullptr, TStartCodeRead::Already);
    for (int s = 0; s < 2; ++s)
      for (int t = 0; t < 2; ++t) f_code[s][t] = pce.f_code[s][t];
    picture_structure = pce.picture_structure;
    frame_pred_frame_dct = pce.frame_pred_frame_dct;
    concealment_motion_vectors = pce.concealment_motion_vectors;
    intra_vlc_format = pce.intra_vlc_format;
  });
}

}  // namespace varlow
