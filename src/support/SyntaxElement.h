#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace varlow {

// What a tree node stands for.
enum class TElementKind : std::uint8_t {
  Field,   // one syntax element read from the bits: a value with a position and a width
  Group,   // a structure holding other nodes (a header, a macroblock, a block)
  Damage,  // where the data stops making sense
};

// How a node's text is made from its data. The texts are the ones the program has always shown,
// so a few elements keep their own spelling.
enum class TElementForm : std::uint8_t {
  Decimal,    // "name[i][j] = value (N bits)"
  StartCode,  // "name = $000001B3 (32 bits)": eight upper-case hexadecimal digits
  Noted,      // "name = value (note) (N bits)": the value and a reading of it (a time code)
  Count,      // "name - value x (1 bit)": how many times a one-bit element repeats
  RunLevel,   // "Run = r, Level = l (N bits)"
  Escape,     // "Escape: Run = r, Level = l (N bits)"
  Width,      // "label (N bits)": an element without a value worth showing (end of block)
  Title,      // "label", "label value" or "label note": a group's heading
  Text,       // the note alone: a message, a matrix row, a list of bytes
};

// How the width after an element reads.
enum class TWidthUnit : std::uint8_t {
  Natural,  // " (1 bit)", " (N bits)"
  Bits,     // always " (N bits)": the variable-length codes have always read so, even at 1
  Bit,      // always " (N bit)": a few two-bit fields have always read so
};

// One node of a syntax tree as data: the element's name in the standard's words, its indices,
// value, place and width, and how its text reads. Producers fill it; ElementText makes the text,
// the same for the window, the command-line tool, JSON and tests.
//
// Name, Label and Note are views: they must outlive the call they are passed to (sinks that
// keep them copy them, or rely on their pointing at string literals for Name and Label).
struct TElement {
  static constexpr std::int64_t kNoPosition = -1;

  TElementKind Kind = TElementKind::Field;
  TElementForm Form = TElementForm::Decimal;
  TWidthUnit Unit = TWidthUnit::Natural;
  std::uint8_t IndexCount = 0;
  std::int32_t Index[3] = {};
  std::string_view Name;   // the standard's element name ("frame_pred_frame_dct"), a group's name
  std::string_view Label;  // the text shown for the name where it differs from it
  std::string_view Note;   // the reading of a Noted value, a heading's tail, a Text node's text
  bool HasValue = false;
  std::int64_t Value = 0;  // a run/level code's level
  std::int32_t Run = 0;    // a run/level code's run
  std::int64_t BitPos = kNoPosition;
  std::int32_t BitWidth = 0;
  std::int32_t TextWidth = -1;  // the width the text gives where it differs from BitWidth; -1: BitWidth

  // A field of `width` bits at `bitPos` holding `value`.
  static TElement Field(std::string_view name, std::int64_t value, std::int64_t bitPos, std::int32_t width) {
    TElement e;
    e.Name = name;
    e.HasValue = true;
    e.Value = value;
    e.BitPos = bitPos;
    e.BitWidth = width;
    return e;
  }
  // A 32-bit start code at `bitPos`.
  static TElement Code(std::string_view name, std::uint32_t code, std::int64_t bitPos) {
    TElement e = Field(name, code, bitPos, 32);
    e.Form = TElementForm::StartCode;
    return e;
  }
  // A run/level code: `width` bits at `bitPos`, sign included.
  static TElement Coefficient(std::int32_t run, std::int64_t level, std::int64_t bitPos, std::int32_t width) {
    TElement e = Field("dct_coefficient", level, bitPos, width);
    e.Form = TElementForm::RunLevel;
    e.Unit = TWidthUnit::Bits;
    e.Run = run;
    return e;
  }
  // A group headed `label` (the name itself when empty).
  static TElement Group(std::string_view name, std::string_view label = {}, std::int64_t bitPos = kNoPosition,
                        std::int32_t width = 0) {
    TElement e;
    e.Kind = TElementKind::Group;
    e.Form = TElementForm::Title;
    e.Name = name;
    e.Label = label;
    e.BitPos = bitPos;
    e.BitWidth = width;
    return e;
  }
  // A node whose text is `text` as it stands.
  static TElement Text(std::string_view name, std::string_view text, std::int64_t bitPos = kNoPosition,
                       std::int32_t width = 0) {
    TElement e;
    e.Form = TElementForm::Text;
    e.Name = name;
    e.Note = text;
    e.BitPos = bitPos;
    e.BitWidth = width;
    return e;
  }
  // A damage node at `bitPos` with its message.
  static TElement Damage(std::string_view message, std::int64_t bitPos) {
    TElement e = Text({}, message, bitPos, 0);
    e.Kind = TElementKind::Damage;
    return e;
  }

  TElement& Indexed(std::initializer_list<std::int32_t> indices) {
    IndexCount = 0;
    for (std::int32_t i : indices)
      if (IndexCount < 3) Index[IndexCount++] = i;
    return *this;
  }
  TElement& Labelled(std::string_view label) {
    Label = label;
    return *this;
  }
  TElement& Numbered(std::int64_t number) {
    HasValue = true;
    Value = number;
    return *this;
  }
  TElement& Noted(std::string_view note) {
    Note = note;
    return *this;
  }
  TElement& As(TElementForm form) {
    Form = form;
    return *this;
  }
  TElement& In(TWidthUnit unit) {
    Unit = unit;
    return *this;
  }
  TElement& Stating(std::int32_t textWidth) {
    TextWidth = textWidth;
    return *this;
  }
};

// The text of a node, the one place where element data becomes text.
std::string ElementText(const TElement& element);
// The element's name with its indices as the standard writes them: "f_code[1][0]".
std::string ElementName(const TElement& element);

}  // namespace varlow
