#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "shell/platform/file_lock.h"
#include "support/file.h"

namespace shell::platform {
namespace {

// A lock file that a cleaner of the temporary directory removed can be
// locked by one launch while the next makes a new one; a lock counts only
// while the name still leads to the locked file. The rounds are bounded in
// case something keeps replacing it.
constexpr int kRounds = 4;

support::Error failure(const std::string& path, const std::string& what) {
  return support::makeError("lock " + path + ": " + what);
}

enum class attempt { taken, busy, replaced };

// One try at `fd`, the open lock file, which this process made itself when
// `made` is true. A file it did not make is refused unless it is this user's
// and has no other name, since whatever else shares it (a hard link to
// another file) would be the one locked, and only then made owner-only if
// others may open it: whoever can open it can hold the claim.
support::Result<attempt> lockOpenFile(const std::string& path, int fd, bool made) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return failure(path, std::string("stat: ") + std::strerror(errno));
  if (!made) {
    if (!S_ISREG(st.st_mode)) return failure(path, "not a regular file");
    if (st.st_uid != ::geteuid()) return failure(path, "the file belongs to another user");
    if (st.st_nlink != 1) return failure(path, "the file has more than one name");
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0 && ::fchmod(fd, S_IRUSR | S_IWUSR) != 0) {
      return failure(path, std::string("chmod: ") + std::strerror(errno));
    }
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return attempt::busy;
    if (errno != EINTR) return failure(path, std::string("flock: ") + std::strerror(errno));
  }
  return support::namesOpenFile(path, fd) ? attempt::taken : attempt::replaced;
}

}  // namespace

void fileLock::release() {
  if (fd_ < 0) return;
  ::close(fd_);  // closing the only descriptor of the open file ends the lock
  fd_ = -1;
}

support::Result<fileLock> tryLockFile(const std::string& path) {
  // Links are never followed, and O_NONBLOCK keeps a FIFO put in its place
  // from holding the open up. No O_TRUNC: the file holds nothing, and
  // another's must stay as it is.
  constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  for (int round = 0; round < kRounds; ++round) {
    int fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
    const bool made = fd >= 0;
    if (!made && errno == EEXIST) {
      fd = ::open(path.c_str(), kFlags);
      if (fd < 0 && errno == ENOENT) continue;  // removed between the two opens
    }
    if (fd < 0) return failure(path, std::string("open: ") + std::strerror(errno));
    fileLock lock(fd);
    auto tried = lockOpenFile(path, fd, made);
    if (!tried) return tried.error();
    if (*tried == attempt::taken) return lock;
    if (*tried == attempt::busy) return fileLock();
  }
  return failure(path, "the file keeps being replaced");
}

}  // namespace shell::platform
