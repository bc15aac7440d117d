// The "args" of a bridge command, decoded into the one record of every
// command's arguments.
//
// What must hold: nothing crashes or leaks; the raw values a decoded record
// keeps can be written back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "shell/commands.h"
#include "support/json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto args = shell::decodeCommandArgs(text);
  if (!args) return 0;
  for (const auto* raw : {&args->Labels, &args->State, &args->Action, &args->Signal}) {
    support::json::Writer w;
    w.raw(raw->text);
    if (!w.finish().ok()) std::abort();
  }
  return 0;
}
