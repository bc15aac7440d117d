// The primary display and all displays as the stand-in core answers them.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "binding/displays.h"
#include "tests/binding/core_fixture.h"
#include "tests/binding/geometry_printers.h"

namespace {

using nimbrel::Display;
using nimbrel::Rect;
using nlohmann::json;

class DisplaysTest : public testing_support::CoreTest {
 protected:
  void answerText(const std::string& fn, const std::string& text) {
    command({{"cmd", "display-answer"}, {"fn", fn}, {"text", text}});
  }
  void answerNull(const std::string& fn, const std::optional<std::string>& error) {
    json cmd = {{"cmd", "display-answer"}, {"fn", fn}, {"null", true}};
    if (error) cmd["error"] = *error;
    command(cmd);
  }
};

const Display kBuiltIn{1, {0, 0, 1440, 900}, {0, 25, 1440, 875}, 2, true};

TEST_F(DisplaysTest, TheCoresDisplaysAsConfigured) {
  auto primary = core().GetPrimaryDisplay();
  ASSERT_TRUE(primary.ok()) << primary.error().message;
  EXPECT_EQ(*primary, kBuiltIn);

  command({{"cmd", "set-displays"},
           {"displays",
            {{{"id", 5},
              {"bounds", {{"x", -1920}, {"y", -120}, {"width", 1920}, {"height", 1080}}},
              {"workArea", {{"x", -1920}, {"y", -120}, {"width", 1920}, {"height", 1050}}},
              {"scaleFactor", 1},
              {"isPrimary", false}},
             {{"id", 1},
              {"bounds", {{"x", 0}, {"y", 0}, {"width", 1440}, {"height", 900}}},
              {"workArea", {{"x", 0}, {"y", 25}, {"width", 1440}, {"height", 875}}},
              {"scaleFactor", 2},
              {"isPrimary", true}}}}});
  auto all = core().GetAllDisplays();
  ASSERT_TRUE(all.ok()) << all.error().message;
  const Display external{5, {-1920, -120, 1920, 1080}, {-1920, -120, 1920, 1050}, 1, false};
  EXPECT_EQ(*all, (std::vector<Display>{external, kBuiltIn}));
  primary = core().GetPrimaryDisplay();
  ASSERT_TRUE(primary.ok());
  EXPECT_EQ(*primary, kBuiltIn);
}

TEST_F(DisplaysTest, ThePrimaryDisplayDropsDecodingErrors) {
  struct Case {
    const char* text;
    Display expected;
  } cases[] = {
      {R"({"id": 2, "workArea": {"x": 0, "y": 25, "width": 1440, "height": 875},
           "scaleFactor": 2, "isPrimary": true})",
       Display{2, {}, {0, 25, 1440, 875}, 2, true}},
      {"not json", {}},
      {"", {}},
      {R"({"id":3,"scaleFactor":"2","isPrimary":true})", Display{3, {}, {}, 0, true}},
  };
  for (const auto& c : cases) {
    answerText("getPrimaryDisplay", c.text);
    auto display = core().GetPrimaryDisplay();
    ASSERT_TRUE(display.ok()) << c.text;
    EXPECT_EQ(*display, c.expected) << c.text;
  }
}

TEST_F(DisplaysTest, AllDisplaysFailOnAnyDecodingError) {
  const Display first{1, {}, {0, 25, 1440, 875}, 2, true};
  struct Case {
    const char* text;
    std::optional<std::vector<Display>> expected;  // nullopt: an error
  } cases[] = {
      {"[]", std::vector<Display>{}},
      {"null", std::vector<Display>{}},
      {R"([{"id":1,"workArea":{"x":0,"y":25,"width":1440,"height":875},"scaleFactor":2,
           "isPrimary":true},{"ID":2,"WorkArea":{"X":10}}])",
       std::vector<Display>{first, Display{2, {}, {10, 0, 0, 0}, 0, false}}},
      {R"({"id":1})", std::nullopt},
      {R"([{"id":1},{"id":1.5}])", std::nullopt},
      {R"([{"id":1},{"workArea":{"x":"0"}}])", std::nullopt},
      {R"([{"id":1},2])", std::nullopt},
      {"[", std::nullopt},
      {"", std::nullopt},
      {R"("displays")", std::nullopt},
  };
  for (const auto& c : cases) {
    answerText("getAllDisplays", c.text);
    auto displays = core().GetAllDisplays();
    if (!c.expected) {
      EXPECT_FALSE(displays.ok()) << c.text;
      continue;
    }
    ASSERT_TRUE(displays.ok()) << c.text << ": " << displays.error().message;
    EXPECT_EQ(*displays, *c.expected) << c.text;
  }
}

TEST_F(DisplaysTest, NoTextFailsWithTheLastErrorEvenWhenEmpty) {
  auto status = [](auto result) {
    return result.ok() ? support::Status() : support::Status(result.error());
  };
  struct Case {
    const char* fn;
    std::function<support::Status()> query;
  } cases[] = {
      {"getPrimaryDisplay", [&] { return status(core().GetPrimaryDisplay()); }},
      {"getAllDisplays", [&] { return status(core().GetAllDisplays()); }},
  };
  for (const auto& c : cases) {
    for (const std::optional<std::string>& error :
         {std::optional<std::string>("no screens attached"), std::optional<std::string>()}) {
      answerNull(c.fn, error);
      auto failed = c.query();
      ASSERT_FALSE(failed.ok()) << c.fn;
      EXPECT_EQ(failed.error().message, error.value_or("")) << c.fn;
    }
    command({{"cmd", "display-answer"}, {"fn", c.fn}});
    EXPECT_TRUE(c.query().ok()) << c.fn;
  }
}

}  // namespace
