// Runs the built application as a process, against a copy of its bundle, and
// talks to the stand-in core inside it through its control socket.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/test_support.h"

namespace testing_support {

// A copy of the built bundle in a temporary directory, to be changed freely.
class TempBundle {
 public:
  TempBundle();
  std::string root() const { return dir_.path() + "/Brovik Dira.app"; }
  std::string exeDir() const { return root() + "/Contents/MacOS"; }
  std::string resourcesDir() const { return root() + "/Contents/Resources"; }
  std::string executable() const { return exeDir() + "/brovik-work"; }
  const TempDir& dir() const { return dir_; }

 private:
  TempDir dir_;
};

struct Exit {
  int status = -1;  // exit status, or -1 when ended by a signal
  int signal = 0;
  std::string err;  // everything written to standard error
};

// One run of the application. The environment starts from a small clean set
// (HOME and TMPDIR inside the test's own directory, the control socket, and
// NIMBREL_LAUNCHER_PID as if the launcher had started it); the test adds or
// removes variables before start().
class AppProcess {
 public:
  explicit AppProcess(std::string executable);
  ~AppProcess();

  std::map<std::string, std::optional<std::string>>& env() { return env_; }
  std::vector<std::string>& args() { return args_; }
  std::string controlSocket() const { return socket_; }
  const TempDir& home() const { return home_; }
  void setWorkingDirectory(std::string dir) { cwd_ = std::move(dir); }
  // The running process's id; 0 or less before start() and after wait().
  pid_t pid() const { return pid_; }

  // Runs it as `user`, who owns its home (the tests run as root); with
  // `threadLimit`, that user's processes and threads number that many in
  // all. Call before start().
  void runAsUser(uid_t user, std::optional<rlim_t> threadLimit = std::nullopt);

  void start();
  // Waits until the core's event loop runs (the stand-in answers and says so).
  bool waitUntilRunning();
  // Whether the process has ended (it is not reaped twice: wait() reports it).
  bool ended();
  // One command to the stand-in core in the running process.
  nlohmann::json command(const nlohmann::json& cmd);
  // Sends `sig` while the process runs (or is stopped); nothing once ended.
  void signal(int sig);
  // What the process wrote to standard error so far.
  std::string errSoFar();
  // Waits for the end; a process still alive after a generous guard period is
  // killed so a broken build cannot hang the suite.
  Exit wait();

  // Starts, waits for the end, and returns it.
  Exit run() {
    start();
    return wait();
  }

 private:
  std::string executable_;
  TempDir home_;
  std::string socket_;
  std::string cwd_;
  std::map<std::string, std::optional<std::string>> env_;
  std::vector<std::string> args_;
  std::optional<uid_t> user_;
  std::optional<rlim_t> threadLimit_;
  pid_t pid_ = -1;
  std::optional<int> endedStatus_;
  int errPipe_ = -1;
  std::mutex errMu_;
  std::string err_;  // guarded by errMu_ while the reader runs
  std::thread reader_;
};

}  // namespace testing_support
