// Writing JSON: the exact bytes of strings, numbers, raw values and whole
// values, compact and indented.
#include "support/json.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>

namespace {

namespace json = support::json;
using ::testing::HasSubstr;

TEST(JsonQuote, EscapesAsGoWithHtmlSafety) {
  struct Case {
    std::string in;
    std::string want;
  } cases[] = {
      {"", R"("")"},
      {"plain text / slash", R"("plain text / slash")"},
      {"\"quoted\" \\back\\", R"("\"quoted\" \\back\\")"},
      {"a\nb\rc\td", R"("a\nb\rc\td")"},
      {"\b\f", R"("\u0008\u000c")"},
      {std::string("\x00\x01\x1f", 3), R"("\u0000\u0001\u001f")"},
      {"\x7f", "\"\x7f\""},
      {"<script>&amp;</script>", R"("\u003cscript\u003e\u0026amp;\u003c/script\u003e")"},
      {"line\u2028para\u2029", R"("line\u2028para\u2029")"},
      {"é 日本 😀 \uFFFD", "\"é 日本 😀 \uFFFD\""},
      // One U+FFFD for every byte that starts no valid character.
      {"a\xff"
       "b",
       R"("a\ufffdb")"},
      {"\xe2\x82", R"("\ufffd\ufffd")"},                      // cut short
      {"\xed\xa0\x80", R"("\ufffd\ufffd\ufffd")"},            // a surrogate
      {"\xc0\x80", R"("\ufffd\ufffd")"},                      // overlong
      {"\xf4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"},  // beyond U+10FFFF
      {"\x80"
       "x\xe2\x82\xac",
       "\"\\ufffdx\xe2\x82\xac\""},  // stray continuation, then €
  };
  for (const Case& c : cases) EXPECT_EQ(json::quote(c.in), c.want) << c.in;
}

TEST(JsonNumber, ShortestTextWithExponentOnlyAtTheExtremes) {
  struct Case {
    double in;
    const char* want;
  } cases[] = {
      {1280, "1280"},
      {-23, "-23"},
      {1280.5, "1280.5"},
      {0.1, "0.1"},
      {0.1 + 0.2, "0.30000000000000004"},
      {0, "0"},
      {-0.0, "-0"},
      {1e20, "100000000000000000000"},
      {123456789012345678901.0, "123456789012345680000"},
      {999999999999999868928.0, "999999999999999900000"},  // the largest double below 1e21
      {1e21, "1e+21"},
      {-1.5e21, "-1.5e+21"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {1e-6, "0.000001"},
      {0.0000012345, "0.0000012345"},
      {9.99e-7, "9.99e-7"},
      {1e-7, "1e-7"},
      {1.5e-7, "1.5e-7"},
      {1e-100, "1e-100"},
      {5e-324, "5e-324"},
      {std::numeric_limits<double>::quiet_NaN(), "null"},
      {std::numeric_limits<double>::infinity(), "null"},
      {-std::numeric_limits<double>::infinity(), "null"},
  };
  for (const Case& c : cases) EXPECT_EQ(json::formatNumber(c.in), c.want) << c.want;
}

TEST(JsonNumber, ReadsBackAsTheSameDouble) {
  // Half the values from random bits (mostly huge or tiny), half around the
  // range that is written without an exponent.
  std::mt19937_64 bits(20240611);
  std::uniform_real_distribution<double> mantissa(1, 10);
  std::uniform_int_distribution<int> decade(-9, 23);
  int checked = 0;
  while (checked < 40000) {
    const double d = checked % 2 == 0 ? std::bit_cast<double>(bits())
                                      : mantissa(bits) * std::pow(10.0, decade(bits));
    if (!std::isfinite(d)) continue;
    ++checked;
    const std::string text = json::formatNumber(d);
    double back = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_TRUE(ec == std::errc() && end == text.data() + text.size()) << text;
    ASSERT_EQ(std::bit_cast<uint64_t>(back), std::bit_cast<uint64_t>(d)) << text;
    const double magnitude = std::fabs(d);
    const bool exponent = text.find('e') != std::string::npos;
    ASSERT_EQ(exponent, magnitude != 0 && (magnitude < 1e-6 || magnitude >= 1e21)) << text;
    if (exponent) {
      ASSERT_EQ(text.find("e-0"), std::string::npos) << text;
    }
  }
}

TEST(JsonWriter, PlacesSeparatorsAndKeepsFieldOrder) {
  json::Writer w;
  w.beginObject();
  w.key("zeta").integer(INT64_MIN);
  w.key("alpha").beginArray().boolean(true).null().number(0.5).endArray();
  w.key("empty").beginObject().endObject();
  w.key("list").null();
  w.key("<k>").beginArray().beginArray().endArray().unsignedInteger(UINT64_MAX).endArray();
  w.key("s").string("a\"b");
  w.endObject();
  const std::string want =
      R"({"zeta":-9223372036854775808,"alpha":[true,null,0.5],"empty":{},"list":null,)"
      R"("\u003ck\u003e":[[],18446744073709551615],"s":"a\"b"})";
  EXPECT_EQ(w.text(), want);
  EXPECT_FALSE(w.failed());
  auto finished = w.finish();
  ASSERT_TRUE(finished.ok()) << finished.error().message;
  EXPECT_EQ(*finished, want);
}

// A frame of NaN must not turn into a file holding null: the caller learns
// that the text cannot be written and keeps what it had.
TEST(JsonWriter, AValueJsonCannotHoldFailsTheWholeText) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  json::Value nested = json::Value::parse(R"({"a":[1,{"b":2}]})");
  nested["a"][1]["c"] = -inf;
  struct Case {
    const char* name;
    std::function<void(json::Writer&)> write;
    const char* message;
  } cases[] = {
      {"NaN", [&](json::Writer& w) { w.number(nan); }, "not finite"},
      {"infinity", [&](json::Writer& w) { w.number(inf); }, "not finite"},
      {"minus infinity", [&](json::Writer& w) { w.number(-inf); }, "not finite"},
      {"a value holding NaN", [&](json::Writer& w) { w.value(json::Value(nan)); }, "not finite"},
      {"a nested infinity", [&](json::Writer& w) { w.value(nested); }, "not finite"},
      {"raw text cut short", [](json::Writer& w) { w.raw("{\"a\":"); }, "not JSON"},
      {"two raw values", [](json::Writer& w) { w.raw("1 2"); }, "not JSON"},
      {"raw white space", [](json::Writer& w) { w.raw("  \n"); }, "not JSON"},
      {"raw invalid byte", [](json::Writer& w) { w.raw("\xff"); }, "not JSON"},
      {"raw NaN", [](json::Writer& w) { w.raw("NaN"); }, "not JSON"},
  };
  for (const Case& c : cases) {
    json::Writer w;
    w.beginObject().key("X").number(100).key("bad");
    c.write(w);
    w.key("Y").number(50).endObject();
    EXPECT_TRUE(w.failed()) << c.name;
    auto finished = w.finish();
    ASSERT_FALSE(finished.ok()) << c.name << ": " << *finished;
    EXPECT_THAT(finished.error().message, HasSubstr(c.message)) << c.name;
    EXPECT_THAT(finished.error().message, HasSubstr("json: ")) << c.name;
  }
}

TEST(JsonWriter, TheFirstFailureIsTheOneReported) {
  json::Writer w;
  w.beginArray().raw("{").number(std::nan("")).endArray();
  auto finished = w.finish();
  ASSERT_FALSE(finished.ok());
  EXPECT_THAT(finished.error().message, HasSubstr("not JSON"));
}

TEST(JsonWriter, AnEmptyRawValueIsNullAndNoFailure) {
  json::Writer w;
  w.beginObject().key("state").raw("").key("n").number(-0.0).endObject();
  auto finished = w.finish();
  ASSERT_TRUE(finished.ok()) << finished.error().message;
  EXPECT_EQ(*finished, R"({"state":null,"n":-0})");
}

TEST(JsonWriter, InsertsRawValuesCompacted) {
  struct Case {
    std::string raw;
    std::string want;  // "null" for text that is not JSON, which fails the writer
  } cases[] = {
      {" { \"b\" : 1 ,\n\t\"a\" : [ 1.50 , true ] , \"b\" : 2e0 } ",
       R"({"b":1,"a":[1.50,true],"b":2e0})"},
      {R"(["a b", " <x> & y "])", R"(["a b"," \u003cx\u003e \u0026 y "])"},
      {R"("\u0041\/\n\ud800")", R"("\u0041\/\n\ud800")"},  // escapes as written
      {"\"\xe2\x80\xa8\"", R"("\u2028")"},
      {"\"a\xff\"", R"("a\ufffd")"},
      {"-0", "-0"},
      {"null", "null"},
      {"", "null"},
      {"   ", "null"},
      {"{", "null"},
      {"1 2", "null"},
      {"\xff", "null"},
      {"{\"a\":1,}", "null"},
  };
  for (const Case& c : cases) {
    json::Writer w;
    w.beginArray().raw(c.raw).raw(c.raw).endArray();
    EXPECT_EQ(w.text(), "[" + c.want + "," + c.want + "]") << c.raw;
    const bool notJson = c.want == "null" && c.raw != "null" && !c.raw.empty();
    EXPECT_EQ(w.failed(), notJson) << c.raw;
  }
}

TEST(JsonEncode, SortsMapKeysBytewise) {
  json::Value v = json::Value::parse(
      R"({"b":1,"a":{"z":[],"y":{}},"B":-5,"é":0.1,"_":18446744073709551615,"&":"<>"})");
  v["f"] = -0.0;
  v["g"] = 1e21;
  v["h"] = std::numeric_limits<double>::infinity();
  EXPECT_EQ(json::encode(v),
            R"({"\u0026":"\u003c\u003e","B":-5,"_":18446744073709551615,"a":{"y":{},"z":[]},)"
            R"("b":1,"f":-0,"g":1e+21,"h":null,"é":0.1})");
  EXPECT_EQ(json::encode(json::Value()), "null");
  json::Writer w;
  w.beginArray().value(json::Value::parse(R"({"b":[1.50],"a":"x"})")).endArray();
  EXPECT_EQ(w.text(), R"([{"a":"x","b":[1.5]}])");
}

TEST(JsonEncode, HandlesDeepNesting) {
  const std::string deep = std::string(5000, '[') + "{\"a\":1}" + std::string(5000, ']');
  auto v = json::parse(deep);
  ASSERT_TRUE(v.ok()) << v.error().message;
  EXPECT_EQ(json::encode(*v), deep);
}

TEST(JsonEncodeIndented, IndentsLikeGoMarshalIndent) {
  struct Case {
    const char* in;
    const char* want;
  } cases[] = {
      {R"({"closeToTray":true})", "{\n  \"closeToTray\": true\n}"},
      {R"({"d":[],"c":{},"a":[1,{"b":null}]})",
       "{\n  \"a\": [\n    1,\n    {\n      \"b\": null\n    }\n  ],\n  \"c\": {},\n  \"d\": "
       "[]\n}"},
      {"[]", "[]"},
      {R"("<")", R"("\u003c")"},
      {"2.50", "2.5"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(json::encodeIndented(json::Value::parse(c.in)), c.want) << c.in;
  }
}

}  // namespace
