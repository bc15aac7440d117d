// Answers of file systems and of other processes that this machine cannot be
// made to give on demand, played inside the support test program. Its link
// routes the support library's (and these tests') calls to read(), flock(),
// fchmod() and fchown() through the fakes (tests/CMakeLists.txt); they pass
// every call on to the system unchanged unless a test holds one of the
// objects below.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace file_system_fake {

// While one lives, read() refuses with EAGAIN on a regular file open with
// O_NONBLOCK, as a file system that honours the flag for files does (FUSE,
// a file under a mandatory lock).
class NonBlockingFilesRefuseReads {
 public:
  NonBlockingFilesRefuseReads();
  ~NonBlockingFilesRefuseReads();
  NonBlockingFilesRefuseReads(const NonBlockingFilesRefuseReads&) = delete;
  NonBlockingFilesRefuseReads& operator=(const NonBlockingFilesRefuseReads&) = delete;
};

// While one lives, fchmod() refuses with EPERM, as a file system that keeps
// no modes (FAT) does.
class ModesRefused {
 public:
  ModesRefused();
  ~ModesRefused();
  ModesRefused(const ModesRefused&) = delete;
  ModesRefused& operator=(const ModesRefused&) = delete;
};

// While one lives, fchown() refuses with EPERM, as it does for a user who is
// not in the group asked for (the tests run as root, who may give a file any
// group).
class GroupsRefused {
 public:
  GroupsRefused();
  ~GroupsRefused();
  GroupsRefused(const GroupsRefused&) = delete;
  GroupsRefused& operator=(const GroupsRefused&) = delete;
};

// While one lives, the first fchmod() is preceded by a FIFO made at `path`,
// as by another process while a write is going on there.
class FifoAppears {
 public:
  explicit FifoAppears(const std::string& path);
  ~FifoAppears();
  FifoAppears(const FifoAppears&) = delete;
  FifoAppears& operator=(const FifoAppears&) = delete;
};

// While one lives, every file in `dir` that is about to be locked with
// flock() is looked at first, and each of the first `count` of them is locked
// by someone else just before: as by another process that opened a fresh
// temporary file and locked it. That someone holds each until release() or
// the end of the scope. It is another open file of this program, which flock
// treats as another holder. One at a time.
class OthersLockFirst {
 public:
  OthersLockFirst(const std::string& dir, int count);
  ~OthersLockFirst();
  OthersLockFirst(const OthersLockFirst&) = delete;
  OthersLockFirst& operator=(const OthersLockFirst&) = delete;

  // Lets go of every file held, and takes no more.
  void release();
  // How many files someone else locked first.
  int taken() const;
  // The permission bits of each file looked at, in order, as they were
  // when it was about to be locked.
  std::vector<mode_t> modesSeen() const;
};

}  // namespace file_system_fake
