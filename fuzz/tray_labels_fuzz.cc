// The "labels" a page sends for the tray menu, decoded and built into the
// menu text the core receives.
//
// What must hold: nothing crashes or leaks; accepted labels merge over the
// defaults and give a menu text that reads back as the six entries, with each
// label as it was stored.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "shell/tray.h"
#include "support/json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto update = shell::decodeTrayLabels(text);
  if (!update) return 0;
  shell::trayLabels labels = shell::defaultTrayLabels;
  shell::mergeTrayLabels(labels, *update);
  auto menu = shell::trayMenuJSON(labels, {});
  if (!menu) std::abort();
  auto parsed = support::json::parse(*menu);
  if (!parsed || !parsed->is_array() || parsed->size() != 6) std::abort();
  // Labels go out as the codec writes strings: invalid UTF-8 becomes U+FFFD,
  // so compare with the label read back through the same codec.
  auto sameLabel = [](const support::json::Value& item, const std::string& label) {
    auto expected = support::json::parse(support::json::quote(label));
    return expected && item.at("label") == *expected;
  };
  if (!sameLabel((*parsed)[0], labels.Open) || !sameLabel((*parsed)[5], labels.Quit)) std::abort();
  return 0;
}
