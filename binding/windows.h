// What describes a native window to create. The meaning of the style flags,
// the title-bar style names, the four flags and the two numbers is the core's;
// the binding hands them through.
#pragma once

#include <string>

#include "binding/callbacks.h"
#include "binding/geometry.h"

namespace nimbrel {

// Twelve style flags, turned into a style mask by the core's getWindowStyle.
struct WindowStyle {
  bool Flag1 = false;
  bool Flag2 = false;
  bool Flag3 = false;
  bool Flag4 = false;
  bool Flag5 = false;
  bool Flag6 = false;
  bool Flag7 = false;
  bool Flag8 = false;
  bool Flag9 = false;
  bool Flag10 = false;
  bool Flag11 = false;
  bool Flag12 = false;
  bool operator==(const WindowStyle&) const = default;
};

struct WindowOptions {
  std::string Title;
  Rect Frame;
  WindowStyle Style;
  std::string TitleBarStyle;
  bool Flag1 = false;  // goes to the core right after the title-bar style
  bool Flag2 = false;  // right after the title
  bool Flag3 = false;
  bool Flag4 = false;
  double Number1 = 0;
  double Number2 = 0;
  // Decides which adapters the core receives; registered under the new id.
  WindowCallbacks Callbacks;
};

// Style flags 2 to 5 set, the others clear.
WindowStyle StandardWindowStyle();
// The standard style, title-bar style "default" and Flag3 set; everything else
// false, 0 or empty.
WindowOptions NewWindowOptions(const std::string& title, const Rect& frame);

}  // namespace nimbrel
