// The arguments of the bridge commands: one record for all of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shell/prefs.h"
#include "support/json.h"
#include "support/result.h"

namespace shell {

struct commandArgs {
  std::string Title;
  std::string Subtitle;
  std::string Body;
  std::string Target;
  bool Sound = false;
  int64_t Count = 0;
  std::optional<int64_t> ID;
  std::string URL;
  std::vector<std::string> Origins;
  support::json::RawValue Labels;
  prefsChange Change;
  std::string Step;
  support::json::RawValue State;
  support::json::RawValue Action;
  support::json::RawValue Signal;
};

// Decodes a request's "args" text. Empty text and null give an empty record.
support::Result<commandArgs> decodeCommandArgs(std::string_view args);

// What a command gives: JSON text for the reply's "result" (empty: none,
// which the reply writes as null), or its error.
using commandResult = support::Result<support::json::RawValue>;

}  // namespace shell
