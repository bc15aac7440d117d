// A page's request text, as the host bridge reads it: the request record,
// then the command arguments it carries, then the reply that echoes them.
//
// What must hold: nothing crashes or leaks; a decoded request's raw arguments
// can always be written back into a message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "shell/bridge.h"
#include "shell/commands.h"
#include "support/json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto request = shell::decodeRequest(text);
  if (!request) return 0;
  (void)shell::decodeCommandArgs(request->Args.text);
  support::json::Writer w;
  w.beginObject().key("id").integer(request->ID).key("result").raw(request->Args.text).endObject();
  if (!w.finish().ok()) std::abort();
  (void)shell::deliveryScript(w.text());
  return 0;
}
