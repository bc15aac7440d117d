// A shell record over the stand-in core, built field by field as newShell
// would, with its user directories in a fresh temporary home. Tests of the
// shell's operations drive it directly and read what the core saw.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "shell/bridge.h"
#include "shell/shell.h"
#include "support/timer.h"
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
    s->prefs =
        std::make_unique<shell::prefs>(s->paths.UserData + "/desktop.json", s->exe, s->paths.Home);
    s->labels = shell::defaultTrayLabels;
  }

  // Callbacks that the core still has on their way run before the test's
  // locals go away. Then the timers they started end, before the home goes:
  // a frame save that came due later would make the home again.
  void TearDown() override {
    sync();
    support::TimerTestClock endsEveryTimer;
  }

  // Makes `w` the main window as start leaves it: set, and the shell ready.
  void makeMain(const shell::windowPtr& w) {
    std::lock_guard lock(s->mu);
    s->main = w;
    s->ready = true;
  }

  json command(const json& cmd) const { return standin.command(cmd); }
  void sync() const { command({{"cmd", "sync"}}); }
  json state() const { return standin.state(); }
  json callsOf(const std::string& fn) const { return standin.callsOf(fn); }

  // The names of the core calls made since the last clear, in order.
  std::vector<std::string> callNames() const {
    const json log = command({{"cmd", "calls"}});  // kept: the loop must not outlive it
    std::vector<std::string> names;
    for (const auto& call : log["calls"]) names.push_back(call["fn"]);
    return names;
  }

  // The core's record of a window; null when it has none.
  json coreWindow(uint32_t id) const {
    const json all = state();
    for (const auto& w : all["windows"]) {
      if (w["id"] == id) return w;
    }
    return nullptr;
  }

  // Everything a window's page was handed, in order, as JSON values.
  std::vector<json> received(const shell::windowPtr& w) const {
    static const std::string prefix = "window.__bkDesktopReceive&&window.__bkDesktopReceive(";
    const json scripts = command({{"cmd", "scripts"}, {"webview", w->view.load()}});
    std::vector<json> out;
    for (const auto& script : scripts["scripts"]) {
      std::string text = script.get<std::string>();
      EXPECT_EQ(text.rfind(prefix, 0), 0u) << text;
      EXPECT_EQ(text.back(), ')') << text;
      out.push_back(json::parse(text.substr(prefix.size(), text.size() - prefix.size() - 1)));
    }
    return out;
  }

  // The payloads of the events named `name` that a window's page received.
  std::vector<json> events(const shell::windowPtr& w, const std::string& name) const {
    std::vector<json> out;
    for (const json& value : received(w)) {
      if (value.contains("event") && value["event"] == name) out.push_back(value["payload"]);
    }
    return out;
  }

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
