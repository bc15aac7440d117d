#include "support/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(UTF8Decode, FollowsRFC3629) {
  struct Case {
    std::string in;
    char32_t value;
    size_t size;
    bool valid;
  } cases[] = {
      {"a", U'a', 1, true},
      {"\xC3\xA9x", 0xE9, 2, true},
      {"\xE2\x82\xAC", 0x20AC, 3, true},
      {"\xF0\x9F\x98\x80", 0x1F600, 4, true},
      {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4, true},
      {"\xEF\xBF\xBD", 0xFFFD, 3, true},
      {std::string("\0", 1), 0, 1, true},
      {"\x80", 0xFFFD, 1, false},              // a lone continuation byte
      {"\xC0\xAF", 0xFFFD, 1, false},          // overlong
      {"\xE0\x80\xAF", 0xFFFD, 1, false},      // overlong
      {"\xED\x9F\xBF", 0xD7FF, 3, true},       // just below the surrogates
      {"\xED\xA0\x80", 0xFFFD, 1, false},      // the first surrogate
      {"\xED\xBF\xBF", 0xFFFD, 1, false},      // the last surrogate
      {"\xEE\x80\x80", 0xE000, 3, true},       // just above them
      {"\xF4\x90\x80\x80", 0xFFFD, 1, false},  // above U+10FFFF
      {"\xF5\x80\x80\x80", 0xFFFD, 1, false},
      {"\xE2\x82", 0xFFFD, 1, false},  // cut short
      {"\xE2(\xAC", 0xFFFD, 1, false},
      {"\xFF", 0xFFFD, 1, false},
  };
  for (const Case& c : cases) {
    support::utf8::Rune r = support::utf8::decode(c.in);
    EXPECT_EQ(r.value, c.value) << testing::PrintToString(c.in);
    EXPECT_EQ(r.size, c.size) << testing::PrintToString(c.in);
    EXPECT_EQ(r.valid, c.valid) << testing::PrintToString(c.in);
  }
}

TEST(UTF8Append, RoundTripsEveryLength) {
  for (char32_t r : {U'a', char32_t{0x7F}, char32_t{0x80}, char32_t{0x7FF}, char32_t{0x800},
                     char32_t{0xFFFD}, char32_t{0x10000}, char32_t{0x10FFFF}}) {
    std::string text;
    support::utf8::append(text, r);
    support::utf8::Rune back = support::utf8::decode(text);
    EXPECT_TRUE(back.valid);
    EXPECT_EQ(back.value, r);
    EXPECT_EQ(back.size, text.size());
  }
}

}  // namespace
