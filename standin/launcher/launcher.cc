// The stand-in for the bundle's launcher, a program outside the application
// that starts it again: it runs the application's executable from its own
// folder with NIMBREL_LAUNCHER_PID set to its own process id, passes its
// arguments and environment (BK_DESKTOP_ARGS among it) on unchanged, stays in
// the foreground until the application ends and ends with its status (128 + n
// when a signal n ended it). The application inherits the standard streams.
//
// An interrupt from the terminal reaches the whole foreground group, the
// application included, which quits on it; the launcher ignores it and waits
// for that end. A termination request sent to the launcher alone is passed
// on to the application.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "support/path.h"
#include "support/process.h"

namespace {

// The folder the launcher was started from: the path it was given when that
// names a folder, otherwise where the system says the program lies.
std::string ownFolder(const char* argv0) {
  std::string self = argv0 != nullptr ? argv0 : "";
  if (self.find('/') == std::string::npos) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    self = n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
  }
  return support::dirName(self);
}

std::vector<std::string> environmentForApplication() {
  const std::string marker = "NIMBREL_LAUNCHER_PID=";
  std::vector<std::string> env;
  for (std::string& entry : support::currentEnvironment()) {
    if (entry.compare(0, marker.size(), marker) != 0) env.push_back(std::move(entry));
  }
  env.push_back(marker + std::to_string(::getpid()));
  return env;
}

// Waits for the application to end, passing on every termination request
// that comes meanwhile. The requests are taken synchronously, never in a
// handler, so none is lost between the start and the wait.
int superviseUntilEnd(pid_t application, const sigset_t& taken) {
  for (;;) {
    const int signo = ::sigwaitinfo(&taken, nullptr);
    if (signo == SIGTERM || signo == SIGHUP) {
      ::kill(application, signo);
      continue;
    }
    if (signo != SIGCHLD) continue;  // EINTR
    siginfo_t info{};
    const int peeked =
        ::waitid(P_PID, static_cast<id_t>(application), &info, WEXITED | WNOHANG | WNOWAIT);
    if (peeked == 0 && info.si_pid == 0) continue;  // it stopped or went on
    auto status = support::waitForProcess(application);
    if (!status) {
      std::fprintf(stderr, "launcher: %s\n", status.error().message.c_str());
      return 1;
    }
    return *status;
  }
}

}  // namespace

int main(int argc, char** argv) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGINT, &ignore, nullptr);
  sigset_t taken;
  sigemptyset(&taken);
  sigaddset(&taken, SIGTERM);
  sigaddset(&taken, SIGHUP);
  sigaddset(&taken, SIGCHLD);
  sigprocmask(SIG_BLOCK, &taken, nullptr);

  support::SpawnRequest request;
  request.path = support::joinPath({ownFolder(argc > 0 ? argv[0] : nullptr), BK_APP_EXECUTABLE});
  request.args.push_back(request.path);
  for (int i = 1; i < argc; ++i) request.args.emplace_back(argv[i]);
  request.environment = environmentForApplication();
  auto started = support::spawnProcess(request);
  if (!started) {
    std::fprintf(stderr, "launcher: %s\n", started.error().message.c_str());
    return 127;
  }
  return superviseUntilEnd(*started, taken);
}
