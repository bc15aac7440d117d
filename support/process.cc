#include "support/process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

extern char** environ;

namespace support {
namespace {

std::vector<char*> pointers(const std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (const std::string& s : strings) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

}  // namespace

std::vector<std::string> currentEnvironment() {
  std::vector<std::string> env;
  for (char** entry = environ; entry && *entry; ++entry) env.emplace_back(*entry);
  return env;
}

Result<pid_t> spawnProcess(const SpawnRequest& request) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);

  const int targets[] = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
  const int sources[] = {request.stdinFd, request.stdoutFd, request.stderrFd};
  for (int i = 0; i < 3; ++i) {
    if (sources[i] >= 0) posix_spawn_file_actions_adddup2(&actions, sources[i], targets[i]);
  }
  if (!request.workingDirectory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, request.workingDirectory.c_str());
  }
  short flags = 0;
  // Only the three standard streams reach the child: a socket or file the
  // parent holds open must not outlive it in a program it starts.
#ifdef __APPLE__
  flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#else
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
  if (request.newSession) flags |= POSIX_SPAWN_SETSID;
  // The child starts with default signal dispositions whatever ours are.
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigdefault(&attr, &all);
  flags |= POSIX_SPAWN_SETSIGDEF;
  // Nor does a signal mask of the calling thread.
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  flags |= POSIX_SPAWN_SETSIGMASK;
  posix_spawnattr_setflags(&attr, flags);

  std::vector<char*> argv = pointers(request.args);
  std::vector<std::string> envStrings =
      request.environment ? *request.environment : currentEnvironment();
  std::vector<char*> envp = pointers(envStrings);

  pid_t pid = 0;
  int err = posix_spawn(&pid, request.path.c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (err != 0) return makeError("start " + request.path + ": " + std::strerror(err));
  return pid;
}

Result<int> waitForProcess(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      return makeError("wait for process " + std::to_string(pid) + ": " + std::strerror(errno));
    }
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

}  // namespace support
