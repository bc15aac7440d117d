// The host bridge's wire texts: what a page posts and how a value reaches it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/json.h"

namespace shell {

// One page request: {"bk": token, "id": number, "cmd": name, "args": value}.
struct request {
  std::string Token;
  int64_t ID = 0;
  std::string Cmd;
  support::json::RawValue Args;  // "null" when given as null; empty when absent
};

// The request in `text`, or nothing when it is not one JSON object of the
// right member types.
std::optional<request> decodeRequest(std::string_view text);

// The per-launch configuration the preload receives, as a JavaScript string
// literal holding its JSON text.
std::string preloadConfigLiteral(std::string_view origin, std::string_view token);

// Replaces every quoted settings placeholder of `script` with `literal`, in
// one pass; nothing when there is none.
std::optional<std::string> injectPreloadConfig(std::string_view script, std::string_view literal);

// The script that hands one JSON text to the page.
std::string deliveryScript(std::string_view json);

}  // namespace shell
