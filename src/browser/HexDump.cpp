#include <array>

#include "browser/PackDetails.h"
#include "support/Format.h"
#include "support/Trap.h"

namespace varlow {

namespace {

constexpr std::size_t kHexColumn = 60;  // width the hex part is padded to before the text column

// Unicode of the code page 1251 characters 0x80..0xFF, the set the dump's font shows them in.
constexpr std::array<char16_t, 128> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AddLine(std::vector<std::string>& lines, std::string& hex, const std::string& text) {
  if (hex.size() < kHexColumn) hex.append(kHexColumn - hex.size(), ' ');  // a longer hex part is not cut
  lines.push_back(hex + text);
}

} // namespace

char DisplayChar(std::uint8_t byte) { return byte <= 0x13 ? '.' : static_cast<char>(byte); }

std::string Cp1251ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  for (char ch : text) {
    const auto b = static_cast<std::uint8_t>(ch);
    AppendUtf8(out, b < 0x80 ? char32_t{b} : char32_t{kCp1251High[b - 0x80u]});
  }
  return out;
}

bool MemToStrLines2(const std::uint8_t* data, std::int32_t count, std::vector<std::string>* lines,
                    std::int64_t startOffset) {
  bool result = false;
  Trap("MemToStrLines2", [&] {
    if (count <= 0 || data == nullptr || lines == nullptr) return;
    std::string hex;
    std::string text;
    for (std::int32_t i = 0; i < count; ++i) {
      if (i % 16 == 0) {
        if (i > 0) AddLine(*lines, hex, text);
        hex = HexUpper(static_cast<std::uint64_t>(startOffset + i), 8) + "   ";
        text.clear();
      }
      hex += HexUpper(data[i], 2);
      hex += ' ';
      text += DisplayChar(data[i]);
    }
    AddLine(*lines, hex, text);
    result = true;
  });
  return result;
}

} // namespace varlow
