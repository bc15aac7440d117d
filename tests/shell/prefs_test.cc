#include "shell/prefs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "shell/desktop_darwin.h"
#include "support/file.h"
#include "tests/test_support.h"

namespace {

using shell::desktopPrefs;
using shell::prefs;
using shell::prefsChange;
using testing_support::readAll;
using testing_support::TempDir;

constexpr const char* kWrittenFalse = "{\n  \"closeToTray\": false\n}";
constexpr const char* kWrittenTrue = "{\n  \"closeToTray\": true\n}";

// A user-data directory and a home directory of their own for each test.
class PrefsTest : public testing::Test {
 protected:
  std::string desktopJson() const { return tmp.path() + "/data/desktop.json"; }
  std::string home() const { return tmp.path() + "/home"; }
  std::string agent() const { return shell::launchAgent(home()); }
  prefs make() const { return prefs(desktopJson(), "/Applications/Brovik Dira.app/x", home()); }

  TempDir tmp;
};

TEST_F(PrefsTest, ReadsCloseToTrayFromDesktopJson) {
  struct Case {
    std::optional<std::string> file;  // nullopt: no file
    bool closeToTray;
  } cases[] = {
      {std::nullopt, true},
      {R"({"closeToTray": false})", false},
      {R"({"closeToTray": true})", true},
      {R"({"closeToTray": "no"})", true},
      {R"({"closeToTray": 0})", true},
      {R"({"closeToTray": null})", true},
      {R"({"closeToTray": false, "other": [1, 2]})", false},
      {R"({"CloseToTray": false})", false},
      {R"({"closeToTray": false} trailing)", true},
      {"not json", true},
      {"", true},
      {"[false]", true},
      {"null", true},
  };
  for (const Case& c : cases) {
    TempDir dir;
    if (c.file) dir.write("desktop.json", *c.file);
    prefs p(dir.path() + "/desktop.json", "/x", dir.path() + "/home");
    desktopPrefs want{false, c.closeToTray, false};
    EXPECT_EQ(p.get(), want) << c.file.value_or("(no file)");
  }
}

TEST_F(PrefsTest, ReadsTheFileOnlyOnce) {
  tmp.write("data/desktop.json", R"({"closeToTray": false})");
  prefs p = make();
  EXPECT_FALSE(p.get().CloseToTray);
  tmp.write("data/desktop.json", R"({"closeToTray": true})");
  EXPECT_FALSE(p.get().CloseToTray);
}

TEST_F(PrefsTest, HidesOnCloseEvenWhenCloseToTrayIsFalse) {
  tmp.write("data/desktop.json", R"({"closeToTray": false})");
  prefs p = make();
  EXPECT_TRUE(p.hidesOnClose());
  EXPECT_FALSE(p.get().CloseToTray);
  (void)p.set({std::nullopt, false});
  EXPECT_TRUE(p.hidesOnClose());
}

TEST_F(PrefsTest, SettingCloseToTrayWritesTheThreeLineForm) {
  tmp.write("data/desktop.json", R"({"closeToTray": true, "zoom": 2})");
  prefs p = make();
  auto [now, status] = p.set({std::nullopt, false});
  EXPECT_TRUE(status.ok());
  EXPECT_EQ(now, (desktopPrefs{false, false, false}));
  EXPECT_EQ(readAll(desktopJson()), kWrittenFalse);  // the other keys are gone

  // Rewritten even when the value does not change.
  tmp.write("data/desktop.json", R"({"closeToTray": false, "zoom": 2})");
  EXPECT_TRUE(p.set({std::nullopt, false}).status.ok());
  EXPECT_EQ(readAll(desktopJson()), kWrittenFalse);

  EXPECT_TRUE(p.set({std::nullopt, true}).status.ok());
  EXPECT_EQ(readAll(desktopJson()), kWrittenTrue);
  EXPECT_TRUE(p.get().CloseToTray);
}

TEST_F(PrefsTest, TheWriteCreatesTheDirectoryAndLeavesOnlyTheFile) {
  prefs p = make();
  EXPECT_TRUE(p.set({std::nullopt, false}).status.ok());
  EXPECT_EQ(readAll(desktopJson()), kWrittenFalse);
  struct stat st {};
  ASSERT_EQ(::stat(desktopJson().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(tmp.path() + "/data")) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"desktop.json"});
}

// The file is replaced, not rewritten in place: a reader of the old file
// (here a second link to it) never sees a half-written text.
TEST_F(PrefsTest, DesktopJsonIsReplacedNotRewrittenInPlace) {
  std::string old = tmp.write("data/desktop.json", R"({"closeToTray": true})");
  ASSERT_EQ(::link(old.c_str(), (tmp.path() + "/old-link").c_str()), 0);
  prefs p = make();
  EXPECT_TRUE(p.set({std::nullopt, false}).status.ok());
  EXPECT_EQ(readAll(desktopJson()), kWrittenFalse);
  EXPECT_EQ(readAll(tmp.path() + "/old-link"), R"({"closeToTray": true})");
}

TEST_F(PrefsTest, AFailedWriteStillChangesTheValueForThisProcess) {
  tmp.write("data", "a file where the directory should be");
  prefs p = make();
  auto [now, status] = p.set({std::nullopt, false});
  EXPECT_TRUE(status.ok());
  EXPECT_FALSE(now.CloseToTray);
  EXPECT_FALSE(p.get().CloseToTray);
}

TEST_F(PrefsTest, AFailedLaunchAgentLeavesCloseToTrayAlone) {
  tmp.write("data/desktop.json", R"({"closeToTray": true, "zoom": 2})");
  tmp.write("home/Library", "a file where the directory should be");
  prefs p = make();
  auto [now, status] = p.set({true, false});
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.error().message.find("Library"), std::string::npos) << status.error().message;
  EXPECT_EQ(now, (desktopPrefs{false, true, false}));
  EXPECT_TRUE(p.get().CloseToTray);
  EXPECT_EQ(readAll(desktopJson()), R"({"closeToTray": true, "zoom": 2})");
}

TEST_F(PrefsTest, AFailedLaunchAgentWritesNoDesktopJson) {
  tmp.write("home/Library", "a file where the directory should be");
  prefs p = make();
  EXPECT_FALSE(p.set({true, false}).status.ok());
  EXPECT_FALSE(support::pathExists(desktopJson()));
}

TEST_F(PrefsTest, LaunchAtLoginIsTheAgentFile) {
  prefs p = make();
  EXPECT_FALSE(p.get().LaunchAtLogin);
  auto on = p.set({true, std::nullopt});
  EXPECT_TRUE(on.status.ok());
  EXPECT_TRUE(on.prefs.LaunchAtLogin);
  EXPECT_TRUE(support::pathExists(agent()));
  EXPECT_FALSE(support::pathExists(desktopJson()));  // closeToTray was not part of the change

  auto off = p.set({false, std::nullopt});
  EXPECT_TRUE(off.status.ok());
  EXPECT_FALSE(off.prefs.LaunchAtLogin);
  EXPECT_FALSE(support::pathExists(agent()));

  // Re-derived from the file system on every get.
  tmp.write("home/Library/LaunchAgents/work.brovik.dira.plist", "anything");
  EXPECT_TRUE(p.get().LaunchAtLogin);
}

TEST_F(PrefsTest, TurningLaunchAtLoginOffWithoutAnAgentSucceeds) {
  prefs p = make();
  auto [now, status] = p.set({false, std::nullopt});
  EXPECT_TRUE(status.ok());
  EXPECT_FALSE(now.LaunchAtLogin);
}

TEST_F(PrefsTest, ARemovalErrorIsReturned) {
  tmp.write("home/Library/LaunchAgents/work.brovik.dira.plist/keep", "a non-empty directory");
  prefs p = make();
  auto [now, status] = p.set({false, true});
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.error().message.find("remove " + agent()), std::string::npos)
      << status.error().message;
  EXPECT_TRUE(now.LaunchAtLogin);  // the real state: the entry is still there
}

TEST_F(PrefsTest, AnEmptyChangeChangesNothing) {
  tmp.write("data/desktop.json", R"({"closeToTray": false, "zoom": 2})");
  prefs p = make();
  auto [now, status] = p.set({});
  EXPECT_TRUE(status.ok());
  EXPECT_EQ(now, (desktopPrefs{false, false, false}));
  EXPECT_EQ(readAll(desktopJson()), R"({"closeToTray": false, "zoom": 2})");
  EXPECT_FALSE(support::pathExists(agent()));
}

TEST_F(PrefsTest, TheTrayFlagIsNeverStored) {
  prefs p = make();
  EXPECT_FALSE(p.get().Tray);
  p.setTray(true);
  EXPECT_TRUE(p.get().Tray);
  EXPECT_FALSE(support::pathExists(desktopJson()));
}

// Threads that meet a preferences object before anyone has read desktop.json
// all see the stored value: none may catch the default that holds only while
// the first of them is still reading the file.
TEST_F(PrefsTest, ConcurrentFirstReadersAllSeeTheStoredValue) {
  tmp.write("data/desktop.json", R"({"closeToTray": false})");
  constexpr int kRounds = 100;
  constexpr int kReaders = 4;
  int sawDefault = 0;
  for (int round = 0; round < kRounds; ++round) {
    prefs p = make();
    std::atomic<int> waiting = kReaders;
    std::atomic<int> defaults = 0;
    std::vector<std::thread> readers;
    for (int i = 0; i < kReaders; ++i) {
      readers.emplace_back([&, i] {
        // All start together, so that they meet inside the first read.
        --waiting;
        while (waiting > 0) std::this_thread::yield();
        if (i % 2 == 1) (void)p.hidesOnClose();  // the other way into the first read
        if (p.get().CloseToTray) ++defaults;
      });
    }
    for (auto& t : readers) t.join();
    sawDefault += defaults;
  }
  EXPECT_EQ(sawDefault, 0);
}

// Concurrent changes leave the file and the value this process reports in
// agreement: each change writes the value it set while nobody else can set
// another. (There is no final change here that would paper over a mismatch.)
TEST_F(PrefsTest, ConcurrentChangesKeepTheFileAndTheValueInAgreement) {
  constexpr int kRounds = 5;
  for (int round = 0; round < kRounds; ++round) {
    prefs p = make();
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
      threads.emplace_back([&p, i] {
        for (int n = 0; n < 10; ++n) {
          (void)p.set({std::nullopt, (n + i) % 2 == 0});
          (void)p.get();
          (void)p.hidesOnClose();
          p.setTray(i % 2 == 0);
        }
      });
    }
    for (auto& t : threads) t.join();
    const desktopPrefs now = p.get();
    ASSERT_EQ(readAll(desktopJson()), now.CloseToTray ? kWrittenTrue : kWrittenFalse)
        << "round " << round;
    // A new process reads what this one reports.
    EXPECT_EQ(make().get().CloseToTray, now.CloseToTray);
  }
}

TEST(DesktopPrefsJSON, IsWrittenInFieldOrder) {
  support::json::Writer w;
  shell::writeDesktopPrefs(w, {false, true, true});
  EXPECT_EQ(w.text(), R"({"launchAtLogin":false,"closeToTray":true,"tray":true})");
}

TEST(PrefsChangeJSON, AbsentOrNullDiffersFromFalse) {
  struct Case {
    const char* json;
    std::optional<bool> launchAtLogin;
    std::optional<bool> closeToTray;
  } cases[] = {
      {R"({})", std::nullopt, std::nullopt},
      {R"({"launchAtLogin":true})", true, std::nullopt},
      {R"({"closeToTray":false})", std::nullopt, false},
      {R"({"launchAtLogin":false,"closeToTray":null})", false, std::nullopt},
      {R"({"LaunchAtLogin":true,"closeToTray":true})", true, true},
  };
  for (const Case& c : cases) {
    prefsChange ch;
    support::Status s = support::json::decodeObject(
        c.json, [&](support::json::Object& o) { shell::readPrefsChange(o, ch); });
    EXPECT_TRUE(s.ok()) << c.json;
    EXPECT_EQ(ch.LaunchAtLogin, c.launchAtLogin) << c.json;
    EXPECT_EQ(ch.CloseToTray, c.closeToTray) << c.json;
  }
  prefsChange ch;
  EXPECT_FALSE(
      support::json::decodeObject(R"({"closeToTray":"yes"})", [&](support::json::Object& o) {
        shell::readPrefsChange(o, ch);
      }).ok());
}

}  // namespace
