// The configured display list: display objects as the core describes them
// ({"id", "bounds", "workArea", "scaleFactor", "isPrimary"}), exactly one of
// them primary.
#pragma once

#include <optional>
#include <string>

#include "state.h"

namespace standin {

Rect rectFrom(const json& r);
// Checks a list given by a test; returns the reason it is refused, if it is.
std::optional<std::string> invalidDisplayList(const json& displays);
const json& primaryDisplay(const Model& m);
// The display whose bounds hold the point, else the primary one.
const json& displayAt(const Model& m, double x, double y);

}  // namespace standin
