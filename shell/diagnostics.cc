#include "shell/diagnostics.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace shell {

void printLine(std::string_view message) {
  std::string line = "brovik-work: ";
  line += message;
  line += '\n';
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere to report that reporting failed
    done += static_cast<size_t>(n);
  }
}

}  // namespace shell
