#include "support/command_output.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/process.h"

namespace support {

Result<CommandOutput> runForOutput(const std::string& path, const std::vector<std::string>& args) {
  int fds[2];
  // Close-on-exec, so that programs started at the same time by other
  // threads do not inherit the pipe and keep it open.
  if (::pipe2(fds, O_CLOEXEC) != 0) return makeError(std::string("pipe: ") + std::strerror(errno));
  SpawnRequest request;
  request.path = path;
  request.args = args;
  request.stdoutFd = fds[1];
  auto pid = spawnProcess(request);
  ::close(fds[1]);
  if (!pid) {
    ::close(fds[0]);
    return pid.error();
  }
  CommandOutput result;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.out.append(buf, static_cast<size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(*pid, &status, 0) < 0) {
    if (errno != EINTR) return makeError(std::string("wait: ") + std::strerror(errno));
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  return result;
}

}  // namespace support
