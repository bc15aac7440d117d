// Reading JSON text: whole values, and records filled member by member.
//
// Records need the exact text of member values (raw fields keep it, and
// duplicate and case-blind names must be told apart), but nlohmann-json
// builds values without their positions. So, once the whole text has passed
// the syntax check, a small scanner (support/json_scan.h) cuts it into member
// spans, and nlohmann-json builds the value of a span only when a field of a
// scalar type asks for it.
#include <charconv>
#include <string>
#include <string_view>
#include <system_error>

#include "support/json.h"
#include "support/json_scan.h"
#include "support/lower_case.h"

namespace support::json {
namespace {

using scan::Kind;

// Builds the value of text that passed the syntax check and holds well-formed
// UTF-8. Gives a discarded value for a number beyond the range of a double,
// the one thing nlohmann-json refuses there once lone surrogates are gone.
Value build(std::string_view text) {
  if (text.find("\\u") != std::string_view::npos) {
    std::string copy(text);
    if (scan::replaceLoneSurrogates(copy)) return Value::parse(copy, nullptr, false);
  }
  return Value::parse(text.begin(), text.end(), nullptr, false);
}

// A member name with its quotes taken off and its escapes resolved.
std::string decodeKey(std::string_view key) {
  if (key.size() >= 2 && key.find('\\') == std::string_view::npos) {
    return std::string(key.substr(1, key.size() - 2));
  }
  const Value name = build(key);
  return name.is_string() ? name.get<std::string>() : std::string();
}

template <typename Integer>
std::optional<Integer> integerOf(std::string_view text) {
  if (text.find_first_of(".eE") != std::string_view::npos) return std::nullopt;
  Integer value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

Error mismatchError(std::string_view where, std::string_view text, std::string_view expected) {
  const Kind kind = text.empty() ? Kind::Null : scan::kindOf(text);
  std::string found = text.empty() ? "value" : scan::kindName(kind);
  if (kind == Kind::Number) {
    constexpr size_t kShown = 40;
    found += ' ';
    found += text.substr(0, kShown);
    if (text.size() > kShown) found += "...";
  }
  return Error{"json: cannot decode " + found + " into \"" + std::string(where) + "\" of type " +
               std::string(expected)};
}

void keepFirst(std::optional<Error>* slot, Error error) {
  if (slot != nullptr && !slot->has_value()) *slot = std::move(error);
}

// Runs `addOne` for each element of an array of records.
void eachRecord(std::string_view array, std::optional<Error>* error, const std::string& where,
                const std::function<void(Object&)>& addOne) {
  size_t index = 0;
  scan::forEachElement(array, [&](std::string_view element) {
    const std::string path = where + "[" + std::to_string(index++) + "]";
    const Kind kind = scan::kindOf(element);
    if (kind != Kind::Object && kind != Kind::Null) {
      keepFirst(error, mismatchError(path, element, "object"));
    }
    Object record(kind == Kind::Object ? element : std::string_view(), error, path + ".");
    addOne(record);
  });
}

// Makes `text` ready for the scanner: invalid UTF-8 replaced in `clean`, the
// syntax checked, and `value` the one value with its white space trimmed. A
// text that is all well-formed UTF-8, as nearly every one is, is used where
// it lies, and `value` points into it.
std::optional<Error> prepare(std::string_view text, std::string& clean, std::string_view& value) {
  std::string_view ready = text;
  if (scan::firstInvalidUtf8(text) != std::string_view::npos) {
    clean = scan::replaceInvalidUtf8(text);
    ready = clean;
  }
  if (auto fault = scan::checkSyntax(ready)) return fault;
  value = scan::trimSpace(ready);
  return std::nullopt;
}

Error topLevelMismatch(std::string_view value, std::string_view expected) {
  return Error{"json: cannot decode " + std::string(scan::kindName(scan::kindOf(value))) +
               " into " + std::string(expected)};
}

}  // namespace

Result<Value> parse(std::string_view text) {
  std::string clean;
  std::string_view value;
  if (auto fault = prepare(text, clean, value)) return *fault;
  Value built = build(value);
  if (built.is_discarded()) return makeError("json: a number is beyond the range of a double");
  return built;
}

Object::Object(std::string_view text, std::optional<Error>* error, std::string path)
    : error_(error), path_(std::move(path)) {
  scan::forEachMember(text, [&](std::string_view key, std::string_view value) {
    members_.push_back(Member{decodeKey(key), value});
  });
  values_.resize(members_.size());
}

const Object::Member* Object::member(std::string_view name) const {
  const Member* exact = nullptr;
  const Member* folded = nullptr;
  for (const Member& m : members_) {
    if (m.name == name) {
      exact = &m;
    } else if (equalsIgnoringCase(m.name, name)) {
      folded = &m;
    }
  }
  return exact != nullptr ? exact : folded;
}

const Object::Member* Object::present(std::string_view name) const {
  const Member* m = member(name);
  if (m == nullptr || scan::kindOf(m->text) == Kind::Null) return nullptr;
  return m;
}

const Value& Object::valueOf(const Member& m) const {
  std::optional<Value>& slot = values_[static_cast<size_t>(&m - members_.data())];
  if (!slot) slot = build(m.text);
  return *slot;
}

void Object::mismatch(std::string_view name, std::string_view text, std::string_view expected) {
  keepFirst(error_, mismatchError(path_ + std::string(name), text, expected));
}

void Object::typeError(std::string_view name, std::string_view expected) {
  const Member* m = member(name);
  mismatch(name, m != nullptr ? m->text : std::string_view(), expected);
}

const Value* Object::find(std::string_view name) const {
  const Member* m = present(name);
  if (m == nullptr) return nullptr;
  const Value& v = valueOf(*m);
  return v.is_discarded() ? nullptr : &v;
}

std::string_view Object::rawText(std::string_view name) const {
  const Member* m = member(name);
  return m != nullptr ? m->text : std::string_view();
}

void Object::field(std::string_view name, bool& out) {
  std::optional<bool> read;
  field(name, read);
  if (read) out = *read;
}

void Object::field(std::string_view name, std::optional<bool>& out) {
  const Member* m = present(name);
  if (m == nullptr) return;
  if (scan::kindOf(m->text) != Kind::Boolean) return mismatch(name, m->text, "bool");
  out = m->text.front() == 't';
}

void Object::field(std::string_view name, double& out) {
  const Member* m = present(name);
  if (m == nullptr) return;
  const Value* v = scan::kindOf(m->text) == Kind::Number ? &valueOf(*m) : nullptr;
  if (v == nullptr || !v->is_number()) return mismatch(name, m->text, "float64");
  out = v->get<double>();
  // nlohmann-json reads "-0" as the integer 0; as a double it keeps its sign.
  if (out == 0 && m->text.front() == '-') out = -0.0;
}

void Object::field(std::string_view name, int64_t& out) {
  std::optional<int64_t> read;
  field(name, read);
  if (read) out = *read;
}

void Object::field(std::string_view name, std::optional<int64_t>& out) {
  const Member* m = present(name);
  if (m == nullptr) return;
  std::optional<int64_t> read;
  if (scan::kindOf(m->text) == Kind::Number) read = integerOf<int64_t>(m->text);
  if (!read) return mismatch(name, m->text, "int64");
  out = read;
}

void Object::field(std::string_view name, uint32_t& out) {
  const Member* m = present(name);
  if (m == nullptr) return;
  std::optional<uint32_t> read;
  if (scan::kindOf(m->text) == Kind::Number) read = integerOf<uint32_t>(m->text);
  if (!read) return mismatch(name, m->text, "uint32");
  out = *read;
}

void Object::field(std::string_view name, std::string& out) {
  const Member* m = present(name);
  if (m == nullptr) return;
  if (scan::kindOf(m->text) == Kind::String && m->text.size() >= 2 && m->text.back() == '"' &&
      m->text.find('\\') == std::string_view::npos) {
    // Without escapes the text between the quotes is the string itself.
    out = std::string(m->text.substr(1, m->text.size() - 2));
    return;
  }
  const Value* v = scan::kindOf(m->text) == Kind::String ? &valueOf(*m) : nullptr;
  if (v == nullptr || !v->is_string()) return mismatch(name, m->text, "string");
  out = v->get<std::string>();
}

void Object::field(std::string_view name, RawValue& out) {
  const Member* m = member(name);
  if (m != nullptr) out.text = std::string(m->text);
}

void Object::field(std::string_view name, std::map<std::string, RawValue>& out) {
  const Member* m = present(name);
  if (m == nullptr) return;
  if (scan::kindOf(m->text) != Kind::Object) return mismatch(name, m->text, "object");
  std::map<std::string, RawValue> members;
  scan::forEachMember(m->text, [&](std::string_view key, std::string_view value) {
    members[decodeKey(key)] = RawValue{std::string(value)};
  });
  out = std::move(members);
}

void Object::field(std::string_view name, std::vector<std::string>& out) {
  const Member* m = present(name);
  if (m == nullptr) return;
  if (scan::kindOf(m->text) != Kind::Array) return mismatch(name, m->text, "[]string");
  std::vector<std::string> list;
  scan::forEachElement(m->text, [&](std::string_view element) {
    const Value v = scan::kindOf(element) == Kind::String ? build(element) : Value();
    if (v.is_string()) {
      list.push_back(v.get<std::string>());
      return;
    }
    if (scan::kindOf(element) != Kind::Null) mismatch(name, element, "string");
    list.emplace_back();
  });
  out = std::move(list);
}

void Object::object(std::string_view name, const std::function<void(Object&)>& fill) {
  const Member* m = present(name);
  if (m == nullptr) return;
  if (scan::kindOf(m->text) != Kind::Object) return mismatch(name, m->text, "object");
  Object nested(m->text, error_, path_ + std::string(name) + ".");
  fill(nested);
}

void Object::objects(std::string_view name, const std::function<void(Object&)>& addOne) {
  const Member* m = present(name);
  if (m == nullptr) return;
  if (scan::kindOf(m->text) != Kind::Array) return mismatch(name, m->text, "array");
  eachRecord(m->text, error_, path_ + std::string(name), addOne);
}

Status decodeObject(std::string_view text, const std::function<void(Object&)>& fill) {
  std::string clean;
  std::string_view value;
  if (auto fault = prepare(text, clean, value)) return *fault;
  const Kind kind = scan::kindOf(value);
  if (kind == Kind::Null) return {};
  if (kind != Kind::Object) return topLevelMismatch(value, "an object");
  std::optional<Error> error;
  Object record(value, &error);
  fill(record);
  if (error) return *error;
  return {};
}

Status decodeObjectList(std::string_view text, const std::function<void(Object&)>& addOne) {
  std::string clean;
  std::string_view value;
  if (auto fault = prepare(text, clean, value)) return *fault;
  const Kind kind = scan::kindOf(value);
  if (kind == Kind::Null) return {};
  if (kind != Kind::Array) return topLevelMismatch(value, "a list of objects");
  std::optional<Error> error;
  eachRecord(value, &error, "", addOne);
  if (error) return *error;
  return {};
}

Result<std::map<std::string, RawValue>> decodeMembers(std::string_view text) {
  std::string clean;
  std::string_view value;
  if (auto fault = prepare(text, clean, value)) return *fault;
  std::map<std::string, RawValue> members;
  const Kind kind = scan::kindOf(value);
  if (kind == Kind::Null) return members;
  if (kind != Kind::Object) return topLevelMismatch(value, "an object");
  scan::forEachMember(value, [&](std::string_view key, std::string_view member) {
    members[decodeKey(key)] = RawValue{std::string(member)};
  });
  return members;
}

}  // namespace support::json
