// Coded block pattern, blocks, DC sizes and run/level codes.
#include "slice/MPEGVideoViewer.h"
#include "slice/SyntaxReaders.h"
#include "support/Trap.h"

namespace varlow {

bool TMPEGVideoViewer::DecodeCodedBlockPattern() {
  return Trap("TMPEGVideoViewer.DecodeCodedBlockPattern", [&] {
    TBitStream4& bs = FBitStream;
    FCodedBlockPatternNode = Add(FMacroBlockNode, TElement::Group("coded_block_pattern", "Coded Block Pattern"));
    std::int64_t pos = Position();
    TCodeRead cbp = PeekCodedBlockPattern(bs, FCBPTable);
    if (!cbp.Valid) MarkDamage(FCodedBlockPatternNode, pos, "coded_block_pattern");
    coded_block_pattern_420 = cbp.Value;
    AddCode(FCodedBlockPatternNode, "coded_block_pattern_420", cbp.Value, pos, cbp.Length);
    bs.DumpBits(cbp.Length);
    if (chroma_format == 2) {
      pos = Position();
      coded_block_pattern_1 = static_cast<std::int32_t>(bs.ReadBits(2));
      AddField(FCodedBlockPatternNode, "coded_block_pattern_1", coded_block_pattern_1, pos, 2);
    } else if (chroma_format == 3) {
      pos = Position();
      coded_block_pattern_2 = static_cast<std::int32_t>(bs.ReadBits(6));
      AddField(FCodedBlockPatternNode, "coded_block_pattern_2", coded_block_pattern_2, pos, 6);
    }
    // Flags are only set here: the modes set all of them to macroblock_intra before.
    for (std::size_t i = 0; i < 6; ++i)
      if ((coded_block_pattern_420 >> (5 - i)) & 1) FBlockCoded[i] = true;
    if (chroma_format == 2) {
      if (coded_block_pattern_1 & 2) FBlockCoded[6] = true;
      if (coded_block_pattern_1 & 1) FBlockCoded[7] = true;
    }
  });
}

// One block: intra DC size and differential, then the run/level list. P and B macroblocks show
// blocks that the coded block pattern leaves out as "not coded".
bool TMPEGVideoViewer::DecodeBlock(std::int32_t i, bool checkCoded) {
  if (checkCoded && !FBlockCoded[static_cast<std::size_t>(i)]) {
    FBlockNode = Add(FMacroBlockNode, TElement::Group("block", "Block").Noted(NotCodedBlockName(i)));
    return true;
  }
  FBlockNode = Add(FMacroBlockNode, TElement::Group("block", "Block").Noted(BlockName(i)));
  const NodeId node = FBlockNode;
  const std::int64_t start = Position();
  const bool explained = ExplainBlockBits(i);
  CloseRange(node, start);  // a block that ends on a bad code spans the bits read up to it
  return explained;
}

// The bits of a coded block: intra DC size and differential, then its run/level codes.
bool TMPEGVideoViewer::ExplainBlockBits(std::int32_t i) {
  TBitStream4& bs = FBitStream;
  if (macroblock_intra) {
    std::int64_t pos = Position();
    const bool luminance = i < 4;
    TCodeRead size = luminance ? PeekDctDcSizeLuminance(bs) : PeekDctDcSizeChrominance(bs);
    if (!size.Valid) MarkDamage(FBlockNode, pos, luminance ? "dct_dc_size_luminance" : "dct_dc_size_chrominance");
    bs.DumpBitsNoCheck(size.Length);
    dct_dc_size = size.Value;
    AddCode(FBlockNode, luminance ? "dct_dc_size_luminance" : "dct_dc_size_chrominance", size.Value, pos, size.Length);
    if (dct_dc_size != 0) {
      pos = Position();
      dct_dc_differential = static_cast<std::int32_t>(bs.ReadBits(dct_dc_size));
      AddCode(FBlockNode, "dct_dc_differential", dct_dc_differential, pos, dct_dc_size);
    }
    return DecodeIntraCoefficients(intra_vlc_format == 1);
  }
  return DecodeNonIntraCoefficients();
}

bool TMPEGVideoViewer::DecodeIntraCoefficients(bool tableB15) {
  FCoefficientsNode = Add(FBlockNode, TElement::Group("coefficients", tableB15 ? "Coefficients (B-15) intra"
                                                                               : "Coefficients (B-14) intra"));
  // Scan position 0 was the DC coefficient.
  return DecodeCoefficientLoop(tableB15 ? FB15Table : FB14Table, 1, false);
}

bool TMPEGVideoViewer::DecodeNonIntraCoefficients() {
  TBitStream4& bs = FBitStream;
  FCoefficientsNode = Add(FBlockNode, TElement::Group("coefficients", "Coefficients (B-14) non intra"));
  std::int32_t n = 0;
  if (PeekNonIntraFirstShortCode(bs)) {
    // The first coefficient's short form: the bit 1 and a sign for run 0, level 1.
    std::int64_t pos = Position();
    bs.ReadBits(1);
    std::int32_t level = bs.ReadBits(1) ? -1 : 1;
    Add(FCoefficientsNode, TElement::Coefficient(0, level, pos, 2));
    n = 1;
  }
  return DecodeCoefficientLoop(FB14Table, n, true);
}

// The run/level codes from scan position n to the end of block. False on a code no table
// knows (nothing consumed); a run that takes the position past 63 ends the list with the code
// unread. Both leave a damage node where they stopped.
bool TMPEGVideoViewer::DecodeCoefficientLoop(const TDctTableEntry* table, std::int32_t n, bool signByReadBits) {
  TBitStream4& bs = FBitStream;
  const bool b15 = table == FB15Table;
  for (;;) {
    std::int64_t pos = Position();
    TCoefficientRead c = PeekDctCoefficient(bs, table);
    switch (c.Kind) {
      case TCoefficientKind::EndOfBlock:
        bs.DumpBitsNoCheck(c.Length);
        Add(FCoefficientsNode, TElement::Field("end_of_block", 0, pos, c.Length)
                                   .Labelled("End Of Block")
                                   .As(TElementForm::Width)
                                   .In(TWidthUnit::Bits));
        return true;
      case TCoefficientKind::Escape: {
        bs.DumpBitsNoCheck(c.Length);
        std::int32_t run = static_cast<std::int32_t>(bs.ReadBits(6));
        n += run;
        if (n >= 64) {
          MarkDamage(FCoefficientsNode, pos, "End Of Block: the escape's run passes the 64th coefficient");
          return true;
        }
        std::int32_t level = 0;
        std::int32_t width = kEscapeBits;
        if (FMpeg1) {
          std::int32_t levelBits = 0;
          level = ReadMpeg1EscapeLevel(bs, levelBits);
          width = c.Length + 6 + levelBits;
        } else {
          level = EscapeLevel(bs.ReadBits(12));
        }
        Add(FCoefficientsNode, TElement::Coefficient(run, level, pos, width).As(TElementForm::Escape));
        break;
      }
      case TCoefficientKind::Invalid:
        MarkDamage(FCoefficientsNode, pos, b15 ? "a DCT coefficient code of table B-15" : "a DCT coefficient code of table B-14");
        return false;
      case TCoefficientKind::RunLevel: {
        n += c.Run;
        if (n >= 64) {
          MarkDamage(FCoefficientsNode, pos, "End Of Block: the code's run passes the 64th coefficient");
          return true;
        }
        bs.DumpBitsNoCheck(c.Length);
        std::uint32_t sign = signByReadBits ? bs.ReadBits(1) : bs.ReadBit();
        std::int32_t level = sign ? -c.Level : c.Level;
        // The text gives the code length without the sign; the node's width includes it.
        Add(FCoefficientsNode, TElement::Coefficient(c.Run, level, pos, c.Length + 1).Stating(c.Length));
        break;
      }
    }
    ++n;
  }
}

}  // namespace varlow
