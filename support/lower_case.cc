#include "support/lower_case.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "support/utf8.h"

namespace support {
namespace {

struct CaseRun {
  char32_t first;
  char32_t last;
  int32_t delta;
  uint8_t stride;
};

#include "support/unicode_case_tables.inc"

template <size_t N>
char32_t mapThrough(const CaseRun (&runs)[N], char32_t r) {
  // The last run that starts at or before r is the only one that can hold it.
  const CaseRun* run = std::upper_bound(std::begin(runs), std::end(runs), r,
                                        [](char32_t v, const CaseRun& x) { return v < x.first; });
  if (run == std::begin(runs)) return r;
  --run;
  if (r > run->last || (r - run->first) % run->stride != 0) return r;
  return static_cast<char32_t>(static_cast<int32_t>(r) + run->delta);
}

char asciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string_view caseTablesUnicodeVersion() {
  return kCaseTablesUnicodeVersion;
}

char32_t toLower(char32_t r) {
  if (r < 0x80) return static_cast<char32_t>(asciiLower(static_cast<char>(r)));
  return mapThrough(kLowerRuns, r);
}

char32_t foldCase(char32_t r) {
  // ASCII letters fold to lower case; "k" and "s" are also the folds of the
  // Kelvin sign and the long s, which the table maps.
  if (r < 0x80) return static_cast<char32_t>(asciiLower(static_cast<char>(r)));
  return mapThrough(kFoldRuns, r);
}

std::string toLowerUnicode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  while (!s.empty()) {
    utf8::Rune rune = utf8::decode(s);
    utf8::append(out, rune.valid ? toLower(rune.value) : utf8::kReplacement);
    s.remove_prefix(rune.size);
  }
  return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  while (!a.empty() && !b.empty()) {
    const auto byteA = static_cast<unsigned char>(a.front());
    const auto byteB = static_cast<unsigned char>(b.front());
    if (byteA < 0x80 && byteB < 0x80) {
      if (asciiLower(a.front()) != asciiLower(b.front())) return false;
      a.remove_prefix(1);
      b.remove_prefix(1);
      continue;
    }
    const utf8::Rune runeA = utf8::decode(a);
    const utf8::Rune runeB = utf8::decode(b);
    if (!runeA.valid || !runeB.valid) {
      if (runeA.valid || runeB.valid || byteA != byteB) return false;
    } else if (runeA.value != runeB.value && foldCase(runeA.value) != foldCase(runeB.value)) {
      return false;
    }
    a.remove_prefix(runeA.size);
    b.remove_prefix(runeB.size);
  }
  return a.empty() && b.empty();
}

bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace support
