#include <limits>

#include "commands.h"

namespace standin {

namespace {

const json& member(const json& cmd, const char* key) {
  auto it = cmd.find(key);
  if (it == cmd.end()) throw CommandError(std::string("missing \"") + key + "\"");
  return *it;
}

}  // namespace

uint32_t needU32(const json& cmd, const char* key) {
  const json& v = member(cmd, key);
  if (!v.is_number_integer() || v.get<int64_t>() < 0 ||
      v.get<uint64_t>() > std::numeric_limits<uint32_t>::max()) {
    throw CommandError(std::string("\"") + key + "\" must be an unsigned 32-bit number");
  }
  return v.get<uint32_t>();
}

double needNumber(const json& cmd, const char* key) {
  const json& v = member(cmd, key);
  if (!v.is_number()) throw CommandError(std::string("\"") + key + "\" must be a number");
  return v.get<double>();
}

std::string needString(const json& cmd, const char* key) {
  const json& v = member(cmd, key);
  if (!v.is_string()) throw CommandError(std::string("\"") + key + "\" must be a string");
  return v.get<std::string>();
}

std::optional<std::string> optString(const json& cmd, const char* key) {
  auto it = cmd.find(key);
  if (it == cmd.end() || it->is_null()) return std::nullopt;
  if (!it->is_string()) throw CommandError(std::string("\"") + key + "\" must be a string");
  return it->get<std::string>();
}

bool optBool(const json& cmd, const char* key, bool fallback) {
  auto it = cmd.find(key);
  if (it == cmd.end() || it->is_null()) return fallback;
  if (!it->is_boolean()) throw CommandError(std::string("\"") + key + "\" must be a boolean");
  return it->get<bool>();
}

double optNumber(const json& cmd, const char* key, double fallback) {
  auto it = cmd.find(key);
  if (it == cmd.end() || it->is_null()) return fallback;
  if (!it->is_number()) throw CommandError(std::string("\"") + key + "\" must be a number");
  return it->get<double>();
}

}  // namespace standin
