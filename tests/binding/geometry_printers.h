// Readable failure messages for the geometry records.
#pragma once

#include <ostream>

#include "binding/geometry.h"

namespace nimbrel {

inline void PrintTo(const Rect& r, std::ostream* os) {
  *os << "{x " << r.X << ", y " << r.Y << ", width " << r.Width << ", height " << r.Height << "}";
}

inline void PrintTo(const Display& d, std::ostream* os) {
  *os << "Display{id " << d.ID << ", bounds ";
  PrintTo(d.Bounds, os);
  *os << ", workArea ";
  PrintTo(d.WorkArea, os);
  *os << ", scaleFactor " << d.ScaleFactor << ", isPrimary " << d.IsPrimary << "}";
}

}  // namespace nimbrel
