// The other end of the single-instance socket, written with plain socket
// calls so that tests check the application's side against bytes, not
// against its own code: a client that sends whatever a test likes, and a
// listener that plays a running instance.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace testing_support {

using namespace std::chrono_literals;

// A guard against hangs, never a measure of speed.
inline constexpr auto kPeerGuard = 20s;

inline sockaddr_un localAddress(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  path.copy(addr.sun_path, sizeof addr.sun_path - 1);
  return addr;
}

// A connected socket, or -1.
inline int connectTo(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_un addr = localAddress(path);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

inline bool sendBytes(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Whether something (data or the end of the stream) can be read within `wait`.
inline bool readableWithin(int fd, std::chrono::milliseconds wait) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(wait.count())) > 0;
}

// Everything until the peer closes; nothing when it stays open past the guard.
inline std::optional<std::string> readToEnd(int fd) {
  const auto until = std::chrono::steady_clock::now() + kPeerGuard;
  std::string got;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !readableWithin(fd, left)) return std::nullopt;
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return got;
    got.append(buffer, static_cast<size_t>(n));
  }
}

// The first `count` bytes, or nothing when the stream ends or the guard passes first.
inline std::optional<std::string> readExactly(int fd, size_t count) {
  std::string got;
  const auto until = std::chrono::steady_clock::now() + kPeerGuard;
  while (got.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !readableWithin(fd, left)) return std::nullopt;
    char c;
    if (::recv(fd, &c, 1, 0) != 1) return std::nullopt;
    got += c;
  }
  return got;
}

// A launch that sends `bytes` but will not take an answer: its receiving
// side is shut, so the instance's write of the acknowledgement fails at
// once, as it does when a launch gave up waiting and went away. -1 when it
// could not connect.
inline int sendRefusingTheAnswer(const std::string& path, std::string_view bytes) {
  const int fd = connectTo(path);
  if (fd < 0) return -1;
  if (::shutdown(fd, SHUT_RD) != 0 || !sendBytes(fd, bytes)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Waits (within the guard) until the other end has closed the connection;
// false when it stayed open. Works whatever this end has shut.
inline bool closedByPeer(int fd) {
  const auto until = std::chrono::steady_clock::now() + kPeerGuard;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, 0, 0};  // only the hang-up, which comes when both ways are shut
    if (::poll(&p, 1, static_cast<int>(left.count())) > 0 && (p.revents & POLLHUP) != 0) {
      return true;
    }
  }
}

// A socket listening at a path, as a running instance would.
class PeerListener {
 public:
  // `backlog`: how many connections its queue takes before a connect waits.
  explicit PeerListener(std::string path, int backlog = 64) : path_(std::move(path)) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un addr = localAddress(path_);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd_, backlog) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~PeerListener() {
    if (fd_ >= 0) ::close(fd_);
  }
  PeerListener(const PeerListener&) = delete;
  PeerListener& operator=(const PeerListener&) = delete;

  bool ok() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

  // Waits (within the guard) until a connection waits in the queue.
  bool connectionWaiting() const {
    return readableWithin(fd_, std::chrono::duration_cast<std::chrono::milliseconds>(kPeerGuard));
  }

  // Stops listening but leaves the socket file behind, as a killed process
  // does: connections waiting in the queue are reset.
  void abandon() {
    ::close(fd_);
    fd_ = -1;
  }

  // The next connection, or -1 when none comes within the guard.
  int accept() {
    if (!readableWithin(fd_, std::chrono::duration_cast<std::chrono::milliseconds>(kPeerGuard))) {
      return -1;
    }
    return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  }

  // Takes and closes every connection that is waiting now, without waiting
  // for more: how many launches asked a listener that never answered.
  int dropWaiting() {
    int count = 0;
    while (readableWithin(fd_, 0ms)) {
      const int conn = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (conn < 0) break;
      ::close(conn);
      ++count;
    }
    return count;
  }

  struct Exchange {
    std::string message;  // up to and including the first line feed
    pid_t peer = -1;      // the process on the other end
  };

  // Takes one connection, reads its message line and answers with `reply`
  // (nothing: closes without a word); `beforeReply` may look at the waiting
  // sender first. Nothing when no connection comes.
  std::optional<Exchange> serveOne(std::optional<char> reply,
                                   const std::function<void(const Exchange&)>& beforeReply = {}) {
    const int conn = accept();
    if (conn < 0) return std::nullopt;
    Exchange e;
    ucred cred{};
    socklen_t size = sizeof cred;
    if (::getsockopt(conn, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0) e.peer = cred.pid;
    while (e.message.empty() || e.message.back() != '\n') {
      if (!readableWithin(conn, std::chrono::duration_cast<std::chrono::milliseconds>(kPeerGuard)))
        break;
      char c;
      if (::recv(conn, &c, 1, 0) != 1) break;
      e.message += c;
    }
    if (beforeReply) beforeReply(e);
    if (reply) sendBytes(conn, std::string_view(&*reply, 1));
    ::close(conn);
    return e;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace testing_support
