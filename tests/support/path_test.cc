#include "support/path.h"

#include <gtest/gtest.h>

namespace {

using support::cleanPath;
using support::dirName;
using support::joinPath;

TEST(CleanPath, CleansAsText) {
  struct Case {
    const char* in;
    const char* want;
  } cases[] = {
      {"", "."},
      {"/", "/"},
      {"//a//b//", "/a/b"},
      {"a/./b/.", "a/b"},
      {"/a/b/../c", "/a/c"},
      {"/../a", "/a"},
      {"/..", "/"},
      {"a/../..", ".."},
      {"../../a", "../../a"},
      {"a/b/../../..", ".."},
      {"./", "."},
      {"A.app/Contents/MacOS/../Resources", "A.app/Contents/Resources"},
  };
  for (const Case& c : cases) EXPECT_EQ(cleanPath(c.in), c.want) << c.in;
}

TEST(JoinPath, SkipsEmptyPartsAndCleans) {
  EXPECT_EQ(joinPath({"/home/u/", "Library", "Application Support"}),
            "/home/u/Library/Application Support");
  EXPECT_EQ(joinPath({"", "a", "", "b"}), "a/b");
  EXPECT_EQ(joinPath({"", ""}), "");
  EXPECT_EQ(joinPath({"/x/MacOS", "..", "Resources"}), "/x/Resources");
  EXPECT_EQ(joinPath({"/tmp/", "a.sock"}), "/tmp/a.sock");
}

TEST(DirName, DropsTheLastElement) {
  EXPECT_EQ(dirName("/a/b/c"), "/a/b");
  EXPECT_EQ(dirName("/a"), "/");
  EXPECT_EQ(dirName("a"), ".");
  EXPECT_EQ(dirName("a//b"), "a");
}

}  // namespace
