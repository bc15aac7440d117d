// How the core's description of one display is read.
#include "binding/displays.h"

#include <gtest/gtest.h>

#include "tests/binding/geometry_printers.h"

namespace {

using nimbrel::Display;
using nimbrel::ParseDisplayJSON;
using nimbrel::Rect;

Display display(int64_t id, Rect bounds, Rect workArea, double scale, bool primary) {
  return Display{id, bounds, workArea, scale, primary};
}

TEST(ParseDisplayJSON, TakesWhatDecodesAndLeavesTheRestZero) {
  const Rect workArea{0, 25, 1440, 875};
  const Rect full{-1920, -200.5, 1920, 1080};
  struct Case {
    const char* text;
    Display expected;
  } cases[] = {
      {R"({"id": 2, "workArea": {"x": 0, "y": 25, "width": 1440, "height": 875},
           "scaleFactor": 2, "isPrimary": true})",
       display(2, {}, workArea, 2, true)},
      {R"({"id":7,"bounds":{"x":-1920,"y":-200.5,"width":1920,"height":1080},
           "workArea":{"x":0,"y":25,"width":1440,"height":875},"scaleFactor":1.5,"isPrimary":false})",
       display(7, full, workArea, 1.5, false)},
      // Not JSON, empty, or not an object at the top: nothing at all.
      {"not json", {}},
      {"", {}},
      {R"({"id": 2,)", {}},
      {"null", {}},
      {R"([{"id":1}])", {}},
      {R"("display")", {}},
      {"3", {}},
      {"true", {}},
      // A member of the wrong type stays zero; the others are still taken.
      {R"({"id":2,"scaleFactor":"2","isPrimary":true})", display(2, {}, {}, 0, true)},
      {R"({"id":1.5,"scaleFactor":2})", display(0, {}, {}, 2, false)},
      {R"({"id":1e2,"scaleFactor":2})", display(0, {}, {}, 2, false)},
      {R"({"id":9223372036854775808,"isPrimary":true})", display(0, {}, {}, 0, true)},
      {R"({"id":-9223372036854775808})", display(INT64_MIN, {}, {}, 0, false)},
      {R"({"id":"3","isPrimary":"yes","scaleFactor":2})", display(0, {}, {}, 2, false)},
      {R"({"workArea":{"x":"0","y":25,"width":1440,"height":875},"id":4})",
       display(4, {}, {0, 25, 1440, 875}, 0, false)},
      {R"({"bounds":5,"workArea":{"x":0,"y":25,"width":1440,"height":875}})",
       display(0, {}, workArea, 0, false)},
      // Names by letter case only when no member has the exact name.
      {R"({"WORKAREA":{"X":0,"Y":25,"WIDTH":1440,"HEIGHT":875},"SCALEFACTOR":2,"ID":2})",
       display(2, {}, workArea, 2, false)},
      {R"({"SCALEFACTOR":3,"scaleFactor":2})", display(0, {}, {}, 2, false)},
      {R"({"scaleFactor":2,"ScaleFactor":3})", display(0, {}, {}, 2, false)},
      // Null and missing members are zero; others are ignored; the last duplicate counts.
      {R"({"id":null,"bounds":null,"scaleFactor":null,"isPrimary":null,"name":"Built-in"})", {}},
      {R"({"id":1,"id":3})", display(3, {}, {}, 0, false)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseDisplayJSON(c.text), c.expected) << c.text;
  }
}

}  // namespace
