#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "shell/platform/local_socket.h"
#include "support/path.h"
#include "support/temporary_file.h"

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
  return fileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                      static_cast<int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec};
}

// How many private names a listener tries before it gives up: another
// process would have to guess each one.
constexpr int kNameAttempts = 8;

// Makes the socket file that bind() just made at `name` owner-only and says
// which file it is then. This runs before listen(), so nobody can connect
// while the file still has the mode of the file-creation mask. The entry is
// opened without following a link and changed through that descriptor, so
// an entry that was swapped in meanwhile (possible in a directory without
// the sticky bit) is refused, never changed. Errors name `path`, the name
// the socket is for.
support::Result<fileIdentity> ownSocketFile(const std::string& name, const std::string& path) {
  const int entry = ::open(name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
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
  if (changed == 0) ::fstat(entry, &st);  // the change of mode is a change of the inode
  ::close(entry);
  if (changed != 0) {
    removeIfSame(name, identityOf(st));
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

bool fitsSocketAddress(const std::string& path) {
  sockaddr_un addr;
  return addressOf(path, addr);
}

connection connectLocal(const std::string& path, std::chrono::milliseconds timeout) {
  sockaddr_un addr;
  if (!addressOf(path, addr)) return connection{-1, connection::other};
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return connection{-1, connection::other};
  // A connect to a listener with a full queue sleeps in the kernel; the send
  // timeout bounds that sleep.
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  (void)::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  while (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    const int err = errno;
    if (err == EINTR) continue;
    ::close(fd);
    switch (err) {
      case ENOENT:
        return connection{-1, connection::missing};
      case ECONNREFUSED:
        return connection{-1, connection::refused};
      case EAGAIN:
      case ETIMEDOUT:
      case EINPROGRESS:
        return connection{-1, connection::timedOut};
      default:
        return connection{-1, connection::other};
    }
  }
  return connection{fd, connection::none};
}

support::Result<listening> listenAside(const std::string& path) {
  if (!fitsSocketAddress(path))
    return support::makeError("listen unix " + path + ": name too long");
  const std::string dir = support::dirName(path);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string name = support::joinPath({dir, support::temporaryName("bk")});
    sockaddr_un addr;
    if (!addressOf(name, addr))
      return support::makeError("listen unix " + path + ": name too long");
    // Non-blocking, so that an accept after a connection was withdrawn again
    // cannot sleep where nothing wakes it.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return failure("listen", path, "socket", errno);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
      const int err = errno;
      ::close(fd);
      if (err == EADDRINUSE) continue;
      return failure("listen", path, "bind", err);
    }
    auto owned = ownSocketFile(name, path);
    if (!owned) {
      ::close(fd);
      return owned.error();
    }
    if (::listen(fd, SOMAXCONN) != 0) {
      const int err = errno;
      ::close(fd);
      removeIfSame(name, *owned);
      return failure("listen", path, "listen", err);
    }
    return listening{fd, name, *owned};
  }
  return support::makeError("listen unix " + path + ": no free name beside it");
}

support::Result<published> publishAt(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return published::done;
  }
  int err = errno;
  // A file system without that kind of rename: a second name that link()
  // refuses to put over anything, then the private one goes.
  if (err == EINVAL || err == ENOSYS || err == EOPNOTSUPP) {
    if (::link(from.c_str(), to.c_str()) == 0) {
      ::unlink(from.c_str());
      return published::done;
    }
    err = errno;
  }
  if (err == EEXIST) return published::taken;
  return failure("listen", to, "rename", err);
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

namespace {

transfer failedTransfer(int err) {
  return err == ECONNRESET || err == EPIPE ? transfer::ended : transfer::failed;
}

}  // namespace

transfer readBefore(int fd, char* buffer, size_t size, deadline until, size_t& got) {
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, size, MSG_DONTWAIT);
    if (n > 0) {
      got = static_cast<size_t>(n);
      return transfer::done;
    }
    if (n == 0) return transfer::ended;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return failedTransfer(errno);
    if (!waitFor(fd, POLLIN, until)) return transfer::pastDeadline;
  }
}

transfer writeBefore(int fd, std::string_view data, deadline until) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return failedTransfer(errno);
    if (!waitFor(fd, POLLOUT, until)) return transfer::pastDeadline;
  }
  return transfer::done;
}

void closeDescriptor(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace shell::platform
