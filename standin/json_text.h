// JSON helpers shared by the stand-in's files.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace standin {

using json = nlohmann::json;

// Compact text; bytes that are not UTF-8 (a test may send them) become U+FFFD
// instead of aborting the dump.
inline std::string dumpJson(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// A C string from the system as a JSON value: NULL becomes null.
inline json cText(const char* s) {
  return s ? json(s) : json(nullptr);
}

inline std::string textOf(const char* s) {
  return s ? std::string(s) : std::string();
}

}  // namespace standin
