// UTF-8 one character at a time, with the rules of RFC 3629: overlong forms,
// surrogates and values above U+10FFFF are invalid, and an invalid byte counts
// as one character of its own.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace support::utf8 {

inline constexpr char32_t kReplacement = 0xFFFD;

struct Rune {
  char32_t value;  // kReplacement when not valid
  size_t size;     // bytes taken from the text: 1 for an invalid byte
  bool valid;
};

// The first character of a non-empty text.
Rune decode(std::string_view s);

// Appends the UTF-8 form of a valid code point.
void append(std::string& out, char32_t r);

}  // namespace support::utf8
