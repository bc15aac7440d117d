// What a web view reports and what the shell makes of it: the address of a
// navigation or new-window event, and the details of a download.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace shell {

// The address an event's detail carries: the detail itself when it is empty
// or does not start with "{"; else the text of the object's "url", or ""
// when the object does not decode or has no text there.
std::string eventURL(std::string_view detail);

// The part of a path after its last "/" or "\"; the whole path when it has
// neither.
std::string baseName(std::string_view path);

// The detail of a "will-navigate" event.
struct navigationDetail {
  std::string url;
  bool allowed = false;  // missing counts as refused
};
// Nothing when the detail does not decode.
std::optional<navigationDetail> decodeNavigationDetail(std::string_view detail);

// The detail of a "download-completed" or "download-failed" event. A detail
// that does not decode keeps what was read before the fault (empty
// otherwise): a download is announced whatever its detail says.
struct downloadDetail {
  std::string filename;
  std::string destinationPath;
};
downloadDetail decodeDownloadDetail(std::string_view detail);

// The name a page is shown for a download.
std::string downloadName(const downloadDetail& d);

}  // namespace shell
