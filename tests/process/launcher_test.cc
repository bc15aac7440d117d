// The stand-in launcher of the bundle, with a stand-in application of the
// test's own beside it: how it starts the application and how it ends.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "tests/process/app_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::AppProcess;
using testing_support::Exit;
using testing_support::TempBundle;

// A bundle whose application is the script `body`.
class LauncherTest : public testing::Test {
 protected:
  void application(const std::string& body) {
    fs::remove(bundle_.executable());
    bundle_.dir().write("Brovik Dira.app/Contents/MacOS/brovik-work", "#!/bin/sh\n" + body);
    chmod(bundle_.executable().c_str(), 0755);
  }
  std::string launcher() const { return bundle_.exeDir() + "/launcher"; }

  TempBundle bundle_;
};

TEST_F(LauncherTest, StartsTheApplicationMarkedWithItsOwnIdAndEndsWithItsStatus) {
  application(
      "echo \"mark=$NIMBREL_LAUNCHER_PID parent=$PPID args=$* passed=$BK_DESKTOP_ARGS\" >&2\n"
      "exit 7\n");
  AppProcess launch(launcher());
  launch.env()["BK_DESKTOP_ARGS"] = R"(["brovik-work://inbox/1","two words"])";
  launch.args() = {"--extra"};
  Exit exit = launch.run();
  EXPECT_EQ(exit.status, 7);
  // The application's standard error is the launcher's.
  const std::string prefix = "mark=";
  ASSERT_EQ(exit.err.rfind(prefix, 0), 0u) << exit.err;
  const std::string mark = exit.err.substr(prefix.size(), exit.err.find(' ') - prefix.size());
  EXPECT_EQ(exit.err, "mark=" + mark + " parent=" + mark +
                          " args=--extra passed=[\"brovik-work://inbox/1\",\"two words\"]\n");
  // Its own id, not the one it was given (the harness sets the test's).
  EXPECT_NE(mark, std::to_string(getpid()));
}

TEST_F(LauncherTest, ReportsAnEndBySignalAsShellsDo) {
  application("kill -TERM $$\n");
  EXPECT_EQ(AppProcess(launcher()).run().status, 128 + SIGTERM);
}

// A termination request sent to the launcher reaches the application, which
// decides how it ends.
TEST_F(LauncherTest, PassesATerminationRequestOn) {
  const std::string ready = bundle_.dir().path() + "/ready";
  application(
      "trap 'echo terminated >&2; exit 3' TERM\n"
      "touch '" +
      ready +
      "'\n"
      "while :; do sleep 0.05; done\n");
  AppProcess launch(launcher());
  launch.start();
  const auto until = std::chrono::steady_clock::now() + 20s;
  while (!fs::exists(ready) && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_TRUE(fs::exists(ready));
  launch.signal(SIGTERM);
  Exit exit = launch.wait();
  EXPECT_EQ(exit.status, 3);
  EXPECT_EQ(exit.err, "terminated\n");
}

TEST_F(LauncherTest, WithoutAnApplicationItFails) {
  fs::remove(bundle_.executable());
  Exit exit = AppProcess(launcher()).run();
  EXPECT_EQ(exit.status, 127);
  EXPECT_EQ(exit.err, "launcher: start " + bundle_.executable() + ": No such file or directory\n");
}

}  // namespace
