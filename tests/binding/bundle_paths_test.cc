#include "binding/bundle_paths.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

using nimbrel::AppInfo;
using testing_support::ScopedEnv;
using testing_support::TempDir;

TEST(BundlePaths, FromTheExecutablePathAsStarted) {
  struct Case {
    const char* exe;
    const char* startDir;
    const char* exeDir;
    const char* resources;
  } cases[] = {
      {"/Apps/A.app/Contents/MacOS/a", "/ignored", "/Apps/A.app/Contents/MacOS",
       "/Apps/A.app/Contents/Resources"},
      {"./A.app/Contents/MacOS/a", "/home/u", "/home/u/A.app/Contents/MacOS",
       "/home/u/A.app/Contents/Resources"},
      {"A.app/Contents/MacOS/a", "/home/u/", "/home/u/A.app/Contents/MacOS",
       "/home/u/A.app/Contents/Resources"},
      {"../b/MacOS//a", "/home/u/x", "/home/u/b/MacOS", "/home/u/b/Resources"},
      {"/links/run", "/", "/links", "/Resources"},
  };
  for (const auto& c : cases) {
    auto bundle = nimbrel::bundlePathsForExecutable(c.exe, c.startDir);
    EXPECT_EQ(bundle.ExeDir, c.exeDir) << c.exe;
    EXPECT_EQ(bundle.ResourcesDir, c.resources) << c.exe;
  }
}

TEST(BundlePaths, ResolvesThisProcess) {
  auto bundle = nimbrel::ResolveBundlePaths();
  ASSERT_TRUE(bundle.ok()) << bundle.error().message;
  EXPECT_EQ(bundle->ExeDir.front(), '/');
  EXPECT_EQ(bundle->ResourcesDir,
            bundle->ExeDir.substr(0, bundle->ExeDir.rfind('/')) + "/Resources");
}

TEST(AppIdentity, ReadsVersionJsonWithFallbacks) {
  const std::string def = nimbrel::kDefaultIdentifier;
  struct Case {
    const char* text;
    std::string identifier, name, channel;
  } cases[] = {
      {R"({"identifier":"x.y","name":"Brovik Dira","channel":"beta"})", "x.y", "Brovik Dira",
       "beta"},
      {"{}", def, "Nimbrel", "dev"},
      {R"({"identifier":"x","channel":"dev"})", "x", "Nimbrel", "dev"},
      {R"({"identifier":null,"name":"","channel":"c"})", "", "", "c"},
      {R"({"name":7,"channel":true,"identifier":["a"]})", def, "Nimbrel", "dev"},
      {R"({"name":"Br\u00f8vik \"D\""})", def, "Br\xC3\xB8vik \"D\"", "dev"},
      {R"({"Identifier":"capital","identifier":"first","identifier":"last"})", "last", "Nimbrel",
       "dev"},
      {"not json", def, "Nimbrel", "dev"},
      {R"(["identifier","x"])", def, "Nimbrel", "dev"},
      {"null", def, "Nimbrel", "dev"},
      {R"({"name":"a"} trailing)", def, "Nimbrel", "dev"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("Resources/version.json", c.text);
    auto info =
        nimbrel::ResolveAppInfoFromBundle({dir.path() + "/MacOS", dir.path() + "/Resources"});
    ASSERT_TRUE(info.ok()) << c.text;
    EXPECT_EQ(info->Identifier, c.identifier) << c.text;
    EXPECT_EQ(info->Name, c.name) << c.text;
    EXPECT_EQ(info->Channel, c.channel) << c.text;
  }
}

TEST(AppIdentity, MissingVersionJsonIsAnError) {
  TempDir dir;
  auto info = nimbrel::ResolveAppInfoFromBundle({dir.path(), dir.path() + "/Resources"});
  ASSERT_FALSE(info.ok());
  EXPECT_EQ(info.error().message,
            "open " + dir.path() + "/Resources/version.json: No such file or directory");
}

TEST(UserDirectories, DeriveFromHome) {
  ScopedEnv env({{"HOME", "/Users/u/"},
                 {"TMPDIR", "/var/tmp/"},
                 {"NIMBREL_INSTALL_ROOT_NAME", std::nullopt}});
  auto paths = nimbrel::ResolvePaths({"x.app", "X", "dev"});
  ASSERT_TRUE(paths.ok());
  EXPECT_EQ(paths->Home, "/Users/u/");
  EXPECT_EQ(paths->AppData, "/Users/u/Library/Application Support");
  EXPECT_EQ(paths->Config, paths->AppData);
  EXPECT_EQ(paths->Cache, "/Users/u/Library/Caches");
  EXPECT_EQ(paths->Temp, "/var/tmp/");
  EXPECT_EQ(paths->Logs, "/Users/u/Library/Logs");
  EXPECT_EQ(paths->Documents, "/Users/u/Documents");
  EXPECT_EQ(paths->Downloads, "/Users/u/Downloads");
  EXPECT_EQ(paths->Desktop, "/Users/u/Desktop");
  EXPECT_EQ(paths->Pictures, "/Users/u/Pictures");
  EXPECT_EQ(paths->Music, "/Users/u/Music");
  EXPECT_EQ(paths->Videos, "/Users/u/Videos");
  EXPECT_EQ(paths->UserData, "/Users/u/Library/Application Support/x.app/dev");
  EXPECT_EQ(paths->UserCache, "/Users/u/Library/Caches/x.app/dev");
  EXPECT_EQ(paths->UserLogs, "/Users/u/Library/Logs/x.app/dev");
}

TEST(UserDirectories, HomeMustBeSet) {
  for (std::optional<std::string> home :
       {std::optional<std::string>(), std::optional<std::string>("")}) {
    ScopedEnv env({{"HOME", home}});
    auto paths = nimbrel::ResolvePaths({"x", "X", "dev"});
    ASSERT_FALSE(paths.ok());
    EXPECT_EQ(paths.error().message, "$HOME is not defined");
  }
}

TEST(UserDirectories, InstallRootNameReplacesOnlyTheChannelElement) {
  ScopedEnv env({{"HOME", "/h"}, {"NIMBREL_INSTALL_ROOT_NAME", "beta"}});
  AppInfo info{"x", "X", "dev"};
  auto paths = nimbrel::ResolvePaths(info);
  ASSERT_TRUE(paths.ok());
  EXPECT_EQ(paths->UserData, "/h/Library/Application Support/x/beta");
  EXPECT_EQ(paths->UserCache, "/h/Library/Caches/x/beta");
  EXPECT_EQ(paths->UserLogs, "/h/Library/Logs/x/beta");
  EXPECT_EQ(info.Channel, "dev");
}

TEST(UserDirectories, EmptyIdentifierOrChannelGivesTheBaseDirectories) {
  ScopedEnv env({{"HOME", "/h"}, {"NIMBREL_INSTALL_ROOT_NAME", "beta"}});
  for (AppInfo info : {AppInfo{"", "X", "dev"}, AppInfo{"x", "X", ""}}) {
    auto paths = nimbrel::ResolvePaths(info);
    ASSERT_TRUE(paths.ok());
    EXPECT_EQ(paths->UserData, paths->AppData);
    EXPECT_EQ(paths->UserCache, paths->Cache);
    EXPECT_EQ(paths->UserLogs, paths->Logs);
  }
}

TEST(InstallRootName, OnlySafeNamesAreTaken) {
  struct Case {
    std::string name;
    bool safe;
  } cases[] = {
      {"beta", true},
      {"", false},
      {".", false},
      {"..", false},
      {"...", true},
      {".hidden", true},
      {"a/b", false},
      {"a\\b", false},
      {"a\tb", false},
      {"a\x7f", false},
      {"  spaced  ", true},
      {"\xC3\xBC"
       "ber",
       true},
      {std::string(256, 'a'), true},
      {std::string(257, 'a'), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(nimbrel::isSafeInstallRootName(c.name), c.safe) << c.name;
    ScopedEnv env({{"NIMBREL_INSTALL_ROOT_NAME", c.name}});
    EXPECT_EQ(nimbrel::effectiveInstallRootName("dev"), c.safe ? c.name : "dev") << c.name;
  }
  ScopedEnv unset({{"NIMBREL_INSTALL_ROOT_NAME", std::nullopt}});
  EXPECT_EQ(nimbrel::effectiveInstallRootName("dev"), "dev");
}

TEST(TempDir, TmpdirThenTmpThenSlashTmp) {
  struct Case {
    std::optional<std::string> tmpdir, tmp;
    const char* want;
  } cases[] = {
      {"/t/", "/other", "/t/"},
      {"", "/other", "/other"},
      {std::nullopt, "/other", "/other"},
      {"", "", "/tmp"},
      {std::nullopt, std::nullopt, "/tmp"},
  };
  for (const auto& c : cases) {
    ScopedEnv env({{"TMPDIR", c.tmpdir}, {"TMP", c.tmp}});
    EXPECT_EQ(nimbrel::tempDir(), c.want);
  }
}

}  // namespace
