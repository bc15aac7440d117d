#include "support/text.h"

#include "support/utf8.h"

namespace support {
namespace {

bool isWhiteSpace(char32_t c) {
  switch (c) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

}  // namespace

std::string_view trimSpace(std::string_view s) {
  while (!s.empty()) {
    utf8::Rune r = utf8::decode(s);
    if (!r.valid || !isWhiteSpace(r.value)) break;
    s.remove_prefix(r.size);
  }
  while (!s.empty()) {
    // The last character starts at the last byte that is not a continuation.
    size_t start = s.size() - 1;
    while (start > 0 && s.size() - start < 4 &&
           (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) {
      --start;
    }
    utf8::Rune r = utf8::decode(s.substr(start));
    if (!r.valid || r.size != s.size() - start || !isWhiteSpace(r.value)) break;
    s.remove_suffix(r.size);
  }
  return s;
}

}  // namespace support
