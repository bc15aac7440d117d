#include "support/json_scan.h"

#include <vector>

#include "support/utf8.h"

namespace support::json::scan {
namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The value of the four hex digits at `at`, or -1.
int hex4(std::string_view text, size_t at) {
  if (at + 4 > text.size()) return -1;
  int value = 0;
  for (size_t k = 0; k < 4; ++k) {
    int digit = hexDigit(text[at + k]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

Error faultAt(std::string_view text, size_t at) {
  if (at >= text.size()) return Error{"json: unexpected end of JSON input"};
  const auto byte = static_cast<unsigned char>(text[at]);
  std::string what;
  if (byte >= 0x20 && byte < 0x7f) {
    what = std::string("'") + static_cast<char>(byte) + "'";
  } else {
    static const char kHex[] = "0123456789abcdef";
    what = std::string("byte 0x") + kHex[byte >> 4] + kHex[byte & 0xf];
  }
  return Error{"json: invalid character " + what + " at offset " + std::to_string(at)};
}

// Each scanner starts at the value's first byte and leaves `at` just after
// it; on a fault `at` is the offending position and the result is false.
bool scanString(std::string_view text, size_t& at) {
  const size_t n = text.size();
  size_t i = at + 1;
  while (i < n) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '"') {
      at = i + 1;
      return true;
    }
    if (byte < 0x20) break;
    if (byte != '\\') {
      ++i;
      continue;
    }
    if (i + 1 >= n) {
      i = n;
      break;
    }
    const char escaped = text[i + 1];
    if (escaped == 'u') {
      size_t k = 0;
      while (k < 4 && i + 2 + k < n && hexDigit(text[i + 2 + k]) >= 0) ++k;
      if (k < 4) {
        i += 2 + k;
        break;
      }
      i += 6;
    } else if (std::string_view("\"\\/bfnrt").find(escaped) != std::string_view::npos) {
      i += 2;
    } else {
      ++i;
      break;
    }
  }
  at = i;
  return false;
}

bool scanNumber(std::string_view text, size_t& at) {
  const size_t n = text.size();
  size_t i = at;
  auto digits = [&] {
    if (i >= n || !isDigit(text[i])) return false;
    while (i < n && isDigit(text[i])) ++i;
    return true;
  };
  bool ok = true;
  if (i < n && text[i] == '-') ++i;
  if (i < n && text[i] == '0') {
    ++i;
  } else {
    ok = digits();
  }
  if (ok && i < n && text[i] == '.') {
    ++i;
    ok = digits();
  }
  if (ok && i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    ok = digits();
  }
  at = i;
  return ok;
}

bool scanWord(std::string_view text, size_t& at, std::string_view word) {
  for (size_t k = 0; k < word.size(); ++k) {
    if (at + k >= text.size() || text[at + k] != word[k]) {
      at += k;
      return false;
    }
  }
  at += word.size();
  return true;
}

bool scanScalar(std::string_view text, size_t& at) {
  switch (text[at]) {
    case '"':
      return scanString(text, at);
    case 't':
      return scanWord(text, at, "true");
    case 'f':
      return scanWord(text, at, "false");
    case 'n':
      return scanWord(text, at, "null");
    default:
      if (text[at] == '-' || isDigit(text[at])) return scanNumber(text, at);
      return false;
  }
}

size_t skipString(std::string_view text, size_t at) {
  size_t i = at + 1;
  while (i < text.size()) {
    if (text[i] == '\\') {
      i += 2;
    } else if (text[i] == '"') {
      return i + 1;
    } else {
      ++i;
    }
  }
  return text.size();
}

}  // namespace

size_t firstInvalidUtf8(std::string_view text, size_t from) {
  size_t i = from;
  while (i < text.size()) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const utf8::Rune rune = utf8::decode(text.substr(i));
    if (!rune.valid) return i;
    i += rune.size;
  }
  return std::string_view::npos;
}

std::string replaceInvalidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  for (size_t bad; (bad = firstInvalidUtf8(text, i)) != std::string_view::npos; i = bad + 1) {
    out.append(text, i, bad - i);
    utf8::append(out, utf8::kReplacement);
  }
  out.append(text, i);
  return out;
}

std::optional<Error> checkSyntax(std::string_view text) {
  enum class Next { Value, Key, AfterValue };
  const size_t n = text.size();
  std::vector<char> open;  // '{' or '[' for each container we are inside
  Next next = Next::Value;
  size_t i = 0;
  while (true) {
    i = skipSpace(text, i);
    if (next == Next::Value) {
      if (i >= n) return faultAt(text, i);
      const char c = text[i];
      if (c == '{' || c == '[') {
        if (open.size() >= kMaxDepth) return Error{"json: exceeded max depth"};
        const size_t after = skipSpace(text, i + 1);
        if (after < n && text[after] == (c == '{' ? '}' : ']')) {
          i = after + 1;
          next = Next::AfterValue;
        } else {
          open.push_back(c);
          i = i + 1;
          next = c == '{' ? Next::Key : Next::Value;
        }
        continue;
      }
      if (!scanScalar(text, i)) return faultAt(text, i);
      next = Next::AfterValue;
    } else if (next == Next::Key) {
      if (i >= n || text[i] != '"' || !scanString(text, i)) return faultAt(text, i);
      i = skipSpace(text, i);
      if (i >= n || text[i] != ':') return faultAt(text, i);
      ++i;
      next = Next::Value;
    } else {
      if (open.empty()) {
        if (i != n) return faultAt(text, i);
        return std::nullopt;
      }
      const char close = open.back() == '{' ? '}' : ']';
      if (i < n && text[i] == ',') {
        ++i;
        next = open.back() == '{' ? Next::Key : Next::Value;
      } else if (i < n && text[i] == close) {
        ++i;
        open.pop_back();
      } else {
        return faultAt(text, i);
      }
    }
  }
}

bool replaceLoneSurrogates(std::string& text) {
  const size_t n = text.size();
  bool changed = false;
  bool inString = false;
  size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (!inString) {
      inString = c == '"';
      ++i;
      continue;
    }
    if (c == '"') {
      inString = false;
      ++i;
      continue;
    }
    if (c != '\\') {
      ++i;
      continue;
    }
    if (i + 1 >= n || text[i + 1] != 'u') {
      i += 2;
      continue;
    }
    const int unit = hex4(text, i + 2);
    const bool high = unit >= 0xd800 && unit <= 0xdbff;
    const bool low = unit >= 0xdc00 && unit <= 0xdfff;
    if (high && i + 12 <= n && text[i + 6] == '\\' && text[i + 7] == 'u') {
      const int next = hex4(text, i + 8);
      if (next >= 0xdc00 && next <= 0xdfff) {
        i += 12;
        continue;
      }
    }
    if (high || low) {
      text.replace(i + 2, 4, "fffd");
      changed = true;
    }
    i += 6;
  }
  return changed;
}

size_t skipSpace(std::string_view text, size_t at) {
  while (at < text.size() && isSpace(text[at])) ++at;
  return at;
}

size_t skipValue(std::string_view text, size_t at) {
  const size_t n = text.size();
  if (at >= n) return n;
  const char first = text[at];
  if (first == '"') return skipString(text, at);
  if (first == '{' || first == '[') {
    size_t depth = 0;
    size_t i = at;
    while (i < n) {
      const char c = text[i];
      if (c == '"') {
        i = skipString(text, i);
        continue;
      }
      if (c == '{' || c == '[') {
        ++depth;
      } else if (c == '}' || c == ']') {
        if (--depth == 0) return i + 1;
      }
      ++i;
    }
    return n;
  }
  size_t i = at + 1;
  while (i < n && !isSpace(text[i]) &&
         std::string_view(",:]}").find(text[i]) == std::string_view::npos) {
    ++i;
  }
  return i;
}

std::string_view trimSpace(std::string_view text) {
  const size_t begin = skipSpace(text, 0);
  size_t end = text.size();
  while (end > begin && isSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

void forEachMember(
    std::string_view object,
    const std::function<void(std::string_view key, std::string_view value)>& member) {
  const size_t n = object.size();
  size_t i = skipSpace(object, 0);
  if (i >= n || object[i] != '{') return;
  ++i;
  while (true) {
    i = skipSpace(object, i);
    if (i >= n || object[i] != '"') return;
    const size_t keyEnd = skipString(object, i);
    const std::string_view key = object.substr(i, keyEnd - i);
    i = skipSpace(object, keyEnd);
    if (i >= n || object[i] != ':') return;
    i = skipSpace(object, i + 1);
    if (i >= n) return;
    const size_t valueEnd = skipValue(object, i);
    member(key, object.substr(i, valueEnd - i));
    i = skipSpace(object, valueEnd);
    if (i >= n || object[i] != ',') return;
    ++i;
  }
}

void forEachElement(std::string_view array,
                    const std::function<void(std::string_view value)>& element) {
  const size_t n = array.size();
  size_t i = skipSpace(array, 0);
  if (i >= n || array[i] != '[') return;
  ++i;
  while (true) {
    i = skipSpace(array, i);
    if (i >= n || array[i] == ']') return;
    const size_t end = skipValue(array, i);
    element(array.substr(i, end - i));
    i = skipSpace(array, end);
    if (i >= n || array[i] != ',') return;
    ++i;
  }
}

Kind kindOf(std::string_view value) {
  if (value.empty()) return Kind::Null;
  switch (value.front()) {
    case 'n':
      return Kind::Null;
    case 't':
    case 'f':
      return Kind::Boolean;
    case '"':
      return Kind::String;
    case '[':
      return Kind::Array;
    case '{':
      return Kind::Object;
    default:
      return Kind::Number;
  }
}

const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::Null:
      return "null";
    case Kind::Boolean:
      return "bool";
    case Kind::Number:
      return "number";
    case Kind::String:
      return "string";
    case Kind::Array:
      return "array";
    case Kind::Object:
      return "object";
  }
  return "value";
}

}  // namespace support::json::scan
