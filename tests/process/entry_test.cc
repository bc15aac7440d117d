// The application as a process: what a user sees on standard error and in the
// exit status for each way start-up can end.
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/process/app_process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::AppProcess;
using testing_support::Exit;
using testing_support::TempBundle;

const std::string kNoSuchFile = "No such file or directory";

// The sockets in `dir`: an ended process leaves none of its own behind.
std::vector<std::string> socketsIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_socket()) names.push_back(entry.path().filename());
  }
  return names;
}

TEST(Entry, MissingVersionJson) {
  TempBundle bundle;
  fs::remove(bundle.resourcesDir() + "/version.json");
  Exit exit = AppProcess(bundle.executable()).run();
  EXPECT_EQ(exit.status, 1);
  EXPECT_EQ(exit.err,
            "brovik-work: open " + bundle.resourcesDir() + "/version.json: " + kNoSuchFile + "\n");
}

TEST(Entry, MissingCoreLibrary) {
  TempBundle bundle;
  std::string lib = bundle.exeDir() + "/libNimbrelCore.dylib";
  fs::remove(lib);
  Exit exit = AppProcess(bundle.executable()).run();
  EXPECT_EQ(exit.status, 1);
  EXPECT_EQ(exit.err, "brovik-work: failed to open " + lib + ": " + lib +
                          ": cannot open shared object file: " + kNoSuchFile + "\n");
}

TEST(Entry, CoreLibraryLackingAName) {
  TempBundle bundle;
  std::string lib = bundle.exeDir() + "/libNimbrelCore.dylib";
  fs::copy_file(BK_BUILD_DIR "/standin-variants/libNimbrelCore_without_forceExit.so", lib,
                fs::copy_options::overwrite_existing);
  Exit exit = AppProcess(bundle.executable()).run();
  EXPECT_EQ(exit.status, 1);
  EXPECT_EQ(exit.err, "brovik-work: missing core symbol forceExit\n");
}

TEST(Entry, CoreRefusingTheBuildConfiguration) {
  AppProcess app(BK_BUNDLE_DIR "/Contents/MacOS/brovik-work");
  app.env()["NIMBREL_STANDIN_FAIL"] =
      R"([{"cmd":"fail","fn":"setExitOnLastWindowClosed","error":"no application object"}])";
  Exit exit = app.run();
  EXPECT_EQ(exit.status, 1);
  EXPECT_EQ(exit.err, "brovik-work: no application object\n");
}

TEST(Entry, HomeUndefined) {
  for (std::optional<std::string> home :
       {std::optional<std::string>(), std::optional<std::string>("")}) {
    AppProcess app(BK_BUNDLE_DIR "/Contents/MacOS/brovik-work");
    app.env()["HOME"] = home;
    Exit exit = app.run();
    EXPECT_EQ(exit.status, 1);
    EXPECT_EQ(exit.err, "brovik-work: $HOME is not defined\n");
  }
}

TEST(Entry, EventLoopFailingWithoutText) {
  AppProcess app(BK_BUNDLE_DIR "/Contents/MacOS/brovik-work");
  app.env()["NIMBREL_STANDIN_FAIL"] =
      R"([{"cmd":"fail","fn":"nimbrel_core_run_main_thread","error":""}])";
  Exit exit = app.run();
  EXPECT_EQ(exit.status, 1);
  EXPECT_EQ(exit.err, "brovik-work: \n");
}

// A start that cannot set up its web views or open its main window says why
// when it happens and stops the loop; that is a failure, told once. Where
// the loop cannot be stopped either, the process still ends: left running
// without a window, it would take every later launch and show nothing. Either
// way the single-instance socket goes with it, or later launches would find
// a name that leads nowhere.
TEST(Entry, AFailedStartEndsWithStatusOne) {
  struct Case {
    const char* fn;
    bool stopFails;
    const char* line;
  };
  for (const Case& c :
       {Case{"configureWebviewRuntime", false, "brovik-work: web view runtime: broken\n"},
        Case{"createWindow", false, "brovik-work: broken\n"},
        Case{"configureWebviewRuntime", true, "brovik-work: web view runtime: broken\n"},
        Case{"createWindow", true, "brovik-work: broken\n"}}) {
    AppProcess app(BK_BUNDLE_DIR "/Contents/MacOS/brovik-work");
    nlohmann::json failures = nlohmann::json::array({{{"fn", c.fn}, {"error", "broken"}}});
    if (c.stopFails) {
      failures.push_back({{"fn", "stopEventLoop"}, {"error", "cannot stop"}, {"times", "always"}});
    }
    app.env()["NIMBREL_STANDIN_FAIL"] = failures.dump();
    Exit exit = app.run();
    EXPECT_EQ(exit.status, 1) << c.fn << " " << c.stopFails;
    EXPECT_EQ(exit.err, c.line) << c.fn << " " << c.stopFails;
    EXPECT_EQ(socketsIn(*app.env()["TMPDIR"]), std::vector<std::string>{})
        << c.fn << " " << c.stopFails;
  }
}

TEST(Entry, QuitRequestsEndWithStatusZero) {
  for (int sig : {SIGINT, SIGTERM}) {
    AppProcess app(BK_BUNDLE_DIR "/Contents/MacOS/brovik-work");
    app.start();
    ASSERT_TRUE(app.waitUntilRunning());
    app.signal(sig);
    Exit exit = app.wait();
    EXPECT_EQ(exit.status, 0) << "signal " << sig << ": " << exit.err;
    EXPECT_EQ(exit.err, "");
  }
}

TEST(Entry, QuitFromTheCoresControlChannel) {
  AppProcess app(BK_BUNDLE_DIR "/Contents/MacOS/brovik-work");
  app.start();
  ASSERT_TRUE(app.waitUntilRunning());
  nlohmann::json state = app.command({{"cmd", "state"}});
  EXPECT_EQ(state.dump().find("work.brovik.dira") != std::string::npos, true) << state.dump();
  app.command({{"cmd", "quit"}});
  Exit exit = app.wait();
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.err, "");
}

// An executable started through a link lies in the link's folder: the bundle
// is looked for there, not where the link points.
TEST(Entry, StartedThroughASymbolicLinkFromAnotherFolder) {
  testing_support::TempDir elsewhere;
  std::string link = elsewhere.mkdir("bin") + "/brovik-work";
  fs::create_symlink(BK_BUNDLE_DIR "/Contents/MacOS/brovik-work", link);
  Exit exit = AppProcess(link).run();
  EXPECT_EQ(exit.status, 1);
  EXPECT_EQ(exit.err, "brovik-work: open " + elsewhere.path() +
                          "/Resources/version.json: " + kNoSuchFile + "\n");

  // With a bundle laid out around the link, it runs from there.
  TempBundle bundle;
  fs::remove(bundle.executable());
  fs::create_symlink(BK_BUNDLE_DIR "/Contents/MacOS/brovik-work", bundle.executable());
  fs::remove(bundle.exeDir() + "/libNimbrelCore.dylib");
  exit = AppProcess(bundle.executable()).run();
  EXPECT_EQ(exit.status, 1);
  EXPECT_NE(exit.err.find("failed to open " + bundle.exeDir() + "/libNimbrelCore.dylib"),
            std::string::npos)
      << exit.err;
}

TEST(Entry, RelativeStartPathIsTakenFromTheStartDirectory) {
  TempBundle bundle;
  fs::remove(bundle.resourcesDir() + "/version.json");
  AppProcess app("./brovik-work");
  app.setWorkingDirectory(bundle.exeDir());
  Exit exit = app.run();
  EXPECT_EQ(exit.status, 1);
  EXPECT_EQ(exit.err,
            "brovik-work: open " + bundle.resourcesDir() + "/version.json: " + kNoSuchFile + "\n");
}

}  // namespace
