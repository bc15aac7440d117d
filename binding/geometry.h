// Positions, sizes and displays in the core's screen coordinates.
#pragma once

#include <cstdint>

namespace nimbrel {

// JSON members "x", "y", "width", "height".
struct Rect {
  double X = 0;
  double Y = 0;
  double Width = 0;
  double Height = 0;
  bool operator==(const Rect&) const = default;
};

// JSON members "id", "bounds", "workArea", "scaleFactor", "isPrimary".
struct Display {
  int64_t ID = 0;
  Rect Bounds;
  Rect WorkArea;  // the part of the display that windows may use
  double ScaleFactor = 0;
  bool IsPrimary = false;
  bool operator==(const Display&) const = default;
};

}  // namespace nimbrel
