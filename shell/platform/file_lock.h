// An exclusive advisory lock on a file of this user's: what makes starting
// the one instance of a user and channel a thing only one launch at a time
// can do. The lock belongs to the open file, not to a name, so it goes when
// its holder ends however it ends, and no started program inherits it.
#pragma once

#include <string>
#include <utility>

#include "support/result.h"

namespace shell::platform {

// A lock while held() is true; releasing it (or destroying it) lets the next
// launch take it.
class fileLock {
 public:
  fileLock() = default;
  explicit fileLock(int fd) : fd_(fd) {}
  fileLock(fileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  fileLock& operator=(fileLock&& other) noexcept {
    if (this != &other) {
      release();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  fileLock(const fileLock&) = delete;
  fileLock& operator=(const fileLock&) = delete;
  ~fileLock() { release(); }

  bool held() const { return fd_ >= 0; }
  void release();

 private:
  int fd_ = -1;
};

// Takes the lock on the file at `path`, made owner-only when missing,
// without waiting: a lock that is not held() when another process holds it.
// An error when the file cannot serve as this user's lock: it belongs to
// another user, is a link or no regular file, or has another name (a hard
// link). A lock file of this user's alone that others may open is made
// owner-only; no other file that this call did not make is ever followed,
// changed or truncated.
support::Result<fileLock> tryLockFile(const std::string& path);

}  // namespace shell::platform
