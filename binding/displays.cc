// The primary display and the list of all displays, as the core describes
// them in JSON.
#include "binding/displays.h"

#include <string>
#include <vector>

#include "binding/nimbrel.h"
#include "binding/nm_helpers.h"
#include "support/json.h"

namespace nimbrel {
namespace {

void fillRect(support::json::Object& object, Rect& rect) {
  object.field("x", rect.X);
  object.field("y", rect.Y);
  object.field("width", rect.Width);
  object.field("height", rect.Height);
}

void fillDisplay(support::json::Object& object, Display& display) {
  object.field("id", display.ID);
  object.object("bounds", [&](support::json::Object& bounds) { fillRect(bounds, display.Bounds); });
  object.object("workArea",
                [&](support::json::Object& workArea) { fillRect(workArea, display.WorkArea); });
  object.field("scaleFactor", display.ScaleFactor);
  object.field("isPrimary", display.IsPrimary);
}

}  // namespace

Display ParseDisplayJSON(const std::string& text) {
  Display display;
  // The decoding error is dropped on purpose: whatever decoded is still
  // better than nothing for placing windows.
  (void)support::json::decodeObject(
      text, [&](support::json::Object& object) { fillDisplay(object, display); });
  return display;
}

support::Result<Display> Core::GetPrimaryDisplay() const {
  // The text stays the core's: it is copied, never released.
  const char* text = nm_call_string_ret(symbol("getPrimaryDisplay"));
  if (text == nullptr) return lastCallFailed();
  return ParseDisplayJSON(text);
}

support::Result<std::vector<Display>> Core::GetAllDisplays() const {
  const char* text = nm_call_string_ret(symbol("getAllDisplays"));
  if (text == nullptr) return lastCallFailed();
  std::vector<Display> displays;
  auto status = support::json::decodeObjectList(
      text, [&](support::json::Object& object) { fillDisplay(object, displays.emplace_back()); });
  if (!status) return status.error();
  return displays;
}

}  // namespace nimbrel
