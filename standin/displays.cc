#include "displays.h"

namespace standin {

namespace {

bool isRect(const json& r) {
  if (!r.is_object()) return false;
  for (const char* key : {"x", "y", "width", "height"}) {
    if (!r.contains(key) || !r[key].is_number()) return false;
  }
  return true;
}

bool contains(const Rect& r, double x, double y) {
  return r.x <= x && x < r.x + r.width && r.y <= y && y < r.y + r.height;
}

}  // namespace

Rect rectFrom(const json& r) {
  return {r.value("x", 0.0), r.value("y", 0.0), r.value("width", 0.0), r.value("height", 0.0)};
}

std::optional<std::string> invalidDisplayList(const json& displays) {
  if (!displays.is_array() || displays.empty()) return "displays must be a non-empty array";
  int primaries = 0;
  for (const json& d : displays) {
    if (!d.is_object()) return "each display must be an object";
    if (!d.contains("id") || !d["id"].is_number_integer())
      return "each display needs an integer id";
    if (!d.contains("bounds") || !isRect(d["bounds"])) return "each display needs bounds";
    if (!d.contains("workArea") || !isRect(d["workArea"])) return "each display needs a workArea";
    if (!d.contains("scaleFactor") || !d["scaleFactor"].is_number()) {
      return "each display needs a scaleFactor";
    }
    if (!d.contains("isPrimary") || !d["isPrimary"].is_boolean()) {
      return "each display needs isPrimary";
    }
    if (d["isPrimary"].get<bool>()) ++primaries;
  }
  if (primaries != 1) return "exactly one display must be primary";
  return std::nullopt;
}

const json& primaryDisplay(const Model& m) {
  for (const json& d : m.displays) {
    if (d["isPrimary"].get<bool>()) return d;
  }
  return m.displays.at(0);
}

const json& displayAt(const Model& m, double x, double y) {
  for (const json& d : m.displays) {
    if (contains(rectFrom(d["bounds"]), x, y)) return d;
  }
  return primaryDisplay(m);
}

}  // namespace standin
