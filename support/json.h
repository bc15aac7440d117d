// The one JSON codec of the system.
//
// Writing: map keys sorted, records in field order, no white space outside
// strings; "<", ">", "&", U+2028 and U+2029 escaped; invalid UTF-8 written as
// U+FFFD; numbers in the shortest text that reads back as the same double.
//
// Reading: values are built by nlohmann-json; the syntax check, the rules by
// which a text fills a record (letter-case-blind member names, wrong types,
// raw spans) are ours.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/result.h"

namespace support::json {

using Value = nlohmann::json;

// A JSON value kept as the exact text the writer gave it. Empty means absent.
struct RawValue {
  std::string text;
  bool operator==(const RawValue&) const = default;
};

// ---- Parsing ---------------------------------------------------------------

// Parses exactly one JSON value (white space around it allowed, anything else
// after it is an error). Invalid UTF-8 inside strings reads as U+FFFD, one per
// byte, and so does an escaped surrogate that is not half of a pair. A number
// beyond the range of a double is an error. Nesting deeper than 10000 is an
// error.
Result<Value> parse(std::string_view text);

// ---- Writing ---------------------------------------------------------------

// Streams one compact JSON text. Commas and colons are placed by the writer.
// A value that JSON cannot hold (a number that is not finite, a raw value that
// is not JSON) makes the whole text a failure: finish() reports it, so that
// nobody sends or stores a text with a null in its place.
class Writer {
 public:
  Writer& null();
  Writer& boolean(bool b);
  Writer& number(double d);
  Writer& integer(int64_t i);
  Writer& unsignedInteger(uint64_t u);
  Writer& string(std::string_view s);
  // A raw JSON value, compacted with the same string escaping; key order,
  // duplicate keys, number text and the escapes already in its strings are
  // kept. Empty writes null; text that is not JSON is a failure.
  Writer& raw(std::string_view text);
  Writer& value(const Value& v);  // object members in sorted key order

  Writer& beginObject();
  Writer& key(std::string_view k);
  Writer& endObject();
  Writer& beginArray();
  Writer& endArray();

  const std::string& text() const { return out_; }
  std::string take() { return std::move(out_); }
  // Whether something that JSON cannot hold was written.
  bool failed() const { return failure_.has_value(); }
  // The text, or the first failure.
  Result<std::string> finish();

 private:
  void separate();
  void fail(std::string message);
  std::string out_;
  std::optional<Error> failure_;
  std::vector<bool> first_;  // per open container: nothing written in it yet
  bool afterKey_ = false;
};

std::string encode(const Value& v);  // compact
// Two-space indent, ": " after keys, "{}" and "[]" for empty containers, no
// final newline: json.MarshalIndent(v, "", "  ") of Go. For files people read.
std::string encodeIndented(const Value& v);
std::string quote(std::string_view s);  // one escaped JSON string

// The number text alone (1280, 0.5, 1e-7, 1e+21, -0); "null" when not finite.
std::string formatNumber(double d);

// ---- Reading into records --------------------------------------------------

// A view of one JSON object while a record is filled from it. A member matches
// a field by its exact name or, when no member has that name, by its name
// without regard to letter case (Unicode simple case folding, so the long s
// U+017F matches "s" and the Kelvin sign "k"; support/lower_case.h). Of
// several exact (or several case-blind) matches the last counts. A missing
// member or null leaves the field untouched (its zero value). A member of the
// wrong type is an error of the whole text and leaves the field untouched,
// and the other fields are still filled; the first such error is kept.
class Object {
 public:
  // The member's value, or nullptr when it is missing or null.
  const Value* find(std::string_view name) const;
  // The member's exact text as written (white space around it trimmed), or
  // empty when missing. Null reads as "null".
  std::string_view rawText(std::string_view name) const;

  void field(std::string_view name, bool& out);
  void field(std::string_view name, std::optional<bool>& out);
  void field(std::string_view name, double& out);  // a number beyond a double is a type error
  // Integers only: a fraction, an exponent or a value out of range is a type
  // error (1.5, 1e2, 1.0, 9223372036854775808).
  void field(std::string_view name, int64_t& out);
  void field(std::string_view name, std::optional<int64_t>& out);
  void field(std::string_view name, uint32_t& out);
  void field(std::string_view name, std::string& out);
  // The value's exact text; null is kept as the text "null".
  void field(std::string_view name, RawValue& out);
  // An object's members by exact name, the last of duplicates winning.
  void field(std::string_view name, std::map<std::string, RawValue>& out);
  // A list; a null element reads as "", an element of another type as "" and
  // a type error.
  void field(std::string_view name, std::vector<std::string>& out);
  // A nested record: `fill` runs with the member's object. A member that is
  // not an object (nor null) is a type error.
  void object(std::string_view name, const std::function<void(Object&)>& fill);
  // A list of records: `addOne` runs once per element, in order. A null
  // element gives a record with no members; so does an element that is not an
  // object, which is also a type error.
  void objects(std::string_view name, const std::function<void(Object&)>& addOne);

  // Records a type error for `name` (used by custom field readers).
  void typeError(std::string_view name, std::string_view expected);

  struct Member {
    std::string name;
    std::string_view text;  // the value's exact text
  };

  // Internal: built by the decoders from the text of one object that passed
  // the syntax check. `path` prefixes member names in error texts.
  Object(std::string_view text, std::optional<Error>* error, std::string path = {});

 private:
  const Member* member(std::string_view name) const;
  const Member* present(std::string_view name) const;  // nullptr when missing or null
  const Value& valueOf(const Member& m) const;
  void mismatch(std::string_view name, std::string_view text, std::string_view expected);

  std::vector<Member> members_;
  mutable std::vector<std::optional<Value>> values_;  // parsed on first use
  std::optional<Error>* error_;
  std::string path_;
};

// Decodes a text that must be one JSON object (or null, which fills nothing)
// into a record through `fill`. Text that is not one JSON value fills nothing
// and is an error; a top level of another type is an error and fills nothing;
// a type error of a member is returned after every other field was filled.
Status decodeObject(std::string_view text, const std::function<void(Object&)>& fill);

// Decodes a JSON array of objects (null gives none); `addOne` runs per element
// as for Object::objects. On an error the caller drops what was added.
Status decodeObjectList(std::string_view text, const std::function<void(Object&)>& addOne);

// Decodes a JSON object into a map from member name to its raw text: keys
// match exactly and the last of duplicates wins. Null gives an empty map.
Result<std::map<std::string, RawValue>> decodeMembers(std::string_view text);

}  // namespace support::json
