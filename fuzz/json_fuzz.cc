// The JSON codec on arbitrary text: whole values, records of every field kind,
// maps of members and raw values written back.
//
// What must hold: whatever parses encodes to text that parses to the same
// value; a raw copy of it written by the Writer does too; a raw member that a
// record or a member map kept can always be written back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/json.h"
#include "support/utf8.h"

namespace {

namespace json = support::json;

void require(bool holds) {
  if (!holds) std::abort();
}

bool validUtf8(std::string_view s) {
  while (!s.empty()) {
    const support::utf8::Rune rune = support::utf8::decode(s);
    if (!rune.valid) return false;
    s.remove_prefix(rune.size);
  }
  return true;
}

void rawWritesBack(std::string_view text) {
  json::Writer w;
  w.raw(text);
  require(w.finish().ok());
}

void wholeValues(std::string_view text) {
  auto parsed = json::parse(text);
  if (!parsed.ok()) return;
  const std::string compact = json::encode(*parsed);
  auto again = json::parse(compact);
  require(again.ok() && *again == *parsed);
  auto indented = json::parse(json::encodeIndented(*parsed));
  require(indented.ok() && *indented == *parsed);

  json::Writer w;
  w.beginArray().raw(text).value(*parsed).endArray();
  auto written = w.finish();
  require(written.ok());
  auto both = json::parse(*written);
  require(both.ok() && both->is_array() && both->size() == 2);
  require((*both)[0] == *parsed && (*both)[1] == *parsed);
}

// A record with a field of every kind the reader fills.
struct Record {
  bool flag = false;
  std::optional<bool> maybe;
  double ratio = 0;
  int64_t id = 0;
  std::optional<int64_t> optionalId;
  uint32_t count = 0;
  std::string name;
  std::string kind;
  json::RawValue args;
  std::map<std::string, json::RawValue> runtime;
  std::vector<std::string> tags;
  double innerX = 0;
  std::vector<int64_t> itemIds;
};

void records(std::string_view text) {
  Record r;
  auto fill = [&](json::Object& o) {
    o.field("flag", r.flag);
    o.field("maybe", r.maybe);
    o.field("ratio", r.ratio);
    o.field("id", r.id);
    o.field("optionalId", r.optionalId);
    o.field("count", r.count);
    o.field("name", r.name);
    o.field("kind", r.kind);
    o.field("args", r.args);
    o.field("runtime", r.runtime);
    o.field("tags", r.tags);
    o.object("inner", [&](json::Object& inner) { inner.field("x", r.innerX); });
    o.objects("items", [&](json::Object& item) { item.field("id", r.itemIds.emplace_back()); });
    (void)o.find("name");
    (void)o.rawText("args");
  };
  (void)json::decodeObject(text, fill);
  rawWritesBack(r.args.text);
  for (const auto& [key, value] : r.runtime) rawWritesBack(value.text);
  // Strings read from JSON are always well-formed text.
  require(validUtf8(r.name) && validUtf8(r.kind));
  for (const std::string& tag : r.tags) require(validUtf8(tag));

  (void)json::decodeObjectList(text, [&](json::Object& o) { o.field("id", r.id); });

  auto members = json::decodeMembers(text);
  if (members.ok()) {
    for (const auto& [key, value] : *members) rawWritesBack(value.text);
  }
}

void strings(std::string_view text) {
  auto back = json::parse(json::quote(text));
  require(back.ok() && back->is_string());
  if (validUtf8(text)) require(back->get<std::string>() == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  wholeValues(text);
  records(text);
  strings(text);
  return 0;
}
