// The one way the system starts another process.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "support/result.h"

namespace support {

struct SpawnRequest {
  std::string path;               // the executable, as given to exec
  std::vector<std::string> args;  // argv[0] first
  // The whole environment of the child; the parent's when absent.
  std::optional<std::vector<std::string>> environment;
  std::string workingDirectory;  // the parent's when empty
  bool newSession = false;       // detach from the parent's session and terminal
  // Descriptors for the child's standard streams; -1 keeps the parent's.
  int stdinFd = -1;
  int stdoutFd = -1;
  int stderrFd = -1;
};

// Starts the process and returns its id without waiting for it.
Result<pid_t> spawnProcess(const SpawnRequest& request);

// Waits for a child started by spawnProcess to end and returns its exit
// status; a child ended by signal n gives 128 + n, as shells report it.
Result<int> waitForProcess(pid_t pid);

// The environment of this process as "NAME=value" entries.
std::vector<std::string> currentEnvironment();

}  // namespace support
