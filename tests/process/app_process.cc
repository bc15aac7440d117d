#include "tests/process/app_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "support/process.h"

namespace testing_support {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A guard against hangs, not a measure of speed.
constexpr auto kGuard = 60s;

}  // namespace

TempBundle::TempBundle() {
  fs::copy(BK_BUNDLE_DIR, root(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

AppProcess::AppProcess(std::string executable) : executable_(std::move(executable)) {
  socket_ = home_.path() + "/control.sock";
  env_["HOME"] = home_.path();
  env_["TMPDIR"] = home_.mkdir("tmp");
  env_["PATH"] = "/usr/bin:/bin";
  env_["NIMBREL_STANDIN_CONTROL"] = socket_;
  // As if the bundle's launcher had started it, so that the launcher beside
  // the executable does not take the launch over; relaunch tests remove it.
  env_["NIMBREL_LAUNCHER_PID"] = std::to_string(getpid());
  for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* v = getenv(keep)) env_[keep] = v;
  }
}

AppProcess::~AppProcess() {
  if (pid_ > 0 && !endedStatus_) kill(pid_, SIGKILL);
  if (pid_ > 0) (void)wait();
}

void AppProcess::start() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> env;
  for (const auto& [name, value] : env_) {
    if (value) env.push_back(name + "=" + *value);
  }
  support::SpawnRequest request;
  // The system's own tools, each of which runs the next in its own place.
  if (threadLimit_) {
    request.args.insert(request.args.end(),
                        {"/usr/bin/prlimit", "--nproc=" + std::to_string(*threadLimit_)});
  }
  if (user_) {
    const std::string id = std::to_string(*user_);
    request.args.insert(request.args.end(), {"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id,
                                             "--clear-groups", "--"});
  }
  request.args.push_back(executable_);
  request.path = request.args.front();
  request.args.insert(request.args.end(), args_.begin(), args_.end());
  request.environment = env;
  request.workingDirectory = cwd_;
  request.stderrFd = fds[1];
  auto pid = support::spawnProcess(request);
  close(fds[1]);
  if (!pid) {
    close(fds[0]);
    throw std::runtime_error(pid.error().message);
  }
  pid_ = *pid;
  errPipe_ = fds[0];
  reader_ = std::thread([this] {
    char buf[4096];
    ssize_t n;
    while ((n = read(errPipe_, buf, sizeof buf)) > 0) {
      std::lock_guard lock(errMu_);
      err_.append(buf, static_cast<size_t>(n));
    }
  });
}

void AppProcess::runAsUser(uid_t user, std::optional<rlim_t> threadLimit) {
  user_ = user;
  threadLimit_ = threadLimit;
  for (const auto& entry : fs::recursive_directory_iterator(home_.path())) {
    if (::chown(entry.path().c_str(), user, user) != 0) {
      throw std::runtime_error("cannot give " + entry.path().string() + " to the user");
    }
  }
  if (::chown(home_.path().c_str(), user, user) != 0) {
    throw std::runtime_error("cannot give the home to the user");
  }
}

std::string AppProcess::errSoFar() {
  std::lock_guard lock(errMu_);
  return err_;
}

nlohmann::json AppProcess::command(const nlohmann::json& cmd) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  socket_.copy(addr.sun_path, sizeof addr.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return nullptr;
  }
  std::string line = cmd.dump() + "\n";
  // A stand-in that has no thread for the connection refuses it and closes
  // it at once: that is a refusal to read, not a signal to end the test.
  if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
    close(fd);
    return nullptr;
  }
  // One reply line; a benchmark's replies run to megabytes, so read in blocks.
  std::string reply;
  char buf[65536];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) {
    const char* end = static_cast<const char*>(memchr(buf, '\n', static_cast<size_t>(n)));
    reply.append(buf, end ? static_cast<size_t>(end - buf) : static_cast<size_t>(n));
    if (end) break;
  }
  close(fd);
  if (reply.empty()) return nullptr;
  return nlohmann::json::parse(reply, nullptr, false);
}

bool AppProcess::waitUntilRunning() {
  auto deadline = std::chrono::steady_clock::now() + kGuard;
  while (std::chrono::steady_clock::now() < deadline) {
    nlohmann::json state = command({{"cmd", "state"}});
    if (state.is_object() && state["loop"].is_object() && state["loop"].value("running", false)) {
      return true;
    }
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      endedStatus_ = status;  // ended before its loop ran; wait() reports it
      return false;
    }
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

bool AppProcess::ended() {
  if (endedStatus_) return true;
  if (pid_ <= 0) return true;
  int status;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
  endedStatus_ = status;
  return true;
}

void AppProcess::signal(int sig) {
  // Once the process is collected its id means nothing (kill(0) would reach
  // the whole process group, other tests' processes among them) or another
  // process.
  if (pid_ > 0 && !endedStatus_) kill(pid_, sig);
}

Exit AppProcess::wait() {
  Exit exit;
  int status = 0;
  if (endedStatus_) {
    status = *endedStatus_;
  } else {
    auto deadline = std::chrono::steady_clock::now() + kGuard;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(10ms);
    }
  }
  pid_ = 0;
  endedStatus_.reset();
  if (reader_.joinable()) reader_.join();
  if (errPipe_ >= 0) close(errPipe_);
  errPipe_ = -1;
  if (WIFEXITED(status)) exit.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) exit.signal = WTERMSIG(status);
  exit.err = err_;
  return exit;
}

}  // namespace testing_support
