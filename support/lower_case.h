// Letter case, character by character, with the simple (one to one) mappings
// of the Unicode Character Database (support/unicode_case_tables.inc, made by
// scripts/gen_case_tables.py): "İ" lower-cases to "i" and the Kelvin sign
// U+212A to "k", so a text may turn into ASCII that it did not start as.
#pragma once

#include <string>
#include <string_view>

namespace support {

// The Unicode version the case tables were generated from ("15.0.0").
std::string_view caseTablesUnicodeVersion();

// The simple lower-case mapping of one code point.
char32_t toLower(char32_t r);

// The text with every character lower-cased; bytes that are not valid UTF-8
// each become U+FFFD.
std::string toLowerUnicode(std::string_view s);

// The simple case folding of one code point: characters that differ only in
// letter case fold to the same one ("K", "k" and the Kelvin sign to "k"; "S",
// "s" and the long s U+017F to "s"). Folds that change the length ("ß" to
// "ss") and the Turkic dotted and dotless i are not part of it.
char32_t foldCase(char32_t r);

// Whether the two texts are equal without regard to letter case: character by
// character under the simple case folding, as Go's strings.EqualFold. A byte
// that is not valid UTF-8 equals only the same byte.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Whether the two texts are equal when ASCII letters are compared without
// regard to case; every other byte must match exactly. For ASCII keywords
// that are compared byte for byte, such as a scheme prefix of known length.
bool equalsIgnoringASCIICase(std::string_view a, std::string_view b);

}  // namespace support
