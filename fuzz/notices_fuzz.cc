// A page's notification on arbitrary text: its target goes through the
// in-app path filter, and the notice log finds clicks by its texts.
//
// What must hold: the filter keeps the text whole or gives "", and what it
// keeps is a path of the app's own pages (one leading "/", no backslash, no
// line break, a reference the URL parser takes); a kept target is found
// again by the exact texts of its notice, and the log never gives a target
// it was not given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "shell/notices.h"
#include "support/url.h"

namespace {

void require(bool holds) {
  if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string kept = shell::appPath(text);
  require(kept.empty() || kept == text);
  if (!kept.empty()) {
    require(kept[0] == '/' && (kept.size() == 1 || kept[1] != '/'));
    require(kept.find_first_of("\\\r\n") == std::string::npos);
    require(support::url::parse(kept).ok());
  }

  // The input split in three: title, body and the rest as the target.
  const std::string_view all = text;
  const size_t third = all.size() / 3;
  const std::string title(all.substr(0, third));
  const std::string body(all.substr(third, third));
  const std::string target(all.substr(2 * third));
  shell::noticeLog log;
  log.add({title, "", body, shell::appPath(target)});
  log.add({body, "", title, "/other"});
  const std::string found = log.find(title, "", body);
  require(found == shell::appPath(target) || (title == body && found == "/other"));
  return 0;
}
