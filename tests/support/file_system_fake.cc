#include "tests/support/file_system_fake.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

// The system's own calls, as the linker's --wrap names them.
extern "C" ssize_t __real_read(int fd, void* buf, size_t count);
extern "C" int __real_flock(int fd, int operation);
extern "C" int __real_fchmod(int fd, mode_t mode);
extern "C" int __real_fchown(int fd, uid_t owner, gid_t group);

namespace file_system_fake {
namespace {

std::atomic<bool> nonBlockingFilesRefuse{false};
std::atomic<bool> modesRefused{false};
std::atomic<bool> groupsRefused{false};

struct AppearingFifo {
  std::mutex mutex;
  std::string path;  // empty once made, or when none is to be
};

AppearingFifo& appearingFifo() {
  static AppearingFifo state;
  return state;
}

void makeAppearingFifo() {
  AppearingFifo& state = appearingFifo();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (state.path.empty()) return;
  (void)::mkfifo(state.path.c_str(), 0644);
  state.path.clear();
}

struct Lockers {
  std::mutex mutex;
  bool armed = false;
  std::string dir;
  int left = 0;
  int taken = 0;
  std::vector<int> held;
  std::vector<mode_t> modes;
};

Lockers& lockers() {
  static Lockers state;
  return state;
}

bool refusesRead(int fd) {
  if (!nonBlockingFilesRefuse.load()) return false;
  struct stat st;
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_NONBLOCK) && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

std::string openPath(int fd) {
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  char target[PATH_MAX];
  ssize_t n = ::readlink(link.c_str(), target, sizeof target);
  return n < 0 ? std::string() : std::string(target, static_cast<size_t>(n));
}

// Called before the program locks `fd`.
void lookBeforeLock(int fd) {
  Lockers& state = lockers();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (!state.armed || std::filesystem::path(openPath(fd)).parent_path() != state.dir) return;
  struct stat st;
  if (::fstat(fd, &st) == 0) state.modes.push_back(st.st_mode & 07777);
  if (state.left == 0) return;
  // Opening the descriptor's own entry in /proc gives a new open file of the
  // same file, whatever has become of its name.
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  int other = ::open(self.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (other < 0) return;
  if (__real_flock(other, LOCK_EX | LOCK_NB) != 0) {
    ::close(other);
    return;
  }
  state.held.push_back(other);
  --state.left;
  ++state.taken;
}

}  // namespace

NonBlockingFilesRefuseReads::NonBlockingFilesRefuseReads() {
  nonBlockingFilesRefuse = true;
}
NonBlockingFilesRefuseReads::~NonBlockingFilesRefuseReads() {
  nonBlockingFilesRefuse = false;
}

ModesRefused::ModesRefused() {
  modesRefused = true;
}
ModesRefused::~ModesRefused() {
  modesRefused = false;
}

GroupsRefused::GroupsRefused() {
  groupsRefused = true;
}
GroupsRefused::~GroupsRefused() {
  groupsRefused = false;
}

FifoAppears::FifoAppears(const std::string& path) {
  std::lock_guard<std::mutex> guard(appearingFifo().mutex);
  appearingFifo().path = path;
}
FifoAppears::~FifoAppears() {
  std::lock_guard<std::mutex> guard(appearingFifo().mutex);
  appearingFifo().path.clear();
}

OthersLockFirst::OthersLockFirst(const std::string& dir, int count) {
  Lockers& state = lockers();
  std::lock_guard<std::mutex> guard(state.mutex);
  state.armed = true;
  state.dir = std::filesystem::canonical(dir).string();
  state.left = count;
  state.taken = 0;
  state.modes.clear();
}

OthersLockFirst::~OthersLockFirst() {
  release();
  std::lock_guard<std::mutex> guard(lockers().mutex);
  lockers().armed = false;
}

void OthersLockFirst::release() {
  Lockers& state = lockers();
  std::lock_guard<std::mutex> guard(state.mutex);
  for (int fd : state.held) ::close(fd);
  state.held.clear();
  state.left = 0;
}

int OthersLockFirst::taken() const {
  std::lock_guard<std::mutex> guard(lockers().mutex);
  return lockers().taken;
}

std::vector<mode_t> OthersLockFirst::modesSeen() const {
  std::lock_guard<std::mutex> guard(lockers().mutex);
  return lockers().modes;
}

}  // namespace file_system_fake

extern "C" ssize_t __wrap_read(int fd, void* buf, size_t count) {
  if (file_system_fake::refusesRead(fd)) {
    errno = EAGAIN;
    return -1;
  }
  return __real_read(fd, buf, count);
}

extern "C" int __wrap_flock(int fd, int operation) {
  file_system_fake::lookBeforeLock(fd);
  return __real_flock(fd, operation);
}

extern "C" int __wrap_fchmod(int fd, mode_t mode) {
  file_system_fake::makeAppearingFifo();
  if (file_system_fake::modesRefused.load()) {
    errno = EPERM;
    return -1;
  }
  return __real_fchmod(fd, mode);
}

extern "C" int __wrap_fchown(int fd, uid_t owner, gid_t group) {
  if (file_system_fake::groupsRefused.load()) {
    errno = EPERM;
    return -1;
  }
  return __real_fchown(fd, owner, group);
}
