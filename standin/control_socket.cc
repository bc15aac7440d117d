// The control channel for process-level tests: a Unix socket, one JSON
// command per line in, one JSON reply per line out. Each connection is served
// by a thread of its own, so a command that waits for a callback blocks only
// its own connection; one for which the system gives no thread is refused.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "commands.h"
#include "trace.h"

namespace standin {

namespace {

struct SocketState {
  std::mutex mu;
  std::string path;
  bool listening = false;
};

SocketState& socketState() {
  static SocketState* s = new SocketState;
  return *s;
}

// Starts a detached thread; the system's refusal as text, empty when it ran.
template <typename Fn, typename Arg>
std::string startThread(Fn fn, Arg arg) {
  try {
    std::thread(fn, arg).detach();
    return {};
  } catch (const std::system_error& e) {
    return "cannot start a thread: " + e.code().message();
  }
}

bool writeAll(int fd, const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = send(fd, p, left, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

void serveConnection(int fd) {
  std::string pending;
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buf, static_cast<size_t>(n));
    size_t newline;
    while ((newline = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, newline);
      pending.erase(0, newline + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      if (!writeAll(fd, runCommandText(line) + "\n")) {
        close(fd);
        return;
      }
    }
  }
  close(fd);
}

void acceptLoop(int listener) {
  for (;;) {
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      writeStderrLine(std::string("control socket: accept failed: ") + strerror(errno));
      return;
    }
    if (std::string refused = startThread(serveConnection, fd); !refused.empty()) {
      // One refused line, so that the client is not left waiting.
      (void)writeAll(fd, dumpJson({{"ok", false}, {"error", "control socket: " + refused}}) + "\n");
      close(fd);
    }
  }
}

// A socket file that nobody answers on is left over from an ended process.
bool someoneListens(const sockaddr_un& addr) {
  int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  bool answered = connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
  close(probe);
  return answered;
}

}  // namespace

bool startControlSocket(const std::string& path, std::string& error) {
  SocketState& s = socketState();
  std::lock_guard lock(s.mu);
  if (s.listening) {
    if (s.path == path) return true;
    error = "the control socket already listens at " + s.path;
    return false;
  }
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) {
    error = "control socket path must be 1 to " + std::to_string(sizeof addr.sun_path - 1) +
            " bytes long";
    return false;
  }
  memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) {
    error = std::string("control socket: ") + strerror(errno);
    return false;
  }
  bool bound = bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  int bindErrno = errno;
  if (!bound && bindErrno == EADDRINUSE && !someoneListens(addr)) {
    unlink(path.c_str());
    bound = bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    bindErrno = errno;
  }
  if (!bound) {
    error = "control socket " + path + ": " + strerror(bindErrno);
    close(listener);
    return false;
  }
  if (::listen(listener, 16) != 0) {
    error = "control socket " + path + ": " + strerror(errno);
    close(listener);
    unlink(path.c_str());
    return false;
  }
  if (std::string refused = startThread(acceptLoop, listener); !refused.empty()) {
    error = "control socket " + path + ": " + refused;
    close(listener);
    unlink(path.c_str());
    return false;
  }
  s.path = path;
  s.listening = true;
  traceLine("control socket listening at " + path);
  return true;
}

json controlSocketJson() {
  SocketState& s = socketState();
  std::lock_guard lock(s.mu);
  return {{"listening", s.listening}, {"path", s.listening ? json(s.path) : json(nullptr)}};
}

// The socket file goes with the process.
__attribute__((destructor)) static void removeControlSocket() {
  SocketState& s = socketState();
  std::lock_guard lock(s.mu);
  if (s.listening) unlink(s.path.c_str());
}

}  // namespace standin
