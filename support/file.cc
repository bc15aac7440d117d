#include "support/file.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/creation_mask.h"
#include "support/path.h"
#include "support/temporary_file.h"

namespace support {
namespace {

// As many links as the system itself follows before it gives up with ELOOP.
constexpr int kMaxLinkHops = 40;
constexpr int kTemporaryNameAttempts = 100;

Error errnoError(const char* op, const std::string& path, int err) {
  return makeError(std::string(op) + " " + path + ": " + std::strerror(err));
}

Error tooLarge(const std::string& path, size_t limit) {
  return makeError("read " + path + ": file is larger than " + std::to_string(limit) + " bytes");
}

Status writeAll(int fd, const std::string& data, const std::string& shown) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errnoError("write", shown, errno);
    }
    done += static_cast<size_t>(n);
  }
  return {};
}

// The directory part of a path exactly as written: the system resolves it,
// so ".." after a linked directory leads where the system says it does.
std::string directoryPart(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// `name` inside `dir`, both as written (see directoryPart).
std::string inDirectory(const std::string& dir, const std::string& name) {
  return dir == "/" ? dir + name : dir + "/" + name;
}

std::string lastComponent(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

Result<std::string> readLink(const std::string& link) {
  std::string target(PATH_MAX, '\0');
  for (;;) {
    ssize_t n = ::readlink(link.c_str(), target.data(), target.size());
    if (n < 0) return errnoError("readlink", link, errno);
    if (static_cast<size_t>(n) < target.size()) {
      target.resize(static_cast<size_t>(n));
      return target;
    }
    target.resize(target.size() * 2);
  }
}

// What writing to a path means.
struct Destination {
  // The path itself, or the end of the chain of symbolic links that starts
  // there.
  std::string path;
  bool throughLink = false;
  // What is there now, when anything is.
  bool exists = false;
  mode_t type = 0;
};

Result<Destination> linkTarget(const std::string& path) {
  std::string current = path;
  for (int hops = 0;; ++hops) {
    struct stat st;
    const bool exists = ::lstat(current.c_str(), &st) == 0;
    if (!exists || !S_ISLNK(st.st_mode)) {
      return Destination{std::move(current), hops > 0, exists, exists ? (st.st_mode & S_IFMT) : 0};
    }
    if (hops == kMaxLinkHops) return errnoError("open", path, ELOOP);
    auto target = readLink(current);
    if (!target) return target.error();
    if (target->starts_with('/')) {
      current = std::move(*target);
      continue;
    }
    // A relative target is read from the link's own directory. That
    // directory is taken as the system resolves it, and the target is
    // appended as written rather than cleaned as text, since a ".." in it
    // follows the real directory tree, not the spelling of the path.
    char* resolved = ::realpath(directoryPart(current).c_str(), nullptr);
    if (!resolved) return errnoError("open", current, errno);
    std::string dir(resolved);
    ::free(resolved);
    current = inDirectory(dir, *target);
  }
}

// Creates a fresh temporary file in `dir`, locked against cleaners of
// leftovers (support/temporary_file.h). Until the writer gives it its final
// mode only the owner may open it: the text may be meant for fewer eyes, and
// whoever opens it can also lock it. A name taken, or a file someone else
// locked first, costs one more try, within a bound; after the last, errno
// tells the last reason.
int createTemporary(const std::string& dir, const std::string& base, std::string& tmp) {
  int reason = EEXIST;
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    tmp = inDirectory(dir, temporaryName(base));
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) {
        reason = EEXIST;
        continue;
      }
      return fd;
    }
    if (holdTemporary(fd, tmp)) return fd;
    ::close(fd);
    reason = EAGAIN;
  }
  errno = reason;
  return -1;
}

Error notARegularFile(const std::string& path) {
  return makeError("open " + path + ": not a regular file");
}

// Whether what stands at `path` itself, a link not followed, is something a
// write must leave in place: a FIFO, a socket or a device the user keeps
// there (or a link put there meanwhile). A directory is left to the rename,
// which refuses it.
bool standsInTheWay(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

// Gives the temporary file open as `fd` the group of the file it replaces,
// and returns the permission bits it may then have. The owner and group go
// first: changing them clears the set-id bits. Where the group cannot be
// kept (the writer is not in it), the new file would be its writer's
// group's instead: it gets none of the group's bits, nor set-group-id.
mode_t keepGroup(int fd, gid_t group, mode_t mode) {
  struct stat made;
  if (::fstat(fd, &made) == 0 && made.st_gid == group) return mode;
  if (::fchown(fd, static_cast<uid_t>(-1), group) == 0) return mode;
  return mode & ~(S_ISGID | S_IRWXG);
}

// Makes a finished rename last through a power cut. Nothing depends on it
// having worked.
void syncDirectory(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

}  // namespace

Result<std::string> readFile(const std::string& path, size_t limit) {
  // Without blocking: a FIFO or a device put where a file should be would
  // otherwise hold the open, or the first read, until someone writes to it.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errnoError("open", path, errno);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    return errnoError("read", path, err);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    if (S_ISDIR(st.st_mode)) return errnoError("read", path, EISDIR);
    return makeError("read " + path + ": not a regular file");
  }
  // A file is read blocking: some file systems (FUSE, a file under a
  // mandatory lock) honour the flag for files too and would answer "try
  // again" where the text is only slow to come.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    int err = errno;
    ::close(fd);
    return errnoError("read", path, err);
  }
  if (static_cast<uintmax_t>(st.st_size) > limit) {
    ::close(fd);
    return tooLarge(path, limit);
  }
  std::string data;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      return errnoError("read", path, err);
    }
    if (n == 0) break;
    // A file that grows while it is read is still held to the limit.
    if (static_cast<size_t>(n) > limit - data.size()) {
      ::close(fd);
      return tooLarge(path, limit);
    }
    data.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return data;
}

bool pathExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool namesOpenFile(const std::string& path, int fd) {
  struct stat open;
  struct stat named;
  return ::fstat(fd, &open) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

Status makeDirs(const std::string& path) {
  if (path.empty() || pathExists(path)) return {};
  std::string parent = dirName(path);
  if (parent != path && parent != "." && parent != "/") {
    if (Status s = makeDirs(parent); !s) return s;
  }
  if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    return errnoError("mkdir", path, errno);
  }
  return {};
}

Status writeFileAtomic(const std::string& path, const std::string& data) {
  auto resolved = linkTarget(path);
  if (!resolved) return resolved.error();
  // Replaced and named in errors: the file the user knows, never the link
  // (which stays) nor the temporary file.
  const std::string& target = resolved->path;
  // A FIFO, a device or a socket, at the name or where a link leads (or a
  // directory a link leads to), is something the user keeps there on
  // purpose, not a file of ours to replace.
  if (resolved->exists && !S_ISREG(resolved->type) &&
      (resolved->throughLink || !S_ISDIR(resolved->type))) {
    return notARegularFile(target);
  }
  const std::string base = lastComponent(target);
  if (base.empty() || base == "." || base == "..") return errnoError("open", target, EISDIR);
  const std::string dir = directoryPart(target);
  if (!pathExists(dir)) {
    if (Status s = makeDirs(dirName(target)); !s) return s;
  }

  // An existing file keeps its permission bits and its group; a new one
  // gets 0644 less the mask, as open would have given it.
  struct stat st;
  const bool existing = ::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  mode_t mode = existing ? (st.st_mode & 07777) : (0644 & ~fileCreationMask());

  // Writes killed midway leave their temporary files; this one clears them.
  removeLeftoverTemporaries(dir, base);

  std::string tmp;
  int fd = createTemporary(dir, base, tmp);
  if (fd < 0) return errnoError("open", target, errno);
  Status status = writeAll(fd, data, target);
  if (status && existing) mode = keepGroup(fd, st.st_gid, mode);
  // A file system that keeps no modes (FAT) may refuse the change: a new
  // file then stays its owner's alone, which is never more open than meant.
  if (status && ::fchmod(fd, mode) != 0 && existing) status = errnoError("chmod", target, errno);
  // Every write error shows here at the latest, so closing after the rename
  // has none left to report.
  if (status && ::fsync(fd) != 0) status = errnoError("sync", target, errno);
  // Once more right before the rename, which replaces anything but a
  // directory: something put at the name since the first look stays. One
  // that comes in the moment between this look and the rename is replaced;
  // the system offers no rename that refuses it.
  if (status && standsInTheWay(target)) status = notARegularFile(target);
  if (status && ::rename(tmp.c_str(), target.c_str()) != 0) {
    status = errnoError("rename", target, errno);
  }
  if (!status) ::unlink(tmp.c_str());
  // Only now does the lock go: until the file is in place or gone, a cleaner
  // must not take it for a leftover.
  ::close(fd);
  if (!status) return status;
  syncDirectory(dir);
  return status;
}

}  // namespace support
