// Starting other processes: what the child is given (arguments, environment,
// directory, standard streams) and what it must not inherit from us (ignored
// signals, our session, our other descriptors).
#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

using support::spawnProcess;
using support::SpawnRequest;
using testing::HasSubstr;
using testing_support::ScopedEnv;
using testing_support::TempDir;

// A pipe whose ends close on exec, as every descriptor of the system does.
struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
      read = fds[0];
      write = fds[1];
    }
  }
  ~Pipe() {
    closeRead();
    closeWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  void closeRead() {
    if (read >= 0) ::close(read);
    read = -1;
  }
  void closeWrite() {
    if (write >= 0) ::close(write);
    write = -1;
  }
  std::string readToEnd() {
    std::string out;
    char buffer[4096];
    while (true) {
      const ssize_t n = ::read(read, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return out;
      out.append(buffer, static_cast<size_t>(n));
    }
  }
};

SpawnRequest shell(const std::string& script, std::vector<std::string> more = {}) {
  SpawnRequest r;
  r.path = "/bin/sh";
  r.args = {"sh", "-c", script};
  r.args.insert(r.args.end(), more.begin(), more.end());
  return r;
}

int waitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

struct Finished {
  std::string out;
  int status = -1;  // as waitpid gives it
};

// Runs the request with its standard output on a pipe, to its end.
Finished run(SpawnRequest request) {
  Pipe out;
  request.stdoutFd = out.write;
  auto pid = spawnProcess(request);
  out.closeWrite();
  EXPECT_TRUE(pid.ok()) << pid.error().message;
  if (!pid.ok()) return {};
  Finished f;
  f.out = out.readToEnd();
  f.status = waitFor(*pid);
  return f;
}

std::string realPath(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? resolved : path;
}

TEST(SpawnProcess, TheChildGetsItsArgumentsEnvironmentAndDirectory) {
  TempDir dir;
  SpawnRequest r = shell(R"sh(printf '%s|' "$0" "$1" "$2" "$BK_PROBE" "$HOME" "$(pwd -P)")sh",
                         {"zero", "one two", ""});
  r.environment = std::vector<std::string>{"BK_PROBE=a b=c", "PATH=/usr/bin:/bin"};
  r.workingDirectory = dir.path();
  Finished f = run(r);
  ASSERT_TRUE(WIFEXITED(f.status));
  EXPECT_EQ(WEXITSTATUS(f.status), 0);
  // The given environment is the whole of it: HOME is not passed on.
  EXPECT_EQ(f.out, "zero|one two||a b=c||" + realPath(dir.path()) + "|");
}

TEST(SpawnProcess, WithoutAnEnvironmentOrDirectoryTheChildHasOurs) {
  ScopedEnv env;
  env.set("BK_PROBE", "from the parent");
  Finished f = run(shell(R"sh(printf '%s|%s' "$BK_PROBE" "$(pwd -P)")sh"));
  EXPECT_EQ(f.out, "from the parent|" + realPath(std::filesystem::current_path().string()));
}

TEST(SpawnProcess, AProgramThatCannotStartIsAnError) {
  SpawnRequest r;
  r.path = "/nonexistent/launcher";
  r.args = {"launcher"};
  auto pid = spawnProcess(r);
  ASSERT_FALSE(pid.ok());
  EXPECT_THAT(pid.error().message, HasSubstr("/nonexistent/launcher"));
  EXPECT_THAT(pid.error().message, HasSubstr("No such file"));
}

TEST(SpawnProcess, TheGivenDescriptorsAreTheChildsStandardStreams) {
  Pipe in, err;
  ASSERT_EQ(::write(in.write, "from stdin", 10), 10);
  in.closeWrite();
  SpawnRequest r = shell("cat; printf 'to stderr' >&2");
  r.stdinFd = in.read;
  r.stderrFd = err.write;
  Pipe out;
  r.stdoutFd = out.write;
  auto pid = spawnProcess(r);
  ASSERT_TRUE(pid.ok()) << pid.error().message;
  out.closeWrite();
  err.closeWrite();
  EXPECT_EQ(out.readToEnd(), "from stdin");
  EXPECT_EQ(err.readToEnd(), "to stderr");
  EXPECT_EQ(WEXITSTATUS(waitFor(*pid)), 0);
}

// Restores a signal's disposition at the end of a scope.
class IgnoredSignal {
 public:
  explicit IgnoredSignal(int signo) : signo_(signo) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(signo_, &ignore, &saved_);
  }
  ~IgnoredSignal() { ::sigaction(signo_, &saved_, nullptr); }
  IgnoredSignal(const IgnoredSignal&) = delete;
  IgnoredSignal& operator=(const IgnoredSignal&) = delete;

 private:
  int signo_;
  struct sigaction saved_ {};
};

// An ignored signal stays ignored across exec, and a shell cannot even trap a
// signal it was started with ignored; so a child that sends itself the signal
// ends by it only when it got the default disposition.
TEST(SpawnProcess, SignalsWeIgnoreAreDefaultInTheChild) {
  for (int signo : {SIGUSR1, SIGTERM, SIGINT, SIGPIPE}) {
    IgnoredSignal ignored(signo);
    Finished f = run(shell("kill -s " +
                           std::string(signo == SIGUSR1   ? "USR1"
                                       : signo == SIGTERM ? "TERM"
                                       : signo == SIGINT  ? "INT"
                                                          : "PIPE") +
                           " $$; exit 3"));
    ASSERT_TRUE(WIFSIGNALED(f.status)) << "signal " << signo << ", status " << f.status;
    EXPECT_EQ(WTERMSIG(f.status), signo);
  }
}

// A signal blocked in the starting thread must not stay blocked in the
// child, or a relaunched application could not be stopped by it.
TEST(SpawnProcess, SignalsWeBlockAreUnblockedInTheChild) {
  sigset_t blocked, saved;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR1);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &saved), 0);
  Finished f = run(shell("kill -s USR1 $$; exit 3"));
  ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  ASSERT_TRUE(WIFSIGNALED(f.status)) << "status " << f.status;
  EXPECT_EQ(WTERMSIG(f.status), SIGUSR1);
}

TEST(SpawnProcess, ANewSessionOnlyWhenAsked) {
  for (bool newSession : {false, true}) {
    Pipe hold;
    SpawnRequest r = shell("read line");
    r.stdinFd = hold.read;
    r.newSession = newSession;
    auto pid = spawnProcess(r);
    ASSERT_TRUE(pid.ok()) << pid.error().message;
    const pid_t session = ::getsid(*pid);
    const pid_t group = ::getpgid(*pid);
    ASSERT_EQ(::write(hold.write, "go\n", 3), 3);  // lets the child end
    EXPECT_EQ(WEXITSTATUS(waitFor(*pid)), 0);
    if (newSession) {
      EXPECT_EQ(session, *pid);
      EXPECT_EQ(group, *pid);
    } else {
      EXPECT_EQ(session, ::getsid(0));
      EXPECT_EQ(group, ::getpgid(0));
    }
  }
}

// The numbers of the descriptors in `fds` that are open in a child, as it
// reports them.
std::string openInChild(SpawnRequest r, const std::vector<int>& fds) {
  r.path = "/bin/sh";
  r.args = {"sh", "-c",
            R"sh(for fd in "$@"; do [ -e /dev/fd/$fd ] && printf '%s ' $fd; done; printf end)sh",
            "sh"};
  for (int fd : fds) r.args.push_back(std::to_string(fd));
  return run(r).out;
}

TEST(SpawnProcess, OurCloseOnExecDescriptorsStayBehind) {
  Pipe unrelated;  // open in the parent while the child starts
  Pipe in;
  in.closeWrite();
  SpawnRequest r;
  r.stdinFd = in.read;  // becomes the child's 0, and only that
  EXPECT_EQ(openInChild(r, {unrelated.read, unrelated.write, in.read}), "end");
}

// Descriptors that we inherited, or that a library opened without
// close-on-exec, must not reach the child either: it gets the three standard
// streams and nothing else.
TEST(SpawnProcess, OnlyTheStandardStreamsReachTheChild) {
  int leaky[2];
  ASSERT_EQ(::pipe(leaky), 0);
  std::vector<int> ours;
  for (int fd = 3; fd < 1024; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0) ours.push_back(fd);
  }
  const std::string open = openInChild(SpawnRequest{}, ours);
  ::close(leaky[0]);
  ::close(leaky[1]);
  EXPECT_EQ(open, "end");
}

}  // namespace
