#include "support/file.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/other_user.h"
#include "tests/support/file_system_fake.h"
#include "tests/test_support.h"

namespace {

using testing_support::TempDir;
namespace fs = std::filesystem;

int entriesIn(const std::string& dir) {
  int entries = 0;
  for (const auto& e : fs::directory_iterator(dir)) {
    (void)e;
    ++entries;
  }
  return entries;
}

mode_t modeOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

std::string linkText(const std::string& link) {
  return fs::read_symlink(link).string();
}

// A socket file at `path`, left behind by a listener that is gone.
void makeSocket(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
}

// Sets the process's file-creation mask for a scope.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(old_); }

 private:
  mode_t old_;
};

TEST(ReadFile, ReadsWholeFileOrNamesThePath) {
  TempDir dir;
  std::string path = dir.write("a.txt", std::string("x\0y", 3));
  auto text = support::readFile(path);
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text, std::string("x\0y", 3));

  auto missing = support::readFile(dir.path() + "/none.json");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().message,
            "open " + dir.path() + "/none.json: No such file or directory");
}

TEST(ReadFile, RefusesAFileBeyondTheLimitAndADirectory) {
  TempDir dir;
  std::string exact = dir.write("exact.json", std::string(100, 'a'));
  std::string over = dir.write("over.json", std::string(101, 'a'));
  auto atLimit = support::readFile(exact, 100);
  ASSERT_TRUE(atLimit.ok());
  EXPECT_EQ(atLimit->size(), 100u);

  auto beyond = support::readFile(over, 100);
  ASSERT_FALSE(beyond.ok());
  EXPECT_EQ(beyond.error().message, "read " + over + ": file is larger than 100 bytes");

  auto directory = support::readFile(dir.mkdir("sub"));
  ASSERT_FALSE(directory.ok());
  EXPECT_EQ(directory.error().message, "read " + dir.path() + "/sub: Is a directory");
}

TEST(ReadFile, RefusesWhatIsNotARegularFileWithoutWaiting) {
  TempDir dir;
  const std::string fifo = dir.path() + "/fifo.json";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  // A character device, reached through a link.
  const std::string device = dir.path() + "/device.json";
  fs::create_symlink("/dev/null", device);
  for (const std::string& path : {fifo, device}) {
    bool waited = false;
    auto text = testing_support::readingWithoutWaiting(
        fifo, [&path] { return support::readFile(path); }, waited);
    EXPECT_FALSE(waited) << path;
    ASSERT_FALSE(text.ok()) << path;
    EXPECT_EQ(text.error().message, "read " + path + ": not a regular file");
  }
}

TEST(ReadFile, ReadsAFileWhoseFileSystemHonoursNonBlocking) {
  TempDir dir;
  const std::string path = dir.write("desktop.json", R"({"Width":1280})");
  file_system_fake::NonBlockingFilesRefuseReads fileSystem;
  // The fake is in force: the file read without blocking gives nothing.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  char byte;
  EXPECT_EQ(::read(fd, &byte, 1), -1);
  EXPECT_EQ(errno, EAGAIN);
  ::close(fd);

  auto text = support::readFile(path);
  ASSERT_TRUE(text.ok()) << text.error().message;
  EXPECT_EQ(*text, R"({"Width":1280})");
}

TEST(ReadFile, HoldsAFileWithoutAKnownSizeToTheLimit) {
  // /proc files report a size of 0 and are only found long by reading them.
  auto status = support::readFile("/proc/self/status", 8);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().message, "read /proc/self/status: file is larger than 8 bytes");
}

TEST(WriteFileAtomic, ReplacesWholeWithMode0644AndCreatesDirectories) {
  TempDir dir;
  ScopedUmask mask(022);
  std::string path = dir.path() + "/new/sub/state.json";
  ASSERT_TRUE(support::writeFileAtomic(path, "old").ok());
  ASSERT_TRUE(support::writeFileAtomic(path, "new text").ok());
  EXPECT_EQ(testing_support::readAll(path), "new text");

  EXPECT_EQ(modeOf(path), 0644u);
  EXPECT_EQ(modeOf(dir.path() + "/new"), 0755u);
  // Nothing but the target is left behind.
  EXPECT_EQ(entriesIn(dir.path() + "/new/sub"), 1);
}

TEST(WriteFileAtomic, FailedRenameLeavesNoTemporaryFileAndNamesTheTarget) {
  TempDir dir;
  // A non-empty directory where the file should go cannot be replaced.
  dir.mkdir("blocked.json/inner");
  std::string path = dir.path() + "/blocked.json";
  auto status = support::writeFileAtomic(path, "new");
  ASSERT_FALSE(status.ok());
  EXPECT_TRUE(status.error().message.starts_with("rename " + path + ": "))
      << status.error().message;
  EXPECT_EQ(status.error().message.find(".tmp-"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(dir.path() + "/blocked.json/inner"));
  EXPECT_EQ(entriesIn(dir.path()), 1);
}

TEST(WriteFileAtomic, NewFileGets0644WithinTheCreationMask) {
  struct Case {
    mode_t mask;
    mode_t expected;
  };
  for (const Case& c : {Case{022, 0644}, Case{027, 0640}, Case{077, 0600}, Case{0, 0644}}) {
    TempDir dir;
    ScopedUmask mask(c.mask);
    std::string path = dir.path() + "/desktop.json";
    ASSERT_TRUE(support::writeFileAtomic(path, "{}").ok());
    EXPECT_EQ(modeOf(path), c.expected) << "umask " << std::oct << c.mask;
  }
}

// The new text may be meant for fewer eyes than 0644 lets in: until its
// final mode is set, no one but the owner can open the temporary file (nor
// lock it, nor read it).
TEST(WriteFileAtomic, TheTemporaryFileIsTheOwnersAloneUntilItsModeIsSet) {
  struct Case {
    bool existing;
    mode_t mode;  // of the existing file
    mode_t mask;
    mode_t expected;
  };
  for (const Case& c : {Case{false, 0, 0, 0644}, Case{false, 0, 022, 0644},
                        Case{true, 0666, 0, 0666}, Case{true, 0640, 022, 0640}}) {
    TempDir dir;
    ScopedUmask mask(c.mask);
    const std::string path = dir.path() + "/desktop.json";
    if (c.existing) {
      dir.write("desktop.json", "old");
      ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
    }
    file_system_fake::OthersLockFirst watch(dir.path(), 0);
    ASSERT_TRUE(support::writeFileAtomic(path, "new").ok());
    EXPECT_EQ(watch.modesSeen(), std::vector<mode_t>{0600}) << "umask " << std::oct << c.mask;
    EXPECT_EQ(modeOf(path), c.expected) << "umask " << std::oct << c.mask;
  }
}

// Where the file system keeps no modes, a new file is still written, and
// stays as it was made: its owner's alone. An existing file's mode that
// cannot be kept fails the write, which leaves the file as it was.
TEST(WriteFileAtomic, AModeTheFileSystemRefusesIsNeverMoreOpenThanMeant) {
  TempDir dir;
  ScopedUmask mask(022);
  const std::string fresh = dir.path() + "/fresh.json";
  const std::string kept = dir.write("kept.json", "old");
  ASSERT_EQ(chmod(kept.c_str(), 0640), 0);
  file_system_fake::ModesRefused fileSystem;

  auto written = support::writeFileAtomic(fresh, "new");
  ASSERT_TRUE(written.ok()) << written.error().message;
  EXPECT_EQ(testing_support::readAll(fresh), "new");
  EXPECT_EQ(modeOf(fresh), 0600u);

  auto refused = support::writeFileAtomic(kept, "new");
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, "chmod " + kept + ": Operation not permitted");
  EXPECT_EQ(testing_support::readAll(kept), "old");
  EXPECT_EQ(entriesIn(dir.path()), 2);
}

TEST(WriteFileAtomic, ExistingFileKeepsItsMode) {
  for (mode_t mode : {0600, 0640, 0444, 0755, 0666}) {
    TempDir dir;
    ScopedUmask mask(022);
    std::string path = dir.write("state.json", "old");
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    ASSERT_TRUE(support::writeFileAtomic(path, "new").ok());
    EXPECT_EQ(testing_support::readAll(path), "new");
    EXPECT_EQ(modeOf(path), mode) << std::oct << mode;
  }
}

TEST(WriteFileAtomic, WritesThroughARelativeLinkAndKeepsIt) {
  TempDir dir;
  std::string target = dir.write("real/window-state.json", "old");
  ASSERT_EQ(chmod(target.c_str(), 0600), 0);
  std::string link = dir.path() + "/window-state.json";
  fs::create_symlink("real/window-state.json", link);

  ASSERT_TRUE(support::writeFileAtomic(link, "new").ok());
  ASSERT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(linkText(link), "real/window-state.json");
  EXPECT_EQ(testing_support::readAll(target), "new");
  EXPECT_EQ(modeOf(target), 0600u);
  EXPECT_EQ(entriesIn(dir.path() + "/real"), 1);
  EXPECT_EQ(entriesIn(dir.path()), 2);
}

TEST(WriteFileAtomic, FollowsAChainOfLinksToTheEnd) {
  TempDir dir;
  std::string target = dir.write("dotfiles/desktop.json", "old");
  std::string middle = dir.path() + "/middle.json";
  std::string link = dir.path() + "/desktop.json";
  fs::create_symlink(target, middle);  // absolute
  fs::create_symlink("middle.json", link);

  ASSERT_TRUE(support::writeFileAtomic(link, "new").ok());
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_TRUE(fs::is_symlink(middle));
  EXPECT_EQ(testing_support::readAll(target), "new");
}

TEST(WriteFileAtomic, ADanglingLinkCreatesItsTarget) {
  TempDir dir;
  ScopedUmask mask(022);
  std::string link = dir.path() + "/desktop.json";
  fs::create_symlink("synced/desktop.json", link);

  ASSERT_TRUE(support::writeFileAtomic(link, "new").ok());
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(testing_support::readAll(dir.path() + "/synced/desktop.json"), "new");
  EXPECT_EQ(modeOf(dir.path() + "/synced/desktop.json"), 0644u);
}

TEST(WriteFileAtomic, ARelativeTargetClimbsTheRealDirectoryTree) {
  // settings/ is a link into store/deep/; from there "../x.json" is
  // store/x.json, not the x.json beside settings/ that the spelling suggests.
  TempDir dir;
  dir.mkdir("store/deep");
  fs::create_directory_symlink(dir.path() + "/store/deep", dir.path() + "/settings");
  fs::create_symlink("../x.json", dir.path() + "/store/deep/window-state.json");

  ASSERT_TRUE(support::writeFileAtomic(dir.path() + "/settings/window-state.json", "new").ok());
  EXPECT_EQ(testing_support::readAll(dir.path() + "/store/x.json"), "new");
  EXPECT_FALSE(fs::exists(dir.path() + "/x.json"));
  EXPECT_TRUE(fs::is_symlink(dir.path() + "/store/deep/window-state.json"));
}

TEST(WriteFileAtomic, AnErrorThroughALinkNamesItsTarget) {
  TempDir dir;
  dir.mkdir("taken/inner");
  std::string link = dir.path() + "/state.json";
  fs::create_symlink("taken", link);

  auto status = support::writeFileAtomic(link, "new");
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().message, "open " + dir.path() + "/taken: not a regular file");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(entriesIn(dir.path()), 2);
}

// A link may lead the user's state to a FIFO, a device, a socket or a
// directory: none of them is replaced by a file, however many links away.
TEST(WriteFileAtomic, ThroughALinkReplacesNothingButAFile) {
  enum Node { fifo, socket, directory, chainToFifo };
  for (Node node : {fifo, socket, directory, chainToFifo}) {
    TempDir dir;
    const std::string end = dir.path() + "/end";
    switch (node) {
      case fifo:
      case chainToFifo:
        ASSERT_EQ(::mkfifo(end.c_str(), 0644), 0);
        break;
      case socket:
        ASSERT_NO_FATAL_FAILURE(makeSocket(end));
        break;
      case directory:
        dir.mkdir("end");
        break;
    }
    const std::string link = dir.path() + "/desktop.json";
    if (node == chainToFifo) {
      fs::create_symlink(end, dir.path() + "/middle");
      fs::create_symlink("middle", link);
    } else {
      fs::create_symlink("end", link);
    }
    struct stat before;
    ASSERT_EQ(::lstat(end.c_str(), &before), 0);
    const int entries = entriesIn(dir.path());

    auto status = support::writeFileAtomic(link, "{}");
    ASSERT_FALSE(status.ok()) << node;
    EXPECT_EQ(status.error().message, "open " + end + ": not a regular file");
    struct stat after;
    ASSERT_EQ(::lstat(end.c_str(), &after), 0) << node;
    EXPECT_EQ(after.st_ino, before.st_ino) << node;
    EXPECT_EQ(after.st_mode, before.st_mode) << node;
    EXPECT_TRUE(fs::is_symlink(link)) << node;
    EXPECT_EQ(entriesIn(dir.path()), entries) << node;
  }
}

// What stands right at the name is left alone just as what a link leads to.
TEST(WriteFileAtomic, AtTheNameReplacesNothingButAFile) {
  enum Node { fifo, socket };
  for (Node node : {fifo, socket}) {
    TempDir dir;
    const std::string path = dir.path() + "/window-state.json";
    if (node == fifo) {
      ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    } else {
      ASSERT_NO_FATAL_FAILURE(makeSocket(path));
    }
    struct stat before;
    ASSERT_EQ(::lstat(path.c_str(), &before), 0);

    auto status = support::writeFileAtomic(path, "{}");
    ASSERT_FALSE(status.ok()) << node;
    EXPECT_EQ(status.error().message, "open " + path + ": not a regular file");
    struct stat after;
    ASSERT_EQ(::lstat(path.c_str(), &after), 0) << node;
    EXPECT_EQ(after.st_ino, before.st_ino) << node;
    EXPECT_EQ(after.st_mode, before.st_mode) << node;
    EXPECT_EQ(entriesIn(dir.path()), 1) << node;
  }
}

// The name is looked at once more right before the rename, which would
// replace whatever stands there but a directory.
TEST(WriteFileAtomic, AFifoMadeWhileTheTextIsWrittenIsNotReplaced) {
  TempDir dir;
  const std::string path = dir.path() + "/window-state.json";
  file_system_fake::FifoAppears meanwhile(path);

  auto status = support::writeFileAtomic(path, "{}");
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().message, "open " + path + ": not a regular file");
  struct stat st;
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(entriesIn(dir.path()), 1);
}

// The group that may read an existing file is the one that may read the new
// text. Where the writer cannot give the new file that group, it gets none of
// the group's bits rather than pass them to the writer's own group.
TEST(WriteFileAtomic, ExistingFileKeepsItsGroupOrGivesTheGroupNothing) {
  const gid_t own = ::getegid();
  const gid_t other = testing_support::kOtherUser;
  struct Case {
    mode_t mode;
    gid_t group;
    bool groupsRefused;
    mode_t expectedMode;
    gid_t expectedGroup;
  };
  const std::vector<Case> cases = {
      {0640, other, false, 0640, other}, {02750, other, false, 02750, other},
      {0640, other, true, 0600, own},    {02770, other, true, 0700, own},
      {0640, own, true, 0640, own},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir.write("desktop.json", "old");
    ASSERT_EQ(::chown(path.c_str(), static_cast<uid_t>(-1), c.group), 0);
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    std::optional<file_system_fake::GroupsRefused> refused;
    if (c.groupsRefused) refused.emplace();

    auto status = support::writeFileAtomic(path, "new");
    ASSERT_TRUE(status.ok()) << status.error().message;
    EXPECT_EQ(testing_support::readAll(path), "new");
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.expectedMode)
        << std::oct << c.mode << " refused " << c.groupsRefused;
    EXPECT_EQ(st.st_gid, c.expectedGroup) << std::oct << c.mode << " refused " << c.groupsRefused;
  }
}

TEST(WriteFileAtomic, ALinkLoopFailsAndChangesNothing) {
  TempDir dir;
  std::string a = dir.path() + "/a.json";
  std::string b = dir.path() + "/b.json";
  fs::create_symlink("b.json", a);
  fs::create_symlink("a.json", b);

  auto status = support::writeFileAtomic(a, "new");
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().message, "open " + a + ": Too many levels of symbolic links");
  EXPECT_EQ(linkText(a), "b.json");
  EXPECT_EQ(linkText(b), "a.json");
  EXPECT_EQ(entriesIn(dir.path()), 2);
}

TEST(WriteFileAtomic, ReadersNeverSeeATornFile) {
  TempDir dir;
  std::string path = dir.path() + "/window-state.json";
  std::vector<std::string> texts;
  for (char c : std::string("abcd")) texts.push_back(std::string(200000, c));
  ASSERT_TRUE(support::writeFileAtomic(path, texts[0]).ok());

  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done) {
      auto text = support::readFile(path);
      if (!text.ok()) {
        ++torn;
        continue;
      }
      bool whole = false;
      for (const std::string& t : texts) whole = whole || *text == t;
      if (!whole) ++torn;
    }
  });
  std::vector<std::thread> writers;
  for (const std::string& t : texts) {
    writers.emplace_back([&path, &t] {
      for (int i = 0; i < 20; ++i) EXPECT_TRUE(support::writeFileAtomic(path, t).ok());
    });
  }
  for (auto& w : writers) w.join();
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(entriesIn(dir.path()), 1);
}

}  // namespace
