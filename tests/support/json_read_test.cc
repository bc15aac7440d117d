// Reading JSON: whole values, records filled member by member, maps of raw
// members and lists of records.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "support/json.h"

namespace {

namespace json = support::json;
using ::testing::HasSubstr;

TEST(JsonParse, RefusesWhatIsNotExactlyOneValue) {
  const std::string cases[] = {
      "",
      "  \n",
      "nul",
      "True",
      "[1,]",
      "{\"a\":1,}",
      "{\"a\" 1}",
      "{a:1}",
      "01",
      "1.",
      "-",
      ".5",
      "+1",
      "1e",
      "NaN",
      "'a'",
      "\"a",
      "\"\\x\"",
      "\"\\u12\"",
      "\"tab\there\"",
      "[1] x",
      "{}{}",
      "1 2",
      "\xef\xbb\xbf{}",  // a byte-order mark is not white space
      "\xff",
      "1e400",  // beyond the range of a double
      std::string(10001, '[') + std::string(10001, ']'),
  };
  for (const std::string& text : cases) {
    auto v = json::parse(text);
    EXPECT_FALSE(v.ok()) << text.substr(0, 40);
    if (!v.ok()) {
      EXPECT_THAT(v.error().message, HasSubstr("json: ")) << text.substr(0, 40);
    }
  }
}

TEST(JsonParse, ReadsValuesAndRepairsText) {
  struct Case {
    std::string text;
    json::Value want;
  } cases[] = {
      {" {\"a\" : [1, -2.5e3, true, null]}\r\n",
       json::Value::parse(R"({"a":[1,-2500.0,true,null]})")},
      {R"("\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00")", "\"\\/\b\f\n\r\té😀"},
      // Lone surrogates and invalid UTF-8 read as U+FFFD.
      {R"(["\ud800", "\udc00x", "\ud800\ud83d\ude00"])",
       json::Value::array({"\uFFFD", "\uFFFDx", "\uFFFD😀"})},
      {"\"a\xff\xe2\x82"
       "b\"",
       "a\uFFFD\uFFFD\uFFFDb"},
      {"1e-400", 0.0},
      {"{\"k\":1,\"k\":2}", json::Value::parse(R"({"k":2})")},
  };
  for (const Case& c : cases) {
    auto v = json::parse(c.text);
    ASSERT_TRUE(v.ok()) << c.text << ": " << v.error().message;
    EXPECT_EQ(*v, c.want) << c.text;
  }
  const std::string deepest = std::string(10000, '[') + std::string(10000, ']');
  EXPECT_TRUE(json::parse(deepest).ok());
}

// A record with a field of every kind the reader knows.
struct Sample {
  bool flag = false;
  std::optional<bool> maybe;
  double ratio = 0;
  int64_t id = 0;
  std::optional<int64_t> optionalId;
  uint32_t count = 0;
  std::string name;
  json::RawValue args;
  std::map<std::string, json::RawValue> runtime;
  std::vector<std::string> tags;
  double innerX = 0;
  double innerY = 0;
  std::vector<int64_t> itemIds;
  bool operator==(const Sample&) const = default;
};

void fillSample(json::Object& o, Sample& s) {
  o.field("flag", s.flag);
  o.field("maybe", s.maybe);
  o.field("ratio", s.ratio);
  o.field("id", s.id);
  o.field("optionalId", s.optionalId);
  o.field("count", s.count);
  o.field("name", s.name);
  o.field("args", s.args);
  o.field("runtime", s.runtime);
  o.field("tags", s.tags);
  o.object("inner", [&](json::Object& inner) {
    inner.field("x", s.innerX);
    inner.field("y", s.innerY);
  });
  o.objects("items", [&](json::Object& item) { item.field("id", s.itemIds.emplace_back()); });
}

struct Decoded {
  Sample sample;
  support::Status status;
};

Decoded decodeSample(std::string_view text) {
  Decoded d;
  d.status = json::decodeObject(text, [&](json::Object& o) { fillSample(o, d.sample); });
  return d;
}

TEST(JsonDecodeObject, MatchesNamesExactlyFirstThenWithoutLetterCase) {
  struct Case {
    const char* text;
    const char* want;
  } cases[] = {
      {R"({"name":"exact"})", "exact"},
      {R"({"NAME":"folded"})", "folded"},
      {R"({"nAmE":"folded"})", "folded"},
      {R"({"Name":"folded","name":"exact"})", "exact"},
      {R"({"name":"exact","Name":"folded"})", "exact"},
      {R"({"name":"first","name":"last"})", "last"},
      {R"({"NAME":"first","Name":"last"})", "last"},
      {R"({"na\u006de":"escaped"})", "escaped"},
      {R"({"name ":"other","nom":"other","names":"other"})", ""},
      {R"({"name":null})", ""},
      {R"({"name":"kept","Name":null})", "kept"},
  };
  for (const Case& c : cases) {
    Decoded d = decodeSample(c.text);
    EXPECT_TRUE(d.status.ok()) << c.text;
    EXPECT_EQ(d.sample.name, c.want) << c.text;
  }
}

// Names are compared under Unicode's simple case folding, not ASCII alone: a
// page or a file that writes "s" as the long s (U+017F) or "k" as the Kelvin
// sign (U+212A) names the same member.
TEST(JsonDecodeObject, MatchesNamesUnderUnicodeSimpleCaseFolding) {
  struct Settings {
    bool closeToTray = true;
    bool exitOnLastWindowClosed = true;
    std::string kind;
    int64_t id = 0;
  };
  struct Case {
    const char* text;
    bool closeToTray;
    bool exitOnLastWindowClosed;
    const char* kind;
    int64_t id;
  } cases[] = {
      {R"({"runtime":{"exitOnLa\u017ftWindowClo\u017fed":false}})", true, false, "", 0},
      {"{\"runtime\":{\"EXITONLA\xc5\xbf"
       "TWINDOWCLO\xc5\xbf"
       "ED\":false}}",
       true, false, "", 0},
      {R"({"clo\u017feToTray":false})", false, true, "", 0},
      {R"({"CLOSETOTRAY":false})", false, true, "", 0},
      {R"({"\u212aind":"kelvin"})", true, true, "kelvin", 0},
      {R"({"KIND":"upper","\u212aIND":"kelvin"})", true, true, "kelvin", 0},
      // The exact name wins wherever it stands.
      {R"({"closeToTray":false,"clo\u017feToTray":true})", false, true, "", 0},
      {R"({"clo\u017feToTray":true,"closeToTray":false})", false, true, "", 0},
      // Only simple folds: no "ss" for the sharp s, and the Turkic dotted
      // capital I and dotless i are letters of their own.
      {R"({"clo\u00dfeToTray":false})", true, true, "", 0},
      {R"({"\u0130D":7})", true, true, "", 0},
      {R"({"\u0131d":7})", true, true, "", 0},
      {R"({"ID":7})", true, true, "", 7},
  };
  for (const Case& c : cases) {
    Settings got;
    auto status = json::decodeObject(c.text, [&](json::Object& o) {
      o.field("closeToTray", got.closeToTray);
      o.field("kind", got.kind);
      o.field("id", got.id);
      o.object("runtime", [&](json::Object& runtime) {
        runtime.field("exitOnLastWindowClosed", got.exitOnLastWindowClosed);
      });
    });
    ASSERT_TRUE(status.ok()) << c.text << ": " << status.error().message;
    EXPECT_EQ(got.closeToTray, c.closeToTray) << c.text;
    EXPECT_EQ(got.exitOnLastWindowClosed, c.exitOnLastWindowClosed) << c.text;
    EXPECT_EQ(got.kind, c.kind) << c.text;
    EXPECT_EQ(got.id, c.id) << c.text;
  }
}

TEST(JsonDecodeObject, FillsEveryKindOfField) {
  Decoded d = decodeSample(R"({
    "flag": true, "maybe": false, "ratio": -2.5e-1, "id": -42, "optionalId": 0, "count": 4294967295,
    "name": "a\u0026b", "args": { "b" : 1, "a" : [1.50, "x y"] },
    "runtime": {"appUrl": "https://x", "AppUrl": 1, "appUrl": " last "},
    "tags": ["a", null, "c"], "inner": {"X": 3, "y": 4}, "items": [{"id": 1}, null, {"ID": 3}],
    "unknown": {"deep": [1, 2]}
  })");
  ASSERT_TRUE(d.status.ok()) << d.status.error().message;
  Sample want;
  want.flag = true;
  want.maybe = false;
  want.ratio = -0.25;
  want.id = -42;
  want.optionalId = 0;
  want.count = 4294967295u;
  want.name = "a&b";
  want.args.text = R"({ "b" : 1, "a" : [1.50, "x y"] })";
  want.runtime = {{"AppUrl", {"1"}}, {"appUrl", {R"(" last ")"}}};
  want.tags = {"a", "", "c"};
  want.innerX = 3;
  want.innerY = 4;
  want.itemIds = {1, 0, 3};
  EXPECT_EQ(d.sample, want);
}

TEST(JsonDecodeObject, NullAndMissingLeaveZeroValues) {
  Decoded d = decodeSample(
      R"({"flag":null,"maybe":null,"ratio":null,"id":null,"optionalId":null,"count":null,)"
      R"("name":null,"runtime":null,"tags":null,"inner":null,"items":null})");
  ASSERT_TRUE(d.status.ok()) << d.status.error().message;
  EXPECT_EQ(d.sample, Sample{});

  // Raw values tell null (the text "null") from a missing member (empty).
  EXPECT_EQ(decodeSample(R"({"args":null})").sample.args.text, "null");
  EXPECT_EQ(decodeSample(R"({"args":  "x" })").sample.args.text, R"("x")");
  EXPECT_EQ(decodeSample("{}").sample.args.text, "");
}

TEST(JsonDecodeObject, WrongTypeIsAnErrorButTheOtherFieldsAreFilled) {
  Decoded d = decodeSample(
      R"({"flag":"yes","maybe":1,"ratio":"2","id":2.5,"count":-1,"name":7,"runtime":[],)"
      R"("tags":["a",5,"c"],"inner":{"x":"3","y":4},"items":[{"id":1},"two",{"id":"3"},{"id":4}],)"
      R"("optionalId":9})");
  ASSERT_FALSE(d.status.ok());
  // The first error, in the order the fields were read, is the one reported.
  EXPECT_THAT(d.status.error().message, HasSubstr("\"flag\""));
  Sample want;
  want.optionalId = 9;
  want.tags = {"a", "", "c"};
  want.innerY = 4;
  want.itemIds = {1, 0, 0, 4};
  EXPECT_EQ(d.sample, want);

  Decoded nested = decodeSample(R"({"inner":{"x":"3"},"name":"n"})");
  ASSERT_FALSE(nested.status.ok());
  EXPECT_THAT(nested.status.error().message, HasSubstr("\"inner.x\""));
  EXPECT_EQ(nested.sample.name, "n");

  Decoded notObject = decodeSample(R"({"inner":5,"items":{},"name":"n"})");
  EXPECT_FALSE(notObject.status.ok());
  EXPECT_EQ(notObject.sample.name, "n");
  EXPECT_TRUE(notObject.sample.itemIds.empty());
}

TEST(JsonDecodeObject, IntegersMustBeWholeAndInRange) {
  struct Case {
    const char* value;
    std::optional<int64_t> want;  // nothing: a type error
  } cases[] = {
      {"7", 7},
      {"-0", 0},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", std::nullopt},
      {"-9223372036854775809", std::nullopt},
      {"1.5", std::nullopt},
      {"1.0", std::nullopt},
      {"1e2", std::nullopt},
      {"1E2", std::nullopt},
      {"\"3\"", std::nullopt},
      {"true", std::nullopt},
      {"[1]", std::nullopt},
  };
  for (const Case& c : cases) {
    // "flag" after the bad member shows that decoding went on.
    const std::string text = std::string(R"({"id":)") + c.value + R"(,"flag":true})";
    Decoded d = decodeSample(text);
    EXPECT_EQ(d.status.ok(), c.want.has_value()) << text;
    EXPECT_EQ(d.sample.id, c.want.value_or(0)) << text;
    EXPECT_TRUE(d.sample.flag) << text;
    // The optional form tells a type error (absent) from zero.
    Decoded optional = decodeSample(std::string(R"({"optionalId":)") + c.value + "}");
    EXPECT_EQ(optional.sample.optionalId, c.want) << text;
  }
  struct UnsignedCase {
    const char* value;
    std::optional<uint32_t> want;
  } unsignedCases[] = {
      {"0", 0u},
      {"4294967295", 4294967295u},
      {"4294967296", std::nullopt},
      {"-1", std::nullopt},
      {"-0", std::nullopt},
      {"2.0", std::nullopt},
  };
  for (const UnsignedCase& c : unsignedCases) {
    Decoded d = decodeSample(std::string(R"({"count":)") + c.value + "}");
    EXPECT_EQ(d.status.ok(), c.want.has_value()) << c.value;
    EXPECT_EQ(d.sample.count, c.want.value_or(0)) << c.value;
  }
}

TEST(JsonDecodeObject, ReadsFloatsAsDoubles) {
  struct Case {
    const char* value;
    std::optional<double> want;
  } cases[] = {
      {"12", 12},
      {"-0", 0},
      {"1e2", 100},
      {"0.1", 0.1},
      {"18446744073709551616", 18446744073709551616.0},
      {"1e-400", 0},
      {"1e400", std::nullopt},
      {"\"1\"", std::nullopt},
  };
  for (const Case& c : cases) {
    Decoded d = decodeSample(std::string(R"({"ratio":)") + c.value + R"(,"flag":true})");
    EXPECT_EQ(d.status.ok(), c.want.has_value()) << c.value;
    EXPECT_EQ(d.sample.ratio, c.want.value_or(0)) << c.value;
    EXPECT_TRUE(d.sample.flag) << c.value;
  }
  EXPECT_TRUE(std::signbit(decodeSample(R"({"ratio":-0.0})").sample.ratio));
  EXPECT_TRUE(std::signbit(decodeSample(R"({"ratio":-0})").sample.ratio));
  EXPECT_TRUE(std::signbit(decodeSample(R"({"ratio":-1e-400})").sample.ratio));
  EXPECT_FALSE(std::signbit(decodeSample(R"({"ratio":0})").sample.ratio));
}

TEST(JsonDecodeObject, TextThatIsNotOneObjectFillsNothing) {
  struct Case {
    const char* text;
    bool ok;
  } cases[] = {
      {"null", true},
      {" null\n", true},
      {"", false},
      {"nonsense", false},
      {R"({"name":"a","flag":true)", false},
      {R"({"name":"a","flag":true} x)", false},
      {R"({"name":"a","flag":true}{})", false},
      {R"({"name":"a","flag":true,})", false},
      {R"([{"name":"a","flag":true}])", false},
      {R"("name")", false},
      {"3", false},
      {"true", false},
  };
  for (const Case& c : cases) {
    Decoded d = decodeSample(c.text);
    EXPECT_EQ(d.status.ok(), c.ok) << c.text;
    EXPECT_EQ(d.sample, Sample{}) << c.text;
  }
  Decoded padded = decodeSample(" \t{\"name\":\"a\"}\r\n");
  EXPECT_TRUE(padded.status.ok());
  EXPECT_EQ(padded.sample.name, "a");
}

TEST(JsonDecodeObject, RepairsInvalidTextInStrings) {
  Decoded d = decodeSample("{\"name\":\"a\xff\xc0\x80\\ud800b\",\"args\":[\"\xfe\"]}");
  ASSERT_TRUE(d.status.ok()) << d.status.error().message;
  EXPECT_EQ(d.sample.name, "a\uFFFD\uFFFD\uFFFD\uFFFDb");
  // A raw value keeps the escapes as written; invalid bytes are already U+FFFD.
  EXPECT_EQ(d.sample.args.text, "[\"\uFFFD\"]");
  EXPECT_FALSE(decodeSample("{\"name\":\"a\"\xff}").status.ok());
}

// Text without escapes is taken as it stands; escapes are resolved.
TEST(JsonDecodeObject, ReadsStringValuesWithAndWithoutEscapes) {
  struct Case {
    const char* text;
    const char* want;
  } cases[] = {
      {R"({"name":"plain"})", "plain"},
      {R"({"name":""})", ""},
      {"{\"name\":\"\xc3\xa9\xf0\x9f\x98\x80 </script>\"}", "\u00e9\U0001F600 </script>"},
      {R"({"name":"a\"b"})", "a\"b"},
      {R"({"name":"back\\slash"})", "back\\slash"},
      {R"({"name":"\u00e9\n\/"})", "\u00e9\n/"},
      {R"({"name" : "spaced" })", "spaced"},
  };
  for (const Case& c : cases) {
    Decoded d = decodeSample(c.text);
    EXPECT_TRUE(d.status.ok()) << c.text;
    EXPECT_EQ(d.sample.name, c.want) << c.text;
  }
}

TEST(JsonDecodeObject, RawValuesGoBackOutCompacted) {
  Decoded d = decodeSample(R"({"args": { "b" : 1.50, "a" : "<x>", "b" : [ ] } })");
  ASSERT_TRUE(d.status.ok());
  json::Writer w;
  w.beginObject().key("state").raw(d.sample.args.text).key("none").raw(d.sample.name).endObject();
  EXPECT_EQ(w.text(), R"({"state":{"b":1.50,"a":"\u003cx\u003e","b":[]},"none":null})");
}

TEST(JsonObject, FindAndRawTextSeeTheMatchedMember) {
  auto status =
      json::decodeObject(R"({"Label":"x","label":"y","n":null,"v":[1, 2]})", [](json::Object& o) {
        ASSERT_NE(o.find("label"), nullptr);
        EXPECT_EQ(*o.find("label"), "y");
        EXPECT_EQ(*o.find("LABEL"), "y");
        EXPECT_EQ(o.find("n"), nullptr);
        EXPECT_EQ(o.find("missing"), nullptr);
        EXPECT_EQ(o.rawText("v"), "[1, 2]");
        EXPECT_EQ(o.rawText("n"), "null");
        EXPECT_EQ(o.rawText("missing"), "");
        o.typeError("v", "menu");
        o.typeError("n", "menu");
      });
  ASSERT_FALSE(status.ok());
  EXPECT_THAT(status.error().message, HasSubstr("\"v\""));
}

TEST(JsonDecodeObjectList, GivesEveryRecordOrAnError) {
  struct Case {
    const char* text;
    bool ok;
    std::vector<int64_t> ids;  // what reached addOne
  } cases[] = {
      {"null", true, {}},
      {"[]", true, {}},
      {R"([{"id":1},{"ID":2},null])", true, {1, 2, 0}},
      {R"([{"id":1},2,{"id":3}])", false, {1, 0, 3}},
      {R"([{"id":"1"}])", false, {0}},
      {R"({"id":1})", false, {}},
      {R"([{"id":1})", false, {}},
      {R"([{"id":1}] [])", false, {}},
  };
  for (const Case& c : cases) {
    std::vector<int64_t> ids;
    auto status =
        json::decodeObjectList(c.text, [&](json::Object& o) { o.field("id", ids.emplace_back()); });
    EXPECT_EQ(status.ok(), c.ok) << c.text;
    EXPECT_EQ(ids, c.ids) << c.text;
  }
}

TEST(JsonDecodeMembers, KeepsTheLastOfDuplicatesAndExactNames) {
  using Members = std::map<std::string, json::RawValue>;
  struct Case {
    const char* text;
    std::optional<Members> want;  // nothing: an error
  } cases[] = {
      {R"({"a":1,"a":2})", Members{{"a", {"2"}}}},
      {R"({"A":1,"a":2})", Members{{"A", {"1"}}, {"a", {"2"}}}},
      {R"( { "s" : "x y" , "o" : { "k" : [ 1 ] } , "n" : null } )",
       Members{{"n", {"null"}}, {"o", {R"({ "k" : [ 1 ] })"}}, {"s", {R"("x y")"}}}},
      {R"({"\u0061":true})", Members{{"a", {"true"}}}},
      {"{}", Members{}},
      {"null", Members{}},
      {"[1]", std::nullopt},
      {R"("a")", std::nullopt},
      {"{", std::nullopt},
      {R"({"a":1} 2)", std::nullopt},
  };
  for (const Case& c : cases) {
    auto members = json::decodeMembers(c.text);
    ASSERT_EQ(members.ok(), c.want.has_value()) << c.text;
    if (members.ok()) {
      EXPECT_EQ(*members, *c.want) << c.text;
    }
  }
}

}  // namespace
