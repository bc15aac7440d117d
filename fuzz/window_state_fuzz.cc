// The window-state file as a user's disk may hold it: any bytes. A text that
// reads as a saved frame must be usable and must write back to a text that
// reads as the same frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "shell/window_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<shell::savedState> state = shell::decodeSavedState(text);
  if (!state) return 0;
  if (!shell::usableStateSize(state->Width, state->Height) || state->positioned) std::abort();
  auto encoded = shell::encodeSavedState(*state);
  if (!encoded) std::abort();  // every number read is finite
  std::optional<shell::savedState> again = shell::decodeSavedState(*encoded);
  if (!again || again->X != state->X || again->Y != state->Y || again->Width != state->Width ||
      again->Height != state->Height || again->Maximized != state->Maximized) {
    std::abort();
  }
  return 0;
}
