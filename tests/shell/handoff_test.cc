// The hand-off message: the bytes a later launch sends, and what the running
// instance makes of the bytes one connection delivers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "shell/instance.h"

namespace {

using shell::decodeHandoff;
using shell::handoffReader;
using Args = std::vector<std::string>;

TEST(HandoffMessage, IsOneCompactObjectAndALineFeed) {
  struct Case {
    Args args;
    std::string message;
  } cases[] = {
      {{}, "{\"args\":null}\n"},
      {{""}, "{\"args\":[\"\"]}\n"},
      {{"brovik-work://inbox/1", "--autostart"},
       "{\"args\":[\"brovik-work://inbox/1\",\"--autostart\"]}\n"},
      {{"<a href=\"x\">&</a>"},
       "{\"args\":[\"\\u003ca href=\\\"x\\\"\\u003e\\u0026\\u003c/a\\u003e\"]}\n"},
      {{"line\nbreak\ttab\\"}, "{\"args\":[\"line\\nbreak\\ttab\\\\\"]}\n"},
      {{"\xe2\x80\xa8\xe2\x80\xa9"}, "{\"args\":[\"\\u2028\\u2029\"]}\n"},
      {{"bad \xff byte"}, "{\"args\":[\"bad \\ufffd byte\"]}\n"},
      {{"\x01"}, "{\"args\":[\"\\u0001\"]}\n"},
      {{"caf\xc3\xa9"}, "{\"args\":[\"caf\xc3\xa9\"]}\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shell::encodeHandoff(c.args), c.message);
    // What goes out comes back as it went, invalid UTF-8 aside.
    auto back = decodeHandoff(c.message);
    ASSERT_TRUE(back.ok()) << c.message << ": " << back.error().message;
    if (c.args != Args{"bad \xff byte"}) {
      EXPECT_EQ(back->Args, c.args) << c.message;
    }
  }
}

TEST(HandoffMessage, ArgumentListForTheLauncher) {
  EXPECT_EQ(shell::encodeArgList({}), "null");
  EXPECT_EQ(shell::encodeArgList({"a", "<b>"}), "[\"a\",\"\\u003cb\\u003e\"]");
}

TEST(HandoffMessage, DecodesTheFirstValueOfAConnection) {
  struct Case {
    std::string received;
    Args args;
  } cases[] = {
      {"{\"args\":[\"a\",\"b\"]}\n", {"a", "b"}},
      {"{\"args\":null}\n", {}},
      {"{}", {}},
      {"{\"other\":{\"x\":[1,2,{}]},\"args\":[\"a\"]}", {"a"}},
      {"{\"ARGS\":[\"case-blind\"]}", {"case-blind"}},
      {"{\"args\":[\"a\",null]}", {"a", ""}},
      {" \r\n\t{\"args\":[]}", {}},
      // Only the first value counts; what follows is never looked at.
      {"{\"args\":[\"first\"]}{\"args\":[\"second\"]}", {"first"}},
      {"{\"args\":[\"first\"]}\nnot json at all [[[", {"first"}},
      // Brackets and quotes inside strings do not end the value.
      {"{\"args\":[\"}\",\"]\",\"\\\"}\",\"\\\\\"]}tail", {"}", "]", "\"}", "\\"}},
      {"{\"args\":[\"\\u003c\\ud83d\\ude00\"]}", {"<\xf0\x9f\x98\x80"}},
  };
  for (const auto& c : cases) {
    auto got = decodeHandoff(c.received);
    ASSERT_TRUE(got.ok()) << c.received << ": " << got.error().message;
    EXPECT_EQ(got->Args, c.args) << c.received;
  }
}

TEST(HandoffMessage, RefusesWhatIsNotOneObjectWithAListOfText) {
  const std::string refused[] = {
      "",
      "   \n",
      "not json",
      "null",
      "true",
      "5",
      "\"args\"",
      "[\"a\"]",
      "{\"args\":\"a\"}",
      "{\"args\":[1]}",
      "{\"args\":[\"a\",[\"b\"]]}",
      "{\"args\":{}}",
      "{\"args\":true}",
      "{\"args\":[\"a\"]",          // the stream ended inside the value
      "{\"args\":[\"a\"],}",        // a trailing comma
      "{\"args\":[\"a\"]]",         // brackets that do not pair
      "{\"args\":[\"a\nb\"]}",      // a raw line feed inside a string
      "{\"args\":[\"a\"] \"x\"}",   // a missing comma
      "\xef\xbb\xbf{\"args\":[]}",  // a byte-order mark
  };
  for (const std::string& received : refused) {
    EXPECT_FALSE(decodeHandoff(received).ok()) << received;
  }
}

// The connection delivers the message in pieces of any size; the result is
// the same as for the whole, and the reader asks for no more once the first
// value is complete.
TEST(HandoffMessage, PiecesReadLikeTheWhole) {
  const std::string inputs[] = {
      "{\"args\":[\"a\",\"}\\\"]\"]}{\"args\":[\"b\"]}",
      "  {\"x\":{\"y\":[[],{}]},\"args\":null}",
      "{\"args\":[1]}",
      "[\"a\"]",
      "{\"args\":[\"unterminated",
  };
  for (const std::string& input : inputs) {
    const auto whole = decodeHandoff(input);
    handoffReader reader;
    size_t fed = 0;
    while (fed < input.size() && !reader.add(std::string_view(input).substr(fed, 1))) ++fed;
    const auto pieces = reader.decode();
    ASSERT_EQ(pieces.ok(), whole.ok()) << input;
    if (whole.ok()) {
      EXPECT_EQ(pieces->Args, whole->Args) << input;
    }
  }
}

TEST(HandoffMessage, ReaderStopsAtTheEndOfTheFirstValueOrAtItsFirstByteWhenNotAnObject) {
  handoffReader object;
  EXPECT_FALSE(object.add("  {\"args\":[\"a\""));
  EXPECT_FALSE(object.done());
  EXPECT_TRUE(object.add("]}{\"args\""));
  EXPECT_TRUE(object.add("more bytes are not taken"));
  ASSERT_TRUE(object.decode().ok());
  EXPECT_EQ(object.decode()->Args, Args{"a"});

  handoffReader list;
  EXPECT_TRUE(list.add("[\"a\"]"));
  EXPECT_FALSE(list.decode().ok());
}

// A sender cannot make the instance keep an endless message.
TEST(HandoffMessage, RefusesAMessageBeyondTheBound) {
  const std::string head = "{\"args\":[\"";
  const std::string tail = "\"]}";
  const std::string fill(handoffReader::kMaxBytes - head.size() - tail.size(), 'x');

  auto atBound = decodeHandoff(head + fill + tail);
  ASSERT_TRUE(atBound.ok()) << atBound.error().message;
  EXPECT_EQ(atBound->Args.at(0).size(), fill.size());

  handoffReader over;
  EXPECT_FALSE(over.add(head + fill));
  EXPECT_TRUE(over.add("xxxx"));  // one byte too many: the reader gives up at once
  EXPECT_TRUE(over.done());
  EXPECT_THAT(over.decode().error().message, testing::HasSubstr("longer than"));
}

}  // namespace
