// Unicode lower-casing, character by character, with the simple (one to one)
// mappings of the Unicode Character Database: "İ" becomes "i" and the Kelvin
// sign U+212A becomes "k", so a text may turn into ASCII that it did not start as.
#pragma once

#include <string>
#include <string_view>

namespace support {

// The simple lower-case mapping of one code point.
char32_t toLower(char32_t r);

// The text with every character lower-cased; bytes that are not valid UTF-8
// each become U+FFFD.
std::string toLowerUnicode(std::string_view s);

// Whether the two texts are equal when ASCII letters are compared without
// regard to case; every other byte must match exactly.
bool equalsIgnoringASCIICase(std::string_view a, std::string_view b);

}  // namespace support
