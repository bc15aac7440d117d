// Another local user on the single-instance socket, played by a forked child
// that drops to a user id of its own (the tests run as root): a listener
// that squats on the socket's name in a shared directory, and a client that
// tries to reach an instance. The child makes only plain system calls and
// tells what it saw through a pipe.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>

#include "tests/handoff_peer.h"
#include "tests/test_support.h"

namespace testing_support {

inline constexpr uid_t kOtherUser = 4321;

// A directory that every local user may make files in, as /tmp is: sticky
// and open to all, inside one that every user may pass through.
class SharedDir {
 public:
  SharedDir() : path_(base_.mkdir("shared")) {
    ::chmod(base_.path().c_str(), 0711);
    ::chmod(path_.c_str(), 01777);
  }
  const std::string& path() const { return path_; }

 private:
  TempDir base_;
  std::string path_;
};

namespace other_user_detail {

// In the child: closes every descriptor but the two it needs, so that it
// keeps none of the test's sockets alive, and moves those two out of the way.
inline void keepOnly(int& first, int& second) {
  first = ::fcntl(first, F_DUPFD_CLOEXEC, 1000);
  second = ::fcntl(second, F_DUPFD_CLOEXEC, 1000);
  if (first < 0 || second < 0) ::_exit(125);
  ::close_range(3, 999, 0);
  ::close_range(static_cast<unsigned>(std::max(first, second)) + 1, ~0u, 0);
}

// In the child: becomes the other user, or ends.
inline void becomeOtherUser() {
  if (::setgroups(0, nullptr) != 0 || ::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0) {
    ::_exit(126);
  }
}

inline void writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    size -= static_cast<size_t>(n);
  }
}

inline std::string readAllFrom(int fd) {
  std::string got;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return got;
    got.append(buffer, static_cast<size_t>(n));
  }
}

inline int waitForChild(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

}  // namespace other_user_detail

// A listener of the other user at `path`, which answers every connection
// with "k" as a running instance would, so that a launch that handed off to
// it would end as if all went well.
class OtherUserListener {
 public:
  explicit OtherUserListener(const std::string& path) {
    using namespace other_user_detail;
    int stop[2];
    int report[2];
    if (::pipe2(stop, O_CLOEXEC) != 0 || ::pipe2(report, O_CLOEXEC) != 0) return;
    const sockaddr_un addr = localAddress(path);
    pid_ = ::fork();
    if (pid_ == 0) {
      keepOnly(stop[0], report[1]);
      becomeOtherUser();
      const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const bool listening =
          ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 &&
          ::listen(fd, 16) == 0;
      writeAll(report[1], listening ? "+" : "-", 1);
      if (!listening) ::_exit(1);
      for (;;) {
        pollfd p[2] = {{fd, POLLIN, 0}, {stop[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) continue;
        if (p[1].revents != 0) ::_exit(0);
        const int conn = ::accept(fd, nullptr, nullptr);
        if (conn < 0) continue;
        // Whatever the launch sends before it waits for the answer.
        for (;;) {
          pollfd c{conn, POLLIN, 0};
          if (::poll(&c, 1, 2000) <= 0) break;
          char buffer[4096];
          const ssize_t n = ::recv(conn, buffer, sizeof buffer, 0);
          if (n <= 0) break;
          writeAll(report[1], buffer, static_cast<size_t>(n));
          if (buffer[n - 1] == '\n') break;
        }
        (void)::send(conn, "k", 1, MSG_NOSIGNAL);
        ::close(conn);
      }
    }
    ::close(stop[0]);
    ::close(report[1]);
    stop_ = stop[1];
    report_ = report[0];
    char ready = 0;
    listening_ = pid_ > 0 && ::read(report_, &ready, 1) == 1 && ready == '+';
  }
  ~OtherUserListener() { (void)stop(); }
  OtherUserListener(const OtherUserListener&) = delete;
  OtherUserListener& operator=(const OtherUserListener&) = delete;

  bool ok() const { return listening_; }

  // Stops the listener (its socket file stays) and returns every byte that
  // connections brought it.
  std::string stop() {
    using namespace other_user_detail;
    if (pid_ <= 0) return received_;
    ::close(stop_);
    waitForChild(pid_);
    pid_ = -1;
    received_ = readAllFrom(report_);
    ::close(report_);
    return received_;
  }

 private:
  pid_t pid_ = -1;
  int stop_ = -1;
  int report_ = -1;
  bool listening_ = false;
  std::string received_;
};

// What a client of the other user met.
struct OtherUserExchange {
  int connectError = 0;              // errno of a failed connect
  std::optional<std::string> reply;  // all it read until the end, once connected
};

// Connects to `path` as the other user, sends `bytes` and reads until the
// instance closes the connection.
inline OtherUserExchange sendAsOtherUser(const std::string& path, const std::string& bytes) {
  using namespace other_user_detail;
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return {EMFILE, std::nullopt};
  const sockaddr_un addr = localAddress(path);
  const pid_t pid = ::fork();
  if (pid == 0) {
    int unused = STDIN_FILENO;
    keepOnly(report[1], unused);
    becomeOtherUser();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
      const int err = errno;
      writeAll(report[1], "c", 1);
      writeAll(report[1], reinterpret_cast<const char*>(&err), sizeof err);
      ::_exit(0);
    }
    writeAll(report[1], "r", 1);
    (void)::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20000) <= 0) ::_exit(1);  // never closed: no end
      char buffer[4096];
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) ::_exit(0);
      writeAll(report[1], buffer, static_cast<size_t>(n));
    }
  }
  ::close(report[1]);
  if (pid < 0) {
    ::close(report[0]);
    return {EAGAIN, std::nullopt};
  }
  const std::string got = readAllFrom(report[0]);
  ::close(report[0]);
  const int status = waitForChild(pid);
  OtherUserExchange exchange;
  if (got.size() == 1 + sizeof(int) && got[0] == 'c') {
    got.copy(reinterpret_cast<char*>(&exchange.connectError), sizeof(int), 1);
  } else if (!got.empty() && got[0] == 'r' && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    exchange.reply = got.substr(1);
  }
  return exchange;
}

}  // namespace testing_support
