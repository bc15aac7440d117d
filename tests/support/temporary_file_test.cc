// The temporary files of whole-file writes: their names, the lock their
// writer holds, and the clearing of those that dead writes left behind.
#include "support/temporary_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/file.h"
#include "tests/support/file_system_fake.h"
#include "tests/test_support.h"

namespace {

using namespace std::chrono_literals;
using testing_support::TempDir;
namespace fs = std::filesystem;

constexpr const char* kBase = "window-state.json";

std::set<std::string> entriesIn(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// Dates the entry (not what a link leads to) an hour back.
void makeOld(const std::string& path) {
  const timespec hourAgo{std::time(nullptr) - 3600, 0};
  const timespec times[2] = {hourAgo, hourAgo};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// A temporary file as a writer makes it, held until `close`.
int madeByAWriter(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  EXPECT_GE(fd, 0) << path;
  EXPECT_TRUE(support::holdTemporary(fd, path));
  return fd;
}

TEST(TemporaryName, IsExactlyTheWritersPattern) {
  for (int i = 0; i < 100; ++i) {
    const std::string name = support::temporaryName(kBase);
    EXPECT_EQ(name.size(), std::string(".window-state.json.tmp-").size() + 8) << name;
    EXPECT_TRUE(support::isTemporaryName(name, kBase)) << name;
  }
  struct Case {
    std::string name;
    std::string base;
    bool matches;
  };
  const std::vector<Case> cases = {
      {".window-state.json.tmp-Ab3dEf9Z", kBase, true},
      {".window-state.json.tmp-Ab3dEf9", kBase, false},
      {".window-state.json.tmp-Ab3dEf9Zq", kBase, false},
      {".window-state.json.tmp-Ab3d_f9Z", kBase, false},
      {".window-state.json.tmp-Ab3d.f9Z", kBase, false},
      {".window-state.json.TMP-Ab3dEf9Z", kBase, false},
      {"window-state.json.tmp-Ab3dEf9Zq", kBase, false},
      {"xwindow-state.json.tmp-Ab3dEf9Z", kBase, false},
      {".call-mini.json.tmp-Ab3dEf9Z", kBase, false},
      {".window-state.json.tmp-Ab3dEf9Z", "state.json", false},
      {".window-state.json.tmp-Ab3dEf9Z", "", false},
      {"..tmp-Ab3dEf9Z", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(support::isTemporaryName(c.name, c.base), c.matches) << c.name << " for " << c.base;
  }
}

TEST(TemporaryFile, AHeldFileIsNoLeftoverAndAReleasedOneIs) {
  TempDir dir;
  const std::string path = dir.path() + "/" + support::temporaryName(kBase);
  int fd = madeByAWriter(path);
  makeOld(path);
  support::removeLeftoverTemporaries(dir.path(), kBase, 0s);
  EXPECT_TRUE(fs::exists(path)) << "its writer still holds it";
  ::close(fd);
  support::removeLeftoverTemporaries(dir.path(), kBase, 0s);
  EXPECT_FALSE(fs::exists(path)) << "its writer is gone";
}

TEST(TemporaryFile, AWriterWhoseFileACleanerTookBeforeTheLockLetsItGo) {
  TempDir dir;
  const std::string path = dir.path() + "/" + support::temporaryName(kBase);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::unlink(path.c_str()), 0);  // as a cleaner would, before the writer's lock
  EXPECT_FALSE(support::holdTemporary(fd, path));
  ::close(fd);
}

TEST(WriteFileAtomic, RemovesOnlyTheLeftoversOfDeadWrites) {
  // A dead write leaves its file complete, or empty when it was killed
  // before it wrote.
  enum kind { dead, deadEmpty, held, fresh, link, directory, fifo, twoNames, foreign };
  struct Case {
    std::string name;
    kind is;
    bool removed;
  };
  std::vector<Case> cases = {
      {".window-state.json.tmp-DeadFul1", dead, true},
      {".window-state.json.tmp-DeadEmp1", deadEmpty, true},
      {".window-state.json.tmp-InFlight", held, false},
      {".window-state.json.tmp-JustMade", fresh, false},
      {".window-state.json.tmp-LinkAway", link, false},
      {".window-state.json.tmp-AFolder1", directory, false},
      {".window-state.json.tmp-AFifo123", fifo, false},
      {".window-state.json.tmp-TwoNames", twoNames, false},
      {".call-mini.json.tmp-DeadFul1", dead, false},
      {".window-state.json.tmp-DeadFu", dead, false},
      {".window-state.json.tmp-DeadFul12", dead, false},
      {"window-state.json.tmp-DeadFul12", dead, false},
      {".window-state.json.tmp-Dead-Fu1", dead, false},
  };
  // Only root can give a file away.
  if (::geteuid() == 0) cases.push_back({".window-state.json.tmp-NotMine1", foreign, false});

  TempDir dir;
  const std::string target = dir.write(kBase, "old");
  const std::string elsewhere = dir.write("elsewhere/kept.json", "kept");
  makeOld(elsewhere);
  std::set<std::string> kept = {kBase, "elsewhere", "second-name"};
  std::vector<int> holders;
  for (const Case& c : cases) {
    const std::string path = dir.path() + "/" + c.name;
    switch (c.is) {
      case dead:
      case fresh:
      case twoNames:
      case foreign:
        dir.write(c.name, R"({"X":1,"Y":2,"Width":1280,"Height":820,"Maximized":false})");
        break;
      case deadEmpty:
        dir.write(c.name, "");
        break;
      case held:
        holders.push_back(madeByAWriter(path));
        break;
      case link:
        fs::create_symlink(elsewhere, path);
        break;
      case directory:
        dir.mkdir(c.name);
        break;
      case fifo:
        ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
        break;
    }
    if (c.is == twoNames) {
      ASSERT_EQ(::link(path.c_str(), (dir.path() + "/second-name").c_str()), 0);
    }
    if (c.is == foreign) {
      ASSERT_EQ(::lchown(path.c_str(), 65534, 65534), 0);
    }
    if (c.is != fresh) makeOld(path);
    if (!c.removed) kept.insert(c.name);
  }

  ASSERT_TRUE(support::writeFileAtomic(target, "new").ok());
  EXPECT_EQ(testing_support::readAll(target), "new");
  EXPECT_EQ(entriesIn(dir.path()), kept);
  EXPECT_EQ(testing_support::readAll(elsewhere), "kept") << "a link's target is never touched";
  for (int fd : holders) ::close(fd);
}

// A cleaner that takes every file no writer holds, however new, never takes
// one from a write still going on: each writer holds its file from just
// after it is made until it is in place.
TEST(WriteFileAtomic, WritesGoingOnOutlastACleanerThatWaitsForNothing) {
  TempDir dir;
  const std::string path = dir.path() + "/" + kBase;
  std::atomic<bool> done{false};
  std::thread cleaner([&] {
    while (!done) support::removeLeftoverTemporaries(dir.path(), kBase, 0s);
  });
  std::vector<std::thread> writers;
  for (char c : std::string("abcd")) {
    writers.emplace_back([&path, c] {
      for (int i = 0; i < 25; ++i) {
        auto status = support::writeFileAtomic(path, std::string(1000, c));
        EXPECT_TRUE(status.ok()) << status.error().message;
      }
    });
  }
  for (auto& w : writers) w.join();
  done = true;
  cleaner.join();
  EXPECT_EQ(entriesIn(dir.path()), std::set<std::string>{kBase});
}

// Whoever can open a fresh temporary file can lock it before its writer
// does. The write then makes another rather than wait on them, and gives up
// after a bounded number of tries when every one is taken.
TEST(WriteFileAtomic, ATemporaryFileSomeoneElseLocksIsDroppedNotWaitedFor) {
  struct Case {
    int lockedByOthers;
    bool written;
  };
  for (const Case& c : {Case{1, true}, Case{1000, false}}) {
    TempDir dir;
    const std::string target = dir.path() + "/" + kBase;
    file_system_fake::OthersLockFirst others(dir.path(), c.lockedByOthers);
    auto write = std::async(std::launch::async,
                            [&target] { return support::writeFileAtomic(target, "new"); });
    // Only a guard against a hang: a write that waits on the others goes on
    // once they let go.
    const bool heldUp = write.wait_for(20s) != std::future_status::ready;
    others.release();
    const support::Status status = write.get();
    EXPECT_FALSE(heldUp) << c.lockedByOthers;
    EXPECT_GE(others.taken(), 1);
    ASSERT_EQ(status.ok(), c.written) << (status.ok() ? "" : status.error().message);
    if (c.written) {
      EXPECT_EQ(testing_support::readAll(target), "new");
      EXPECT_EQ(entriesIn(dir.path()), std::set<std::string>{kBase});
    } else {
      EXPECT_EQ(status.error().message, "open " + target + ": Resource temporarily unavailable");
      EXPECT_EQ(entriesIn(dir.path()), std::set<std::string>{});
    }
  }
}

}  // namespace
