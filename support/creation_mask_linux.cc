#include "support/creation_mask.h"

#include <charconv>
#include <string>
#include <string_view>

#include "support/file.h"

namespace support {
namespace {

constexpr mode_t kStrictMask = 077;
// The status file is a couple of kilobytes.
constexpr size_t kStatusLimit = 64 * 1024;

}  // namespace

// Linux (4.7 and later) shows the mask in the "Umask:" line of the status
// file, in octal.
mode_t fileCreationMask() {
  auto status = readFile("/proc/self/status", kStatusLimit);
  if (!status) return kStrictMask;
  constexpr std::string_view kKey = "\nUmask:";
  const size_t at = status->find(kKey);
  if (at == std::string::npos) return kStrictMask;
  const char* first = status->data() + at + kKey.size();
  const char* last = status->data() + status->size();
  while (first != last && (*first == ' ' || *first == '\t')) ++first;
  unsigned mask = 0;
  auto [end, err] = std::from_chars(first, last, mask, 8);
  if (err != std::errc() || end == first || (end != last && *end != '\n') || mask > 0777) {
    return kStrictMask;
  }
  return static_cast<mode_t>(mask);
}

}  // namespace support
