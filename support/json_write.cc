// Writing JSON text: string escaping, the streaming Writer, raw values and
// whole values in compact and indented form.
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "support/json.h"
#include "support/json_scan.h"
#include "support/utf8.h"

namespace support::json {
namespace {

constexpr char kHex[] = "0123456789abcdef";

// Appends the character at `at` as it goes inside a JSON string and returns
// the number of bytes it took. The escaping is that of Go's encoding/json
// with its HTML-safe default, so that the text can sit inside a script.
size_t appendEscaped(std::string& out, std::string_view s, size_t at) {
  const auto byte = static_cast<unsigned char>(s[at]);
  if (byte < 0x80) {
    switch (byte) {
      case '"':
        out += "\\\"";
        return 1;
      case '\\':
        out += "\\\\";
        return 1;
      case '\n':
        out += "\\n";
        return 1;
      case '\r':
        out += "\\r";
        return 1;
      case '\t':
        out += "\\t";
        return 1;
      case '<':
      case '>':
      case '&':
        break;
      default:
        if (byte >= 0x20) {
          out += static_cast<char>(byte);
          return 1;
        }
    }
    out += "\\u00";
    out += kHex[byte >> 4];
    out += kHex[byte & 0xf];
    return 1;
  }
  // One U+FFFD per byte that starts no valid character, as Go writes it.
  const utf8::Rune rune = utf8::decode(s.substr(at));
  if (!rune.valid) {
    out += "\\ufffd";
  } else if (rune.value == 0x2028) {
    out += "\\u2028";
  } else if (rune.value == 0x2029) {
    out += "\\u2029";
  } else {
    out.append(s, at, rune.size);
  }
  return rune.size;
}

void appendQuoted(std::string& out, std::string_view s) {
  out += '"';
  for (size_t i = 0; i < s.size();) i += appendEscaped(out, s, i);
  out += '"';
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// False when `text` is not JSON (null is written in its place).
bool appendRaw(std::string& out, std::string_view text) {
  if (text.empty()) {
    out += "null";
    return true;
  }
  // Invalid UTF-8 is allowed inside strings (it is written as U+FFFD), so the
  // check runs on a copy where it is replaced.
  if (scan::checkSyntax(scan::replaceInvalidUtf8(text))) {
    out += "null";
    return false;
  }
  bool inString = false;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (!inString) {
      if (!isSpace(c)) out += c;
      inString = c == '"';
      ++i;
    } else if (c == '"') {
      out += c;
      inString = false;
      ++i;
    } else if (c == '\\') {
      // Escapes stay as the writer wrote them; the checked text has a
      // character after every backslash.
      out.append(text, i, 2);
      i += 2;
    } else {
      i += appendEscaped(out, text, i);
    }
  }
  return true;
}

// False when the value holds a number that is not finite (null is written).
bool appendScalar(std::string& out, const Value& v) {
  switch (v.type()) {
    case Value::value_t::boolean:
      out += v.get<bool>() ? "true" : "false";
      break;
    case Value::value_t::number_integer:
      out += std::to_string(v.get<int64_t>());
      break;
    case Value::value_t::number_unsigned:
      out += std::to_string(v.get<uint64_t>());
      break;
    case Value::value_t::number_float:
      out += formatNumber(v.get<double>());
      return std::isfinite(v.get<double>());
    case Value::value_t::string:
      appendQuoted(out, v.get_ref<const std::string&>());
      break;
    default:  // null, and the binary and discarded kinds that JSON lacks
      out += "null";
      break;
  }
  return true;
}

// Walks the value with a stack of its own rather than by recursion, so that
// deep values cannot exhaust a thread's stack. False when a number in it is
// not finite.
bool appendValue(std::string& out, const Value& root, bool indented) {
  bool finite = true;
  struct Open {
    const Value* container;
    Value::const_iterator next;
  };
  std::vector<Open> open;
  auto newline = [&](size_t depth) {
    out += '\n';
    out.append(depth * 2, ' ');
  };
  const Value* pending = &root;
  while (true) {
    if (pending != nullptr) {
      const Value& v = *pending;
      pending = nullptr;
      if (v.is_object() || v.is_array()) {
        if (v.empty()) {
          out += v.is_object() ? "{}" : "[]";
        } else {
          out += v.is_object() ? '{' : '[';
          open.push_back({&v, v.cbegin()});
        }
      } else {
        finite = appendScalar(out, v) && finite;
      }
    }
    if (open.empty()) return finite;
    Open& top = open.back();
    const bool isObject = top.container->is_object();
    if (top.next == top.container->cend()) {
      open.pop_back();
      if (indented) newline(open.size());
      out += isObject ? '}' : ']';
      continue;
    }
    if (top.next != top.container->cbegin()) out += ',';
    if (indented) newline(open.size());
    if (isObject) {
      appendQuoted(out, top.next.key());
      out += indented ? ": " : ":";
    }
    pending = &*top.next;
    ++top.next;
  }
}

}  // namespace

std::string quote(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  appendQuoted(out, s);
  return out;
}

std::string encode(const Value& v) {
  std::string out;
  (void)appendValue(out, v, false);
  return out;
}

std::string encodeIndented(const Value& v) {
  std::string out;
  (void)appendValue(out, v, true);
  return out;
}

void Writer::separate() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (first_.empty()) return;
  if (!first_.back()) out_ += ',';
  first_.back() = false;
}

Writer& Writer::null() {
  separate();
  out_ += "null";
  return *this;
}

Writer& Writer::boolean(bool b) {
  separate();
  out_ += b ? "true" : "false";
  return *this;
}

void Writer::fail(std::string message) {
  if (!failure_) failure_ = makeError(std::move(message));
}

Result<std::string> Writer::finish() {
  if (failure_) return *failure_;
  return take();
}

Writer& Writer::number(double d) {
  separate();
  out_ += formatNumber(d);
  if (!std::isfinite(d)) fail("json: a number that is not finite");
  return *this;
}

Writer& Writer::integer(int64_t i) {
  separate();
  out_ += std::to_string(i);
  return *this;
}

Writer& Writer::unsignedInteger(uint64_t u) {
  separate();
  out_ += std::to_string(u);
  return *this;
}

Writer& Writer::string(std::string_view s) {
  separate();
  appendQuoted(out_, s);
  return *this;
}

Writer& Writer::raw(std::string_view text) {
  separate();
  if (!appendRaw(out_, text)) fail("json: a raw value that is not JSON");
  return *this;
}

Writer& Writer::value(const Value& v) {
  separate();
  if (!appendValue(out_, v, false)) fail("json: a number that is not finite");
  return *this;
}

Writer& Writer::beginObject() {
  separate();
  out_ += '{';
  first_.push_back(true);
  return *this;
}

Writer& Writer::key(std::string_view k) {
  separate();
  appendQuoted(out_, k);
  out_ += ':';
  afterKey_ = true;
  return *this;
}

Writer& Writer::endObject() {
  out_ += '}';
  if (!first_.empty()) first_.pop_back();
  return *this;
}

Writer& Writer::beginArray() {
  separate();
  out_ += '[';
  first_.push_back(true);
  return *this;
}

Writer& Writer::endArray() {
  out_ += ']';
  if (!first_.empty()) first_.pop_back();
  return *this;
}

}  // namespace support::json
