#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "shell/platform/local_socket.h"

namespace shell::platform {
namespace {

using std::chrono::steady_clock;

// The address of `path`, or false when the name does not fit.
bool addressOf(const std::string& path, sockaddr_un& addr) {
  addr = sockaddr_un{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.data(), path.size());
  return true;
}

support::Error failure(const std::string& op, const std::string& path, const char* step, int err) {
  return support::makeError(op + " unix " + path + ": " + step + ": " + std::strerror(err));
}

// Milliseconds left until `until`, rounded up so that a wait never ends just
// short of it and spins; -1 when it has passed.
int millisecondsLeft(deadline until) {
  const auto left = until - steady_clock::now();
  if (left <= steady_clock::duration::zero()) return -1;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// Waits until `fd` is ready for `events` before `until`.
bool waitFor(int fd, short events, deadline until) {
  for (;;) {
    const int ms = millisecondsLeft(until);
    if (ms < 0) return false;
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, ms);
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

fileIdentity identityOf(const struct stat& st) {
  return fileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// Makes the socket file that bind() just made owner-only and says which file
// it is. This runs before listen(), so nobody can connect while the file
// still has the mode of the file-creation mask. The entry is opened without
// following a link and changed through that descriptor, so an entry that
// was swapped in meanwhile (possible in a directory without the sticky bit)
// is refused, never changed.
support::Result<fileIdentity> ownSocketFile(const std::string& path) {
  const int entry = ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (entry < 0) return failure("listen", path, "open", errno);
  struct stat st {};
  if (::fstat(entry, &st) != 0) {
    const int err = errno;
    ::close(entry);
    return failure("listen", path, "stat", err);
  }
  if (!S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid()) {
    ::close(entry);
    return support::makeError("listen unix " + path + ": the socket file was replaced");
  }
  // A descriptor opened with O_PATH takes no fchmod; its /proc name changes
  // the very inode it holds.
  const std::string pinned = "/proc/self/fd/" + std::to_string(entry);
  const int changed = ::chmod(pinned.c_str(), S_IRUSR | S_IWUSR);
  const int err = errno;
  ::close(entry);
  if (changed != 0) {
    removeIfSame(path, identityOf(st));
    return failure("listen", path, "chmod", err);
  }
  return identityOf(st);
}

}  // namespace

std::optional<fileIdentity> entryAt(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  return identityOf(st);
}

connection connectLocal(const std::string& path, std::chrono::milliseconds timeout) {
  sockaddr_un addr;
  if (!addressOf(path, addr)) return {};
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {};
  // A connect to a listener with a full queue sleeps in the kernel; the send
  // timeout bounds that sleep.
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  (void)::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    const int err = errno;
    ::close(fd);
    return connection{-1, err == EAGAIN || err == ETIMEDOUT || err == EINPROGRESS};
  }
  return connection{fd, false};
}

support::Result<listening> listenLocal(const std::string& path) {
  sockaddr_un addr;
  if (!addressOf(path, addr)) return support::makeError("listen unix " + path + ": name too long");
  // Non-blocking, so that an accept after a connection was withdrawn again
  // cannot sleep where nothing wakes it.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return failure("listen", path, "socket", errno);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    const int err = errno;
    ::close(fd);
    return failure("listen", path, "bind", err);
  }
  auto owned = ownSocketFile(path);
  if (!owned) {
    ::close(fd);
    return owned.error();
  }
  if (::listen(fd, SOMAXCONN) != 0) {
    const int err = errno;
    ::close(fd);
    removeIfSame(path, *owned);
    return failure("listen", path, "listen", err);
  }
  return listening{fd, *owned};
}

bool ownedByAnotherUser(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && st.st_uid != ::geteuid();
}

void removeIfSame(const std::string& path, const fileIdentity& file) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && identityOf(st) == file) ::unlink(path.c_str());
}

bool peerIsThisUser(int fd) {
  ucred cred{};
  socklen_t size = sizeof cred;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 && size == sizeof cred &&
         cred.uid == ::geteuid();
}

accepted acceptLocal(int listener, int wake) {
  for (;;) {
    pollfd p[2] = {{listener, POLLIN, 0}, {wake, POLLIN, 0}};
    const int n = ::poll(p, 2, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return accepted{-1, errno, false};
    }
    if (p[1].revents != 0) return accepted{-1, 0, true};
    if (p[0].revents == 0) continue;
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return accepted{fd, 0, false};
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
    return accepted{-1, errno, false};
  }
}

bool waitForWake(int wake, std::chrono::milliseconds pause) {
  return waitFor(wake, POLLIN, steady_clock::now() + pause);
}

support::Status makeWakePipe(int fds[2]) {
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    return support::makeError(std::string("pipe: ") + std::strerror(errno));
  }
  return {};
}

void wake(int writeEnd) {
  const char byte = 1;
  while (::write(writeEnd, &byte, 1) < 0 && errno == EINTR) {
  }
}

long readBefore(int fd, char* buffer, size_t size, deadline until) {
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, size, MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    if (!waitFor(fd, POLLIN, until)) return -1;
  }
}

bool writeBefore(int fd, std::string_view data, deadline until) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    if (!waitFor(fd, POLLOUT, until)) return false;
  }
  return true;
}

void closeDescriptor(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace shell::platform
