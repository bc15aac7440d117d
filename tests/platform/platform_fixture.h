// The platform glue against the stand-in core's platform classes, in this
// process: the glue queues its work on the main dispatch queue, and the test
// runs the core's event loop on the main thread until that work has run.
#pragma once

#include <dispatch/dispatch.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "shell/notices.h"
#include "tests/binding/standin_fixture.h"

namespace testing_support {

// Runs `core`'s event loop on the calling (main) thread until the work
// queued on the main queue so far has run: the stop is queued behind it.
inline void runQueuedMainWork(const nimbrel::Core& core) {
  static const nimbrel::Core* running = nullptr;
  running = &core;
  dispatch_async_f(dispatch_get_main_queue(), nullptr,
                   [](void*) { (void)running->StopEventLoop(); });
  auto status = core.RunMainThread("work.brovik.dira", "Brovik Dira", "dev");
  ASSERT_TRUE(status.ok()) << status.error().message;
}

class PlatformTest : public ::testing::Test {
 protected:
  using json = nlohmann::json;

  void TearDown() override { command({{"cmd", "sync"}}); }

  json command(const json& cmd) const { return standin.command(cmd); }

  // Changes what the platform gives (see "platform"), and returns all of it.
  json platform(json settings = json::object()) const {
    settings["cmd"] = "platform";
    return command(settings)["platform"];
  }

  json click(json cmd) const {
    cmd["cmd"] = "click-notification";
    return command(cmd);
  }

  void runQueuedMainWork() { testing_support::runQueuedMainWork(standin.core()); }

  StandinCore standin;
};

// Receives the clicks that reach the shell, as the start sequence's handler
// would. Shared with the handler, which outlives the test.
class ClickRecorder {
 public:
  using Click = std::array<std::string, 3>;  // title, subtitle, body

  static std::shared_ptr<ClickRecorder> published() {
    auto recorder = std::make_shared<ClickRecorder>();
    shell::publishNoticeClickHandler(
        [recorder](const std::string& title, const std::string& subtitle, const std::string& body) {
          recorder->add({title, subtitle, body});
        });
    return recorder;
  }

  // Waits, with a generous guard, until `n` clicks have arrived; returns them.
  std::vector<Click> waitFor(size_t n) {
    auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      {
        std::lock_guard lock(mu_);
        if (clicks_.size() >= n || std::chrono::steady_clock::now() > guard) return clicks_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

 private:
  void add(Click click) {
    std::lock_guard lock(mu_);
    clicks_.push_back(std::move(click));
  }

  std::mutex mu_;
  std::vector<Click> clicks_;
};

}  // namespace testing_support
