#include "support/path.h"

#include <vector>

namespace support {

std::string cleanPath(std::string_view path) {
  if (path.empty()) return ".";
  const bool rooted = path.front() == '/';
  std::vector<std::string_view> kept;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    std::string_view element = path.substr(pos, end - pos);
    pos = end + 1;
    if (element.empty() || element == ".") continue;
    if (element == "..") {
      if (!kept.empty() && kept.back() != "..") {
        kept.pop_back();
      } else if (!rooted) {
        kept.push_back(element);  // a relative path may climb above its start
      }
      continue;
    }
    kept.push_back(element);
  }
  std::string out = rooted ? "/" : "";
  for (size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) out += '/';
    out += kept[i];
  }
  return out.empty() ? "." : out;
}

std::string joinPath(std::initializer_list<std::string_view> parts) {
  std::string joined;
  for (std::string_view part : parts) {
    if (part.empty()) continue;
    if (!joined.empty()) joined += '/';
    joined += part;
  }
  return joined.empty() ? "" : cleanPath(joined);
}

std::string dirName(std::string_view path) {
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  return cleanPath(path.substr(0, slash + 1));
}

}  // namespace support
