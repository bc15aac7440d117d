// Small text operations shared by the shell.
#pragma once

#include <string_view>

namespace support {

// `s` without leading and trailing white space: the Unicode White_Space
// characters, so a title padded with no-break spaces is trimmed too. Bytes
// that are not UTF-8 are kept.
std::string_view trimSpace(std::string_view s);

}  // namespace support
