#include "support/file.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

// The file that writing to `path` means: `path` itself, or the end of the
// chain of symbolic links that starts there (the end may not exist yet).
Result<std::string> linkTarget(const std::string& path) {
  std::string current = path;
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
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

// Creates a fresh temporary file in `dir` with the permission bits `mode`,
// locked against cleaners of leftovers (support/temporary_file.h). The file
// is made by open itself rather than by mkstemp (always 0600), so the system
// applies the process's file-creation mask to `mode`: asking for the mask
// with umask() would mean setting it, which races with every other thread
// that creates a file meanwhile.
int createTemporary(const std::string& dir, const std::string& base, mode_t mode,
                    std::string& tmp) {
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    tmp = inDirectory(dir, temporaryName(base));
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return fd;
    }
    if (holdTemporary(fd, tmp)) return fd;
    ::close(fd);
  }
  errno = EEXIST;
  return -1;
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
  const std::string& target = *resolved;
  const std::string base = lastComponent(target);
  if (base.empty() || base == "." || base == "..") return errnoError("open", target, EISDIR);
  const std::string dir = directoryPart(target);
  if (!pathExists(dir)) {
    if (Status s = makeDirs(dirName(target)); !s) return s;
  }

  // An existing file keeps its permission bits; until the rename the new
  // text sits in a file only its owner can read, in case they were narrower
  // than 0644.
  struct stat st;
  const bool existing = ::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  const mode_t kept = existing ? (st.st_mode & 07777) : 0;

  // Writes killed midway leave their temporary files; this one clears them.
  removeLeftoverTemporaries(dir, base);

  std::string tmp;
  int fd = createTemporary(dir, base, existing ? 0600 : 0644, tmp);
  if (fd < 0) return errnoError("open", target, errno);
  Status status = writeAll(fd, data, target);
  if (status && existing && ::fchmod(fd, kept) != 0) status = errnoError("chmod", target, errno);
  // Every write error shows here at the latest, so closing after the rename
  // has none left to report.
  if (status && ::fsync(fd) != 0) status = errnoError("sync", target, errno);
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
