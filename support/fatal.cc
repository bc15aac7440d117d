#include "support/fatal.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace support {
namespace {

std::atomic<FatalReport> installed{nullptr};

void writeBareLine(std::string_view message) {
  std::string line(message);
  line += '\n';
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

void setFatalReport(FatalReport report) {
  installed.store(report, std::memory_order_release);
}

void endProcess(std::string_view message) {
  const FatalReport report = installed.load(std::memory_order_acquire);
  (report != nullptr ? report : writeBareLine)(message);
  // Not exit(): other threads are still running tasks, and the static
  // destructors and exit handlers would run under them. Nothing is lost
  // unflushed: diagnostics are written whole with write(2), and whole-file
  // writes and the sockets' files are made to survive an abrupt end.
  std::_Exit(1);
}

}  // namespace support
