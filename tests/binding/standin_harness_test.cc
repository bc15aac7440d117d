// The stand-in's facilities for driving the system from outside: holding a
// core call open, and timing calls and page posts.
#include <dlfcn.h>

#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "binding/webviews.h"
#include "binding/windows.h"
#include "tests/binding/core_fixture.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// Guards against a call that never comes back; not a measure of speed.
constexpr auto kGuard = 30s;

class StandinHarnessTest : public testing_support::CoreTest {
 public:
  // A command's whole reply, refused or not.
  json reply(const json& cmd) const {
    auto run = reinterpret_cast<char* (*)(const char*)>(dlsym(core().lib(), "standin_command"));
    auto release = reinterpret_cast<void (*)(char*)>(dlsym(core().lib(), "standin_free"));
    char* text = run(cmd.dump().c_str());
    json parsed = json::parse(text);
    release(text);
    return parsed;
  }

 protected:
  uint32_t newWindow() const {
    auto id = core().CreateWindow(nimbrel::NewWindowOptions("held", {0, 30, 800, 600}));
    EXPECT_TRUE(id.ok()) << id.error().message;
    return id.ok() ? *id : 0;
  }
};

TEST_F(StandinHarnessTest, AHeldCallHasDoneItsWorkAndReturnsOnceLetGo) {
  std::future<uint32_t> creating;
  // However the test ends, the held call is let go before it is waited for.
  struct LetGo {
    const StandinHarnessTest* test;
    ~LetGo() { test->reply({{"cmd", "resume"}, {"fn", "createWindow"}}); }
  } letGo{this};
  command({{"cmd", "pause"}, {"fn", "createWindow"}});
  creating = std::async(std::launch::async, [&] { return newWindow(); });
  command({{"cmd", "wait-paused"}, {"fn", "createWindow"}});

  json state = standin.state();
  ASSERT_EQ(state["windows"].size(), 1u) << "the window exists before the call returns";
  uint32_t made = state["windows"][0]["id"];
  EXPECT_EQ(command({{"cmd", "calls"}, {"fn", "createWindow"}})["calls"][0]["result"], made);
  EXPECT_EQ(command({{"cmd", "pauses"}})["pauses"],
            json({{"createWindow", {{"armed", false}, {"paused", 1}}}}));
  // Other calls, also of the held window, go through meanwhile.
  EXPECT_TRUE(core().SetWindowTitle(made, "meanwhile").ok());

  EXPECT_EQ(creating.wait_for(0s), std::future_status::timeout);
  EXPECT_EQ(command({{"cmd", "resume"}, {"fn", "createWindow"}})["resumed"], "call");
  ASSERT_EQ(creating.wait_for(kGuard), std::future_status::ready);
  EXPECT_EQ(creating.get(), made);
  EXPECT_EQ(command({{"cmd", "pauses"}})["pauses"], json::object());

  // Only the next call was held.
  EXPECT_NE(newWindow(), 0u);
}

TEST_F(StandinHarnessTest, APauseWithdrawnBeforeItIsReachedHoldsNothing) {
  command({{"cmd", "pause"}, {"fn", "setExitOnLastWindowClosed"}});
  EXPECT_EQ(command({{"cmd", "resume"}, {"fn", "setExitOnLastWindowClosed"}})["resumed"], "pause");
  auto setting =
      std::async(std::launch::async, [&] { return core().SetExitOnLastWindowClosed(false).ok(); });
  ASSERT_EQ(setting.wait_for(kGuard), std::future_status::ready);
  EXPECT_TRUE(setting.get());
  EXPECT_EQ(command({{"cmd", "resume"}, {"fn", "setExitOnLastWindowClosed"}})["resumed"], nullptr);
}

TEST_F(StandinHarnessTest, RefusedPauseCommands) {
  struct Case {
    json cmd;
    std::string error;
  };
  const Case cases[] = {
      {{{"cmd", "wait-paused"}, {"fn", "stopEventLoop"}, {"timeout", 20}},
       "no call of stopEventLoop was paused"},
      {{{"cmd", "pause"}, {"fn", "noSuchFunction"}}, "unknown core function noSuchFunction"},
      {{{"cmd", "resume"}}, "missing \"fn\""},
      {{{"cmd", "stamp-calls"}, {"fn", {"createWindow", "nope"}}}, "unknown core function nope"},
      {{{"cmd", "post-many"}, {"webview", 999999}, {"message", "m"}, {"count", 1}},
       "no web view 999999"},
  };
  for (const Case& c : cases) {
    json r = reply(c.cmd);
    EXPECT_EQ(r, json({{"ok", false}, {"error", c.error}})) << c.cmd.dump();
  }
}

TEST_F(StandinHarnessTest, StampsChosenCallsWithTheirArguments) {
  uint32_t window = newWindow();
  command({{"cmd", "stamp-calls"}, {"fn", {"setWindowTitle", "minimizeWindow"}}});
  ASSERT_TRUE(core().SetWindowTitle(window, "one").ok());
  ASSERT_TRUE(core().RestoreWindow(window).ok());  // not chosen
  ASSERT_TRUE(core().MinimizeWindow(window).ok());

  json later = command({{"cmd", "stamps"}, {"since", 1}});
  EXPECT_EQ(later["total"], 2);
  ASSERT_EQ(later["stamps"].size(), 1u);
  EXPECT_EQ(later["stamps"][0]["fn"], "minimizeWindow");

  json stamps = command({{"cmd", "stamps"}, {"clear", true}})["stamps"];
  ASSERT_EQ(stamps.size(), 2u) << stamps.dump();
  EXPECT_EQ(stamps[0]["fn"], "setWindowTitle");
  EXPECT_EQ(stamps[0]["args"], json({window, "one"}));
  EXPECT_EQ(stamps[1]["fn"], "minimizeWindow");
  EXPECT_LE(stamps[0]["t"].get<int64_t>(), stamps[1]["t"].get<int64_t>());
  EXPECT_EQ(command({{"cmd", "stamps"}})["stamps"], json::array());

  command({{"cmd", "stamp-calls"}, {"fn", nullptr}});
  ASSERT_TRUE(core().SetWindowTitle(window, "two").ok());
  EXPECT_EQ(command({{"cmd", "stamps"}})["stamps"], json::array());
}

TEST_F(StandinHarnessTest, PostManyPostsNumberedMessagesOnTheChosenPaths) {
  // The binding keeps a web view's callbacks for good, so what they fill must
  // outlive the test.
  struct Seen {
    std::mutex mu;
    std::vector<std::string> messages;
  };
  auto seen = std::make_shared<Seen>();
  nimbrel::WebviewOptions o = nimbrel::NewWebviewOptions(newWindow(), "https://app/", {});
  o.Callbacks.HostBridge = [seen](uint32_t, const std::string& message) {
    std::lock_guard lock(seen->mu);
    seen->messages.push_back(message);
  };
  auto view = core().CreateWebview(o);
  ASSERT_TRUE(view.ok()) << view.error().message;
  auto queued = [&] {
    std::vector<std::string> out;
    while (auto m = core().PopNextQueuedHostMessageString()) out.push_back(m->Message);
    return out;
  };
  auto takeCalled = [&] {
    std::lock_guard lock(seen->mu);
    return std::exchange(seen->messages, {});
  };

  json both = command({{"cmd", "post-many"},
                       {"webview", *view},
                       {"message", "m${n}-${n}"},
                       {"from", 7},
                       {"count", 3}});
  const std::vector<std::string> sent = {"m7-7", "m8-8", "m9-9"};
  EXPECT_EQ(both["posted"], 3);
  ASSERT_EQ(both["times"].size(), 3u);
  EXPECT_EQ(takeCalled(), sent) << "the callbacks are made before the command answers";
  EXPECT_EQ(queued(), sent);

  command(
      {{"cmd", "post-many"}, {"webview", *view}, {"message", "q"}, {"count", 2}, {"via", "queue"}});
  EXPECT_EQ(queued(), (std::vector<std::string>{"q", "q"}));
  EXPECT_TRUE(takeCalled().empty());

  // Paced posts are never made early.
  json paced = command({{"cmd", "post-many"},
                        {"webview", *view},
                        {"message", "h${n}"},
                        {"count", 3},
                        {"via", "host-bridge"},
                        {"every", 2000}});
  EXPECT_EQ(takeCalled(), (std::vector<std::string>{"h1", "h2", "h3"}));
  EXPECT_TRUE(queued().empty());
  const json& t = paced["times"];
  for (size_t i = 1; i < t.size(); ++i) {
    EXPECT_GE(t[i].get<int64_t>() - t[0].get<int64_t>(), static_cast<int64_t>(i) * 2'000'000);
  }
}

}  // namespace
