#include "support/utf8.h"

namespace support::utf8 {

Rune decode(std::string_view s) {
  constexpr Rune kInvalid{kReplacement, 1, false};
  auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char b0 = byte(0);
  if (b0 < 0x80) return {b0, 1, true};
  size_t size;
  char32_t value;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    size = 2;
    value = b0 & 0x1F;
    min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    size = 3;
    value = b0 & 0x0F;
    min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    size = 4;
    value = b0 & 0x07;
    min = 0x10000;
  } else {
    return kInvalid;
  }
  if (s.size() < size) return kInvalid;
  for (size_t i = 1; i < size; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return kInvalid;
    value = value << 6 | (byte(i) & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return kInvalid;
  return {value, size, true};
}

void append(std::string& out, char32_t r) {
  if (r < 0x80) {
    out += static_cast<char>(r);
  } else if (r < 0x800) {
    out += static_cast<char>(0xC0 | (r >> 6));
    out += static_cast<char>(0x80 | (r & 0x3F));
  } else if (r < 0x10000) {
    out += static_cast<char>(0xE0 | (r >> 12));
    out += static_cast<char>(0x80 | ((r >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (r & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (r >> 18));
    out += static_cast<char>(0x80 | ((r >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((r >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (r & 0x3F));
  }
}

}  // namespace support::utf8
