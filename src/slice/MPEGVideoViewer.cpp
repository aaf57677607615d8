#include "slice/MPEGVideoViewer.h"

#include "slice/SyntaxReaders.h"
#include "support/Log.h"
#include "support/Trap.h"
#include "syntax/StartCodes.h"

namespace varlow {

namespace {

constexpr std::int32_t kFoundBitsShown = 16;

// Up to 16 bits of the block from `bitPos`, in groups of four ("0000 0000 01"); bits past the
// end of the block are not shown.
std::string BitsAt(const std::uint8_t* data, std::int32_t size, std::int64_t bitPos) {
  std::string bits;
  for (std::int64_t i = bitPos; i < bitPos + kFoundBitsShown && i >= 0 && i < std::int64_t{size} * 8; ++i) {
    if (i > bitPos && (i - bitPos) % 4 == 0) bits += ' ';
    bits += ((data[i / 8] >> (7 - i % 8)) & 1) ? '1' : '0';
  }
  return bits;
}

}  // namespace

TMPEGVideoViewer::TMPEGVideoViewer() {
  Trap("TMPEGVideoViewer.Create", [&] {
    const TVlcTables& tables = TVlcTables::Shared();
    FB15Table = tables.B15.Table();
    FB14Table = tables.B14.Table();
    FCBPTable = tables.CBP.Table();
    FMVTable = tables.MV.Table();
  });
}

TMPEGVideoViewer::~TMPEGVideoViewer() {
  Trap("TMPEGVideoViewer.Destroy", [] {});
}

void TMPEGVideoViewer::MarkDamage(NodeId parent, std::int64_t bitPos, std::string_view expected) {
  if (FTrace != nullptr) ++FTrace->InvalidCodes;
  if (FTreeView == nullptr) return;
  const std::string found = BitsAt(FBitStream.Data(), FBitStream.Size(), bitPos);
  const std::string message =
      found.empty() ? Format("Invalid code at bit %d: expected %s (found the end of the data)", {bitPos, expected})
                    : Format("Invalid code at bit %d: expected %s (found %s)", {bitPos, expected, found});
  FTreeView->Add(parent, TElement::Damage(message, bitPos));
}

void TMPEGVideoViewer::CloseRange(NodeId node, std::int64_t start) {
  const std::int64_t width = Position() - start;
  if (FTreeView != nullptr && node != TTreeSink::kRoot && width > 0)
    FTreeView->SetRange(node, start, static_cast<std::int32_t>(width));
}

HRESULT TMPEGVideoViewer::DecodeFrame(const std::uint8_t* Data, std::int32_t Size) {
  HRESULT result = E_FAIL;
  Trap("TMPEGVideoViewer.DecodeFrame", [&] {
    FNextX = 0;
    FNextY = 0;
    if (FBitStream.SetData(Data, Size) != S_OK) return;
    result = WalkHeaders(false);
  });
  return result;
}

HRESULT TMPEGVideoViewer::SetSlice(const std::uint8_t* Data, std::int32_t Size, std::int32_t SliceIndex) {
  HRESULT result = E_FAIL;
  Trap("TMPEGVideoViewer.SetSlice", [&] {
    FSliceIndex = SliceIndex;
    FNextX = 0;
    FNextY = 0;
    FMacroBlockCount = 0;
    FPictureDone = false;
    FPictureHeaderSeen = false;
    if (FBitStream.SetData(Data, Size) != S_OK) return;
    result = WalkHeaders(true);
  });
  return result;
}

// The walk over sequence, group and extension headers, up to the picture (DecodeFrame), or
// into it (SetSlice).
HRESULT TMPEGVideoViewer::WalkHeaders(bool explainPicture) {
  for (;;) {
    if (FBitStream.Error() || FPictureDone) return S_OK;
    if (!NextStartCode()) return E_FAIL;
    if (FBitStream.BitsLeft() <= 0) {
      FBitStream.SetError();
      return S_OK;
    }
    std::uint32_t code = FBitStream.NextAligned32Bit();
    switch (code) {
      case kSequenceHeaderCode: ParseSequenceHeader(); break;
      case kExtensionStartCode:
        FBitStream.DumpAligned32BitNoCheck();
        DispatchExtension();
        break;
      case kGroupStartCode: ParseGOPHeader(); break;
      case kUserDataStartCode: FBitStream.DumpAligned32BitNoCheck(); break;
      case kPictureStartCode:
        if (!explainPicture) return S_OK;
        DecodePicture();
        FPictureDone = true;
        break;
      default:
        LogMessage(std::string(explainPicture ? "wex: TMPEGVideoViewer.SetSlice - unknown code $"
                                              : "wex: TMPEGVideoViewer.DecodeFrame - unknown code $") +
                   HexUpper(code, 8));
        FBitStream.DumpAligned32BitNoCheck();
        break;
    }
  }
}

bool TMPEGVideoViewer::NextStartCode() { return varlow::NextStartCode(FBitStream); }

bool TMPEGVideoViewer::SkipExtension() {
  NextStartCode();
  return true;
}

// After an extension start code: the 4-bit identifier (peeked, not consumed) picks the parser.
void TMPEGVideoViewer::DispatchExtension() {
  switch (FBitStream.Next4Bits()) {
    case kSequenceExtensionId: ParseSequenceExtension(); break;
    case kPictureCodingExtensionId: ParsePictureCodingExtensionHeader(); break;
    case kQuantMatrixExtensionId:
      LogDebug("Quant Matrix Extension - to be implemented...");
      SkipExtension();
      break;
    case 2:
    case 4:
    case 5:
    case 7:
    case 9:
    case 10: SkipExtension(); break;
    default: break;  // the next start-code search steps over it
  }
}

// The picture: its header and extensions, then its slices, counted in file order; only the
// chosen one (or all, for a negative index) is explained. The walk goes on through later
// pictures of the block until a sequence, group or other non-picture code ends it.
bool TMPEGVideoViewer::DecodePicture() {
  std::int32_t i = 0;
  while (!FBitStream.Error()) {
    if (!NextStartCode()) return false;
    if (FBitStream.BitsLeft() <= 0) {
      FBitStream.SetError();
      return true;
    }
    std::uint32_t code = FBitStream.NextAligned32Bit();
    if (code == kPictureStartCode) {
      // Every slice of the picture is explained: the next picture ends the request.
      if (FSliceIndex < 0 && FPictureHeaderSeen) return true;
      ParsePictureHeader();
      FPictureHeaderSeen = true;
    } else if (code >= kFirstSliceStartCode && code <= kLastSliceStartCode) {
      bool explain = (FSliceIndex < 0 || i == FSliceIndex) && picture_coding_type >= 1 && picture_coding_type <= 3;
      if (explain) DecodeSlice(static_cast<TPictureKind>(picture_coding_type), i);
      else FBitStream.DumpAligned32BitNoCheck();  // a picture type without slices to explain, too
      ++i;
    } else if (code == kUserDataStartCode) {
      FBitStream.DumpAligned32BitNoCheck();
    } else if (code == kExtensionStartCode) {
      FBitStream.DumpAligned32BitNoCheck();
      DispatchExtension();
    } else {
      FBitStream.DumpAligned32Bit();
      return true;
    }
  }
  return true;
}

}  // namespace varlow
