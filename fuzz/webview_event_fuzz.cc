// The details web views attach to their events: any bytes, as a page or the
// core may produce them. Reading them never fails loudly, and what comes out
// keeps the promises the shell relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "shell/webview_events.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view detail(reinterpret_cast<const char*>(data), size);

  std::string url = shell::eventURL(detail);
  // Anything but an object is the address itself.
  if ((detail.empty() || detail.front() != '{') && url != detail) std::abort();

  (void)shell::decodeNavigationDetail(detail);

  shell::downloadDetail download = shell::decodeDownloadDetail(detail);
  std::string name = shell::downloadName(download);
  // A destination gives its last component; without one the name is the
  // file name as the core gave it.
  if (download.destinationPath.empty() ? name != download.filename
                                       : name.find_first_of("/\\") != std::string::npos) {
    std::abort();
  }

  std::string base = shell::baseName(detail);
  if (base.size() > detail.size() || !detail.ends_with(base)) std::abort();
  if (base.find_first_of("/\\") != std::string::npos) std::abort();
  return 0;
}
