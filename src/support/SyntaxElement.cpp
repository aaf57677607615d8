#include "support/SyntaxElement.h"

#include <charconv>

namespace varlow {

namespace {

void AppendNumber(std::string& out, std::int64_t value) {
  char buf[24];
  const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
  out.append(buf, end);
}

void AppendWidth(std::string& out, std::int32_t width, TWidthUnit unit) {
  out += " (";
  AppendNumber(out, width);
  switch (unit) {
    case TWidthUnit::Natural:
      out += width == 1 ? " bit)" : " bits)";
      break;
    case TWidthUnit::Bits:
      out += " bits)";
      break;
    case TWidthUnit::Bit:
      out += " bit)";
      break;
  }
}

void AppendName(std::string& out, const TElement& e) {
  if (!e.Label.empty()) {
    out += e.Label;
    return;
  }
  out += e.Name;
  for (std::uint8_t i = 0; i < e.IndexCount; ++i) {
    out += '[';
    AppendNumber(out, e.Index[i]);
    out += ']';
  }
}

}  // namespace

std::string ElementName(const TElement& element) {
  TElement named = element;
  named.Label = {};
  std::string out;
  AppendName(out, named);
  return out;
}

std::string ElementText(const TElement& e) {
  const std::int32_t width = e.TextWidth >= 0 ? e.TextWidth : e.BitWidth;
  std::string out;
  out.reserve(48);
  switch (e.Form) {
    case TElementForm::Decimal:
    case TElementForm::Noted:
      AppendName(out, e);
      out += " = ";
      AppendNumber(out, e.Value);
      if (e.Form == TElementForm::Noted) {
        out += " (";
        out += e.Note;
        out += ')';
      }
      AppendWidth(out, width, e.Unit);
      break;
    case TElementForm::StartCode: {
      static constexpr char kDigits[] = "0123456789ABCDEF";
      AppendName(out, e);
      out += " = $";
      for (int shift = 28; shift >= 0; shift -= 4) out += kDigits[(e.Value >> shift) & 0xF];
      AppendWidth(out, width, e.Unit);
      break;
    }
    case TElementForm::Count:
      AppendName(out, e);
      out += " - ";
      AppendNumber(out, e.Value);
      out += " x";
      AppendWidth(out, 1, e.Unit);
      break;
    case TElementForm::RunLevel:
    case TElementForm::Escape:
      if (e.Form == TElementForm::Escape) out += "Escape: ";
      out += "Run = ";
      AppendNumber(out, e.Run);
      out += ", Level = ";
      AppendNumber(out, e.Value);
      AppendWidth(out, width, e.Unit);
      break;
    case TElementForm::Width:
      AppendName(out, e);
      AppendWidth(out, width, e.Unit);
      break;
    case TElementForm::Title:
      AppendName(out, e);
      if (e.HasValue) {
        out += ' ';
        AppendNumber(out, e.Value);
      }
      if (!e.Note.empty()) {
        out += ' ';
        out += e.Note;
      }
      break;
    case TElementForm::Text:
      out += e.Note;
      break;
  }
  return out;
}

}  // namespace varlow
