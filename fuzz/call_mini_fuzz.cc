// What the call pop-up reads from outside: a page's call state and the
// call-mini.json that a user's disk may hold, both any bytes. A frame read
// from the file must write back to a text that reads as the same frame, and
// one fitted to a work area must lie within it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shell/mini_window.h"
#include "shell/minicall.h"

namespace {

void checkFitted(const nimbrel::Rect& saved, const std::vector<nimbrel::Rect>& areas) {
  std::optional<nimbrel::Rect> fitted = shell::miniRestore(saved, areas);
  if (!fitted) return;
  if (saved.Width < shell::kMiniMinWidth || saved.Height < shell::kMiniMinHeight) std::abort();
  bool inside = false;
  for (const nimbrel::Rect& area : areas) {
    inside = inside || (fitted->Width <= area.Width && fitted->Height <= area.Height &&
                        fitted->X >= area.X && fitted->Y >= area.Y);
  }
  if (!inside) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)shell::miniState(support::json::RawValue{std::string(text)});

  std::optional<nimbrel::Rect> frame = shell::decodeMiniFrame(text);
  if (!frame) return 0;
  auto encoded = shell::encodeMiniFrame(*frame);
  if (!encoded) std::abort();  // every number read is finite
  std::optional<nimbrel::Rect> again = shell::decodeMiniFrame(*encoded);
  // Compared bit for bit where it matters: -0 and 0 both read back as written.
  if (!again || !(*again == *frame) || std::signbit(again->X) != std::signbit(frame->X)) {
    std::abort();
  }
  checkFitted(*frame, {{0, 25, 1440, 875}, {1440, 0, 1920, 1080}, {-1e300, -1e300, 1e300, 1e300}});
  (void)shell::miniPlace(*frame);
  return 0;
}
