#include "support/temporary_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <random>
#include <vector>

#include "support/file.h"

namespace support {
namespace {

constexpr std::string_view kMarker = ".tmp-";
constexpr size_t kRandomLength = 8;
constexpr std::string_view kRandomChars =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// All names first, removals after: entries removed while a directory is
// read may or may not be listed.
std::vector<std::string> temporariesIn(DIR* listing, std::string_view base) {
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(listing)) {
    if (isTemporaryName(entry->d_name, base)) names.emplace_back(entry->d_name);
  }
  return names;
}

void removeIfLeftOver(int dirFd, const std::string& name, std::chrono::seconds minAge) {
  struct stat named;
  // Links are never followed, and nothing but a regular file is even opened.
  if (::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode)) {
    return;
  }
  // Non-blocking: the name may have become a FIFO since.
  int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat held;
  const bool ours = ::fstat(fd, &held) == 0 && sameFile(held, named) && S_ISREG(held.st_mode) &&
                    held.st_uid == ::geteuid() && held.st_nlink == 1;
  // A file whose time is ahead of the clock counts as new.
  const bool old = ours && ::time(nullptr) - held.st_mtime >= minAge.count();
  // Writers hold their lock until their file is renamed or removed, so one
  // taken here belongs to no write still going on. A writer renames only
  // while it holds the lock, so the name, checked once more now, stays
  // this file's until it is removed.
  if (old && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      ::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(named, held)) {
    (void)::unlinkat(dirFd, name.c_str(), 0);
  }
  ::close(fd);
}

}  // namespace

std::string temporaryName(std::string_view base) {
  thread_local std::mt19937_64 generator{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, kRandomChars.size() - 1);
  std::string name = ".";
  name += base;
  name += kMarker;
  for (size_t i = 0; i < kRandomLength; ++i) name += kRandomChars[pick(generator)];
  return name;
}

bool isTemporaryName(std::string_view name, std::string_view base) {
  const size_t prefix = 1 + base.size() + kMarker.size();
  if (base.empty() || name.size() != prefix + kRandomLength || name[0] != '.' ||
      name.substr(1, base.size()) != base ||
      name.substr(1 + base.size(), kMarker.size()) != kMarker) {
    return false;
  }
  return name.substr(prefix).find_first_not_of(kRandomChars) == std::string_view::npos;
}

bool holdTemporary(int fd, const std::string& path) {
  int locked;
  while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (locked != 0) {
    // No such locks on this file system: nothing to wait for either.
    if (errno != EWOULDBLOCK) return true;
    // Someone holds it already: a cleaner for a moment, or anyone who
    // opened it, for as long as they like. The name is this writer's to
    // free while the file there is still the one it made.
    if (namesOpenFile(path, fd)) (void)::unlink(path.c_str());
    return false;
  }
  // A cleaner that came between the creation and the lock removed the file
  // while it held the lock.
  return namesOpenFile(path, fd);
}

void removeLeftoverTemporaries(const std::string& dir, std::string_view base,
                               std::chrono::seconds minAge) {
  DIR* listing = ::opendir(dir.c_str());
  if (!listing) return;
  // Each name is looked up in the directory held open, never through the
  // path again, which may lead elsewhere by then.
  for (const std::string& name : temporariesIn(listing, base)) {
    removeIfLeftOver(::dirfd(listing), name, minAge);
  }
  ::closedir(listing);
}

}  // namespace support
