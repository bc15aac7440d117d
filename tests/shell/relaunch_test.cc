// Relaunching through the bundle's launcher, with a launcher of the test's own
// that reports how it was started.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "shell/instance.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::ScopedEnv;
using testing_support::TempDir;

// Writes, once it has looked around, what it was started with into "report"
// beside itself. A short pause first, so that a caller that returns without
// waiting returns before the report exists.
const char kReportingLauncher[] = R"sh(#!/bin/sh
sleep 0.2
here=$(dirname "$0")
stdin=$(readlink /proc/$$/fd/0)
stdout=$(readlink /proc/$$/fd/1)
stderr=$(readlink /proc/$$/fd/2)
leader=no
test "$(cut -d' ' -f6 /proc/$$/stat)" = "$$" && leader=yes
{
  echo "arguments=$#"
  echo "session-leader=$leader"
  echo "stdin=$stdin"
  echo "stdout=$stdout"
  echo "stderr=$stderr"
  echo "cwd=$(pwd)"
  # As the process got them: the shell's own list hides a second entry.
  echo "entries=$(tr '\0' '\n' < /proc/$$/environ | grep -c '^BK_DESKTOP_ARGS=')"
  echo "args=$BK_DESKTOP_ARGS"
  echo "marker=$RELAUNCH_TEST_MARKER"
} > "$here/report.part"
mv "$here/report.part" "$here/report"
)sh";

class Relaunch : public testing::Test {
 protected:
  Relaunch()
      : env_({{"NIMBREL_LAUNCHER_PID", std::nullopt},
              {"APPIMAGE", std::nullopt},
              {"RELAUNCH_TEST_MARKER", "kept"}}) {
    bundle_.ExeDir = dir_.mkdir("Contents/MacOS");
    bundle_.ResourcesDir = dir_.mkdir("Contents/Resources");
  }
  ~Relaunch() override {
    // The launchers this test started end on their own; their ends are
    // collected here rather than left behind.
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
  }

  std::string launcher() const { return bundle_.ExeDir + "/launcher"; }
  std::string report() const { return bundle_.ExeDir + "/report"; }

  void installLauncher(mode_t mode = 0755) {
    dir_.write("Contents/MacOS/launcher", kReportingLauncher);
    chmod(launcher().c_str(), mode);
  }

  // The report, once there (with a guard against hangs).
  std::string waitForReport() {
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (!fs::exists(report()) && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(10ms);
    }
    return testing_support::readAll(report());
  }

  TempDir dir_;
  ScopedEnv env_;
  nimbrel::BundlePaths bundle_;
};

TEST_F(Relaunch, StartsTheLauncherDetachedWithTheArgumentsInItsEnvironment) {
  installLauncher();
  ASSERT_TRUE(shell::relaunch(bundle_, {"brovik-work://inbox/1", "<&>"}));
  EXPECT_EQ(waitForReport(),
            "arguments=0\n"
            "session-leader=yes\n"
            "stdin=/dev/null\n"
            "stdout=/dev/null\n"
            "stderr=/dev/null\n"
            "cwd=" +
                fs::current_path().string() +
                "\n"
                "entries=1\n"
                "args=[\"brovik-work://inbox/1\",\"\\u003c\\u0026\\u003e\"]\n"
                "marker=kept\n");
}

TEST_F(Relaunch, NoArgumentsPassAsNull) {
  installLauncher();
  ASSERT_TRUE(shell::relaunch(bundle_, {}));
  EXPECT_NE(waitForReport().find("args=null\n"), std::string::npos);
}

// This process was given an empty list (set, but empty); the one it passes
// on replaces it rather than coming second, where it would not be read.
TEST_F(Relaunch, PassesItsOwnListInPlaceOfAnEmptyOneItWasGiven) {
  installLauncher();
  env_.set("BK_DESKTOP_ARGS", "");
  ASSERT_TRUE(shell::relaunch(bundle_, {"brovik-work:/lost"}));
  const std::string report = waitForReport();
  EXPECT_NE(report.find("entries=1\nargs=[\"brovik-work:/lost\"]\n"), std::string::npos) << report;
}

TEST_F(Relaunch, WaitsForTheLauncherUnderAnAppImage) {
  installLauncher();
  env_.set("APPIMAGE", "/opt/Brovik_Dira.AppImage");
  ASSERT_TRUE(shell::relaunch(bundle_, {"a"}));
  // The launcher has ended, so its report is complete already.
  EXPECT_TRUE(fs::exists(report()));
}

TEST_F(Relaunch, AnEmptyLauncherMarkIsNoMark) {
  installLauncher();
  env_.set("NIMBREL_LAUNCHER_PID", "");
  EXPECT_TRUE(shell::relaunch(bundle_, {}));
  waitForReport();
}

TEST_F(Relaunch, StaysInThisProcessWhenItCannot) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
  } cases[] = {
      {"started by the launcher",
       [this] {
         installLauncher();
         env_.set("NIMBREL_LAUNCHER_PID", "4242");
       }},
      {"no launcher", [] {}},
      {"a launcher that cannot run", [this] { installLauncher(0644); }},
      {"a folder named launcher", [this] { dir_.mkdir("Contents/MacOS/launcher"); }},
  };
  for (const auto& c : cases) {
    fs::remove_all(launcher());
    env_.set("NIMBREL_LAUNCHER_PID", std::nullopt);
    c.arrange();
    EXPECT_FALSE(shell::relaunch(bundle_, {"a"})) << c.what;
  }
  EXPECT_FALSE(fs::exists(report()));
}

}  // namespace
