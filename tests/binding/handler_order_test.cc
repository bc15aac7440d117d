// A handler setter stores the handler before it tells the core, so a callback
// that the core makes while the setter is still inside its core call already
// reaches the new handler. The stand-in holds the setter's core call open
// while the test fires the callback.
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/binding/core_fixture.h"

namespace {

using nlohmann::json;
using Note = std::function<void(const std::string&)>;

const std::string kMenu = R"([{"label":"View","submenu":[{"label":"In","action":"zoom:in"}]}])";

class HandlerOrderTest : public testing_support::CoreTest {
 protected:
  // The slots outlive the test: none may keep a recorder of this fixture.
  void TearDown() override {
    EXPECT_TRUE(core().SetQuitRequestedHandler(nullptr).ok());
    EXPECT_TRUE(core().SetURLOpenHandler(nullptr).ok());
    EXPECT_TRUE(core().SetAppReopenHandler(nullptr).ok());
    EXPECT_TRUE(core().SetApplicationMenuJSON(kMenu, nullptr).ok());
    CoreTest::TearDown();
  }

  Note recorder(const std::string& name) {
    return [this, name](const std::string& what) {
      std::lock_guard lock(mu);
      seen.push_back(name + " " + what);
    };
  }
  std::vector<std::string> takeSeen() {
    std::lock_guard lock(mu);
    return std::exchange(seen, {});
  }

  std::mutex mu;
  std::vector<std::string> seen;
};

// Lets a held core call go even when the test stops early, so no thread stays
// stuck in the core.
class HeldCall {
 public:
  HeldCall(const testing_support::StandinCore& standin, std::string fn)
      : standin_(standin), fn_(std::move(fn)) {
    standin_.command({{"cmd", "pause"}, {"fn", fn_}});
  }
  ~HeldCall() { release(); }
  void waitUntilHeld() const { standin_.command({{"cmd", "wait-paused"}, {"fn", fn_}}); }
  void release() {
    if (released_) return;
    released_ = true;
    standin_.command({{"cmd", "resume"}, {"fn", fn_}});
  }

 private:
  const testing_support::StandinCore& standin_;
  std::string fn_;
  bool released_ = false;
};

struct Setter {
  const char* fn;  // the core function that the setter calls
  std::function<support::Status(const nimbrel::Core&, Note)> install;
  json fire;             // the control command that makes the core call back
  std::string received;  // what the handler is given
};

const std::vector<Setter>& setters() {
  static const std::vector<Setter> all = {
      {"setQuitRequestedHandler",
       [](const nimbrel::Core& core, Note note) {
         return core.SetQuitRequestedHandler([note] { note("quit"); });
       },
       {{"cmd", "quit"}},
       "quit"},
      {"setURLOpenHandler",
       [](const nimbrel::Core& core, Note note) { return core.SetURLOpenHandler(note); },
       {{"cmd", "open-url"}, {"url", "brovik-work://inbox"}},
       "brovik-work://inbox"},
      {"setAppReopenHandler",
       [](const nimbrel::Core& core, Note note) {
         return core.SetAppReopenHandler([note] { note("reopen"); });
       },
       {{"cmd", "reopen"}},
       "reopen"},
      {"setApplicationMenu",
       [](const nimbrel::Core& core, Note note) {
         return core.SetApplicationMenuJSON(kMenu, [note](uint32_t id, const std::string& action) {
           note(std::to_string(id) + " " + action);
         });
       },
       {{"cmd", "pick-menu"}, {"action", "zoom:in"}},
       "0 zoom:in"},
  };
  return all;
}

TEST_F(HandlerOrderTest, ACallbackDuringTheSettersCoreCallReachesTheNewHandler) {
  for (const Setter& setter : setters()) {
    SCOPED_TRACE(setter.fn);
    ASSERT_TRUE(setter.install(core(), recorder("old")).ok());

    // Declared first, so that the held call is let go before the test waits
    // for it, however the test ends.
    std::future<support::Status> installing;
    HeldCall held(standin, setter.fn);
    installing =
        std::async(std::launch::async, [&] { return setter.install(core(), recorder("new")); });
    held.waitUntilHeld();
    json fired = command(setter.fire);
    EXPECT_EQ(fired.value("delivered", true), true) << fired.dump();
    EXPECT_EQ(takeSeen(), std::vector<std::string>{"new " + setter.received});

    held.release();
    EXPECT_TRUE(installing.get().ok());
  }
}

}  // namespace
