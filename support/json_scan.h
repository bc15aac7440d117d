// Byte-level work on JSON text that the codec shares between reading and
// writing: UTF-8 checks, the syntax check, and finding the byte spans of
// values inside text that has passed the check.
//
// The syntax check is our own rather than nlohmann-json's because the two
// disagree on what one JSON value is: nlohmann refuses escapes of lone
// surrogates ("\ud800", which browsers' JSON.stringify writes) and numbers
// beyond the range of a double, and it skips a leading byte-order mark. We
// accept the former two, as the grammar does, and refuse the mark.
//
// Nothing here is part of the public interface; use support/json.h.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "support/result.h"

namespace support::json::scan {

// Deeper nesting is refused, so that no code walking a value can exhaust a
// thread's stack.
inline constexpr size_t kMaxDepth = 10000;

// `text` with every byte that starts no well-formed UTF-8 sequence replaced
// by U+FFFD, one replacement per byte (support/utf8.h decides).
std::string replaceInvalidUtf8(std::string_view text);
// The index of the first byte at or after `from` that starts no well-formed
// UTF-8 sequence; npos when there is none.
size_t firstInvalidUtf8(std::string_view text, size_t from = 0);

// Checks that `text` is exactly one JSON value, white space around it
// allowed. Bytes of 0x80 and above are taken as they are.
std::optional<Error> checkSyntax(std::string_view text);

// Replaces, inside the strings of valid JSON text, every \u escape of a
// surrogate that is not part of a high-low pair by \ufffd. The length stays
// the same. Returns whether anything changed.
bool replaceLoneSurrogates(std::string& text);

// ---- Spans in text that passed checkSyntax --------------------------------
// These stay inside `text` whatever it holds, but give meaningful spans only
// for valid JSON.

// The index of the first byte at or after `at` that is not JSON white space.
size_t skipSpace(std::string_view text, size_t at);

// The index just after the value that starts at `at`.
size_t skipValue(std::string_view text, size_t at);

// The value with the white space around it removed.
std::string_view trimSpace(std::string_view text);

// Calls `member` with the key's text (quotes and escapes as written) and the
// value's text, for each member of the object text in order.
void forEachMember(std::string_view object,
                   const std::function<void(std::string_view key, std::string_view value)>& member);

// Calls `element` with the text of each element of the array text in order.
void forEachElement(std::string_view array,
                    const std::function<void(std::string_view value)>& element);

// What kind of value a value's text holds, judged by its first byte.
enum class Kind { Null, Boolean, Number, String, Array, Object };
Kind kindOf(std::string_view value);
const char* kindName(Kind kind);

}  // namespace support::json::scan
