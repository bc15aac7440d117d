// The URL parser on arbitrary text: links come from the command line, other
// launches and pages.
//
// What must hold: a URL that parses is written back as text that parses to a
// URL written back the same way, and resolving it against the app's kind of
// base, or it against itself, gives such a URL too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/url.h"

namespace {

namespace url = support::url;

void require(bool holds) {
  if (!holds) std::abort();
}

// The text form is a fixed point: written, read and written again, it stays.
void writesBackStably(const url::URL& u) {
  const std::string text = u.toString();
  auto again = url::parse(text);
  require(again.ok());
  require(again->toString() == text);
  (void)again->hostname();
  (void)again->port();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto parsed = url::parse(text);
  if (!parsed.ok()) return 0;
  writesBackStably(*parsed);
  static const url::URL base = *url::parse("https://app.example:8443/a/b?q=1#f");
  writesBackStably(base.resolveReference(*parsed));
  writesBackStably(parsed->resolveReference(*parsed));
  return 0;
}
