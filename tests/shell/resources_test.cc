#include "shell/resources.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

using shell::findResource;
using shell::runtimeSetting;
using testing_support::TempDir;

const std::string kPreload = "views/preload/index.js";

TEST(FindResource, TheAppCandidateWinsOverTheRoot) {
  TempDir root;
  root.write("app/views/preload/index.js", "a");
  root.write("views/preload/index.js", "b");
  EXPECT_EQ(findResource(root.path(), kPreload), root.path() + "/app/views/preload/index.js");
  EXPECT_EQ(findResource(root.path() + "//", "./" + kPreload),
            root.path() + "/app/views/preload/index.js");
}

TEST(FindResource, ADirectoryAtACandidateCounts) {
  TempDir root;
  root.mkdir("views/assets/tray.png");
  EXPECT_EQ(findResource(root.path(), "views/assets/tray.png"),
            root.path() + "/views/assets/tray.png");
}

TEST(FindResource, WalksDepthFirstInByteOrder) {
  TempDir root;
  root.write("b/x/views/preload/index.js", "later");
  root.write("a/y/views/preload/index.js", "first");
  root.write("B/z/views/preload/index.js", "upper case sorts first");
  EXPECT_EQ(findResource(root.path(), kPreload), root.path() + "/B/z/views/preload/index.js");
}

TEST(FindResource, NeedsTheSeparatorBeforeTheRelativePath) {
  TempDir root;
  root.write("x/myviews/preload/index.js", "glued to a longer name");
  EXPECT_EQ(findResource(root.path(), kPreload), "");
  root.write("x/y/views/preload/index.js", "a real match");
  EXPECT_EQ(findResource(root.path(), kPreload), root.path() + "/x/y/views/preload/index.js");
}

TEST(FindResource, DoesNotFollowLinksWhileWalking) {
  TempDir root;
  TempDir outside;
  outside.write("deep/views/preload/index.js", "outside");
  std::filesystem::create_directory_symlink(outside.path() + "/deep", root.path() + "/linked");
  EXPECT_EQ(findResource(root.path(), kPreload), "");
}

TEST(FindResource, NothingUnderAMissingRoot) {
  EXPECT_EQ(findResource("/nonexistent/bk-root", kPreload), "");
}

TEST(RuntimeSetting, ReadsOnlyStringsOfTheRuntimeObject) {
  struct Case {
    const char* buildJson;
    const char* want;
  } cases[] = {
      {R"({"runtime":{"appUrl":"https://x.example"}})", "https://x.example"},
      {R"({"Runtime":{"appUrl":"https://case.example"}})", "https://case.example"},
      {R"({"runtime":{"appUrl":"exact"},"RUNTIME":{"appUrl":"folded"}})", "exact"},
      {R"({"runtime":{"AppUrl":"key must match exactly"}})", ""},
      {R"({"runtime":{"appUrl":5}})", ""},
      {R"({"runtime":{"appUrl":null}})", ""},
      {R"({"runtime":null})", ""},
      {R"({"runtime":"x"})", ""},
      {R"({})", ""},
      {R"([])", ""},
      {R"({"runtime":{"appUrl":"a","appUrl":"last"}})", "last"},
      {"not json", ""},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("build.json", c.buildJson);
    EXPECT_EQ(runtimeSetting(dir.path(), "appUrl"), c.want) << c.buildJson;
  }
  TempDir empty;
  EXPECT_EQ(runtimeSetting(empty.path(), "appUrl"), "");
}

}  // namespace
