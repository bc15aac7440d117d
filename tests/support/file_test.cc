#include "support/file.h"

#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

using testing_support::TempDir;

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

TEST(WriteFileAtomic, ReplacesWholeWithMode0644AndCreatesDirectories) {
  TempDir dir;
  std::string path = dir.path() + "/new/sub/state.json";
  ASSERT_TRUE(support::writeFileAtomic(path, "old").ok());
  ASSERT_TRUE(support::writeFileAtomic(path, "new text").ok());
  EXPECT_EQ(testing_support::readAll(path), "new text");

  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  ASSERT_EQ(stat((dir.path() + "/new").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);

  // Nothing but the target is left behind.
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path() + "/new/sub")) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST(WriteFileAtomic, FailedRenameLeavesNoTemporaryFile) {
  TempDir dir;
  // A non-empty directory where the file should go cannot be replaced.
  dir.mkdir("blocked.json/inner");
  auto status = support::writeFileAtomic(dir.path() + "/blocked.json", "new");
  EXPECT_FALSE(status.ok());
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/blocked.json/inner"));
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

}  // namespace
