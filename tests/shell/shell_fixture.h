// A shell record over the stand-in core, built field by field as newShell
// would, with its user directories in a fresh temporary home. Tests of the
// shell's operations drive it directly and read what the core saw.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "shell/shell.h"
#include "tests/binding/standin_fixture.h"
#include "tests/test_support.h"

namespace testing_support {

inline constexpr const char* kTestOrigin = "http://127.0.0.1:5180";
inline constexpr const char* kTestToken =
    "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

class ShellTest : public ::testing::Test {
 protected:
  using json = nlohmann::json;

  ShellTest() {
    nimbrel::BundlePaths bundle = builtBundle();
    s = std::make_shared<shell::shell>();
    s->core = standin.shared();
    s->bundle = bundle;
    s->app = {"work.brovik.dira.test", "Brovik Dira", "dev"};
    s->paths.Home = home.path();
    s->paths.UserData = home.path() + "/Library/Application Support/work.brovik.dira.test/dev";
    s->exe = bundle.ExeDir + "/brovik-work";
    s->startPage = kTestOrigin;
    s->origin = kTestOrigin;
    s->token = kTestToken;
    s->webviewKey = "1,2,3";
    s->preload = "/* preload */";
    s->prefs = std::make_unique<shell::prefs>(s->paths.UserData + "/desktop.json", s->exe,
                                              s->paths.Home);
    s->labels = shell::defaultTrayLabels;
  }

  // Callbacks that the core still has on their way run before the test's
  // locals go away.
  void TearDown() override { sync(); }

  json command(const json& cmd) const { return standin.command(cmd); }
  void sync() const { command({{"cmd", "sync"}}); }
  json state() const { return standin.state(); }
  json callsOf(const std::string& fn) const { return standin.callsOf(fn); }

  // Waits, with a generous guard, until `done` holds; background tasks and
  // timers finish on their own threads. False when it never did.
  static bool eventually(const std::function<bool()>& done) {
    auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
      if (std::chrono::steady_clock::now() > guard) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  StandinCore standin;
  TempDir home;
  std::shared_ptr<shell::shell> s;
};

}  // namespace testing_support
