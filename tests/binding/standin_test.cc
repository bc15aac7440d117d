// The stand-in core itself, driven as the system drives it: through the
// loader, its C functions and plain C callbacks, plus its control interface.
#include <dlfcn.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "binding/nimbrel.h"
#include "standin_control.h"
#include "tests/test_support.h"

namespace {

using nlohmann::json;
using testing_support::ScopedEnv;
using testing_support::TempDir;

const char* const kLibrary = BK_BUNDLE_DIR "/Contents/MacOS/libNimbrelCore.dylib";

template <typename Fn>
Fn symbolOf(void* lib, const char* name) {
  void* p = dlsym(lib, name);
  Fn fn = nullptr;
  std::memcpy(&fn, &p, sizeof fn);
  return fn;
}

using LastErrorFn = const char* (*)();
using RunMainThreadFn = int32_t (*)(const char*, const char*, const char*, int32_t);
using VoidFn = void (*)();
using BoolFn = void (*)(bool);
using SetVoidHandlerFn = void (*)(void (*)());
using WindowIdFn = void (*)(uint32_t);
using CreateWindowFn = uint32_t (*)(double, double, double, double, uint32_t, const char*, bool,
                                    const char*, bool, bool, bool, double, double, WindowIdFn,
                                    void (*)(uint32_t, double, double),
                                    void (*)(uint32_t, double, double, double, double), WindowIdFn,
                                    WindowIdFn,
                                    void (*)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t),
                                    WindowIdFn);
using EventFn = void (*)(uint32_t, const char*, const char*);
using MessageFn = void (*)(uint32_t, const char*);
using CreateWebviewFn = uint32_t (*)(uint32_t, uint32_t, const char*, const char*, double, double,
                                     double, double, bool, const char*,
                                     uint32_t (*)(uint32_t, const char*), EventFn, MessageFn,
                                     MessageFn, MessageFn, const char*, const char*, const char*,
                                     bool, bool, bool, bool);
using IdStringFn = void (*)(uint32_t, const char*);
using IdFn = void (*)(uint32_t);
using IdQueryFn = bool (*)(uint32_t);
using PopFn = char* (*)(uint32_t*);
using FreeFn = void (*)(char*);
using StringRetFn = char* (*)();
using OpenExternalFn = bool (*)(const char*);
using CreateTrayFn = uint32_t (*)(const char*, const char*, bool, uint32_t, uint32_t,
                                  void (*)(uint32_t, const char*));

// What the callbacks of a test saw, and on which threads.
struct Seen {
  std::mutex mu;
  std::vector<std::string> events;
  std::vector<std::thread::id> threads;

  void add(const std::string& event) {
    std::lock_guard lock(mu);
    events.push_back(event);
    threads.push_back(std::this_thread::get_id());
  }
  std::vector<std::string> take() {
    std::lock_guard lock(mu);
    threads.clear();
    return std::exchange(events, {});
  }
  std::vector<std::thread::id> takeThreads() {
    std::lock_guard lock(mu);
    events.clear();
    return std::exchange(threads, {});
  }
};

Seen& seen() {
  static Seen s;
  return s;
}

// A loaded stand-in and its control interface.
class Standin {
 public:
  explicit Standin(const std::string& path = kLibrary) {
    lib_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib_) throw std::runtime_error(dlerror());
    command_ = sym<StandinCommandFn>("standin_command");
    free_ = sym<StandinFreeFn>("standin_free");
    runOnMain_ = sym<StandinRunOnMainFn>("standin_run_on_main");
  }

  template <typename Fn>
  Fn sym(const char* name) const {
    Fn fn = symbolOf<Fn>(lib_, name);
    if (!fn) throw std::runtime_error(std::string("no ") + name);
    return fn;
  }

  json command(const json& cmd) const {
    char* reply = command_(cmd.dump().c_str());
    json parsed = json::parse(reply);
    free_(reply);
    return parsed;
  }

  // A command that must succeed.
  json ok(const json& cmd) const {
    json reply = command(cmd);
    EXPECT_EQ(reply["ok"], true) << cmd.dump() << " -> " << reply.dump();
    return reply;
  }

  const char* lastError() const { return sym<LastErrorFn>("nimbrel_core_last_error")(); }
  void runOnMain(void (*fn)(void*), void* ctx) const { runOnMain_(fn, ctx); }
  void* lib() const { return lib_; }

 private:
  void* lib_ = nullptr;
  StandinCommandFn command_ = nullptr;
  StandinFreeFn free_ = nullptr;
  StandinRunOnMainFn runOnMain_ = nullptr;
};

// The shared stand-in, back at its start for every test.
class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core.ok({{"cmd", "reset"}, {"handlers", true}});
    seen().take();
  }
  void TearDown() override { core.ok({{"cmd", "reset"}, {"handlers", true}}); }

  // A window with focus, blur, close and should-close callbacks.
  uint32_t createWindow(bool flag2, bool flag3, bool flag4, double width = 1280,
                        double height = 820) {
    return core.sym<CreateWindowFn>("createWindow")(
        0, 0, width, height, 0, "default", false, "Brovik Dira", flag2, flag3, flag4, 0, 0,
        [](uint32_t id) { seen().add("close " + std::to_string(id)); }, nullptr, nullptr,
        [](uint32_t id) { seen().add("focus " + std::to_string(id)); },
        [](uint32_t id) { seen().add("blur " + std::to_string(id)); }, nullptr,
        [](uint32_t id) { seen().add("shouldClose " + std::to_string(id)); });
  }

  json windowState(uint32_t id) {
    json state = core.ok({{"cmd", "state"}});
    for (const json& w : state["windows"]) {
      if (w["id"] == id) return w;
    }
    return nullptr;
  }

  Standin core;
};

TEST(StandinExports, EveryCoreNameAndTheTrayExtensionAreExported) {
  Standin core;
  for (const char* name : nimbrel::coreSymbolNames) {
    EXPECT_NE(dlsym(core.lib(), name), nullptr) << name;
  }
  EXPECT_NE(dlsym(core.lib(), "setTrayMenu"), nullptr);
  EXPECT_NE(dlsym(core.lib(), "setTrayImage"), nullptr);
}

TEST(StandinExports, AVariantLacksExactlyItsOneName) {
  struct Case {
    const char* file;
    const char* missing;
  } cases[] = {{"libNimbrelCore_without_forceExit.so", "forceExit"},
               {"libNimbrelCore_without_setTrayImage.so", "setTrayImage"}};
  for (const auto& c : cases) {
    Standin variant(std::string(BK_BUILD_DIR "/standin-variants/") + c.file);
    std::vector<std::string> names(std::begin(nimbrel::coreSymbolNames),
                                   std::end(nimbrel::coreSymbolNames));
    names.push_back("setTrayMenu");
    names.push_back("setTrayImage");
    for (const std::string& name : names) {
      EXPECT_EQ(dlsym(variant.lib(), name.c_str()) == nullptr, name == c.missing)
          << c.file << ": " << name;
    }
  }
}

TEST_F(StandinTest, AnInjectedFailureGivesTheFailureResultAndTheText) {
  core.ok({{"cmd", "fail"}, {"fn", "createWindow"}, {"error", "no screen"}});
  EXPECT_EQ(createWindow(false, true, false), 0u);
  EXPECT_STREQ(core.lastError(), "no screen");
  uint32_t id = createWindow(false, true, false);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(core.lastError(), nullptr);

  // One per shape of failure result.
  core.ok({{"cmd", "fail"}, {"fn", "getPrimaryDisplay"}, {"error", "no displays"}});
  EXPECT_EQ(core.sym<StringRetFn>("getPrimaryDisplay")(), nullptr);
  EXPECT_STREQ(core.lastError(), "no displays");
  core.ok({{"cmd", "fail"}, {"fn", "openExternal"}, {"error", ""}});
  EXPECT_FALSE(core.sym<OpenExternalFn>("openExternal")("https://example.org/"));
  EXPECT_STREQ(core.lastError(), "");
  core.ok({{"cmd", "fail"}, {"fn", "nimbrel_core_run_main_thread"}, {"error", nullptr}});
  EXPECT_EQ(core.sym<RunMainThreadFn>("nimbrel_core_run_main_thread")("x", "N", "dev", 0), 1);
  EXPECT_EQ(core.lastError(), nullptr);

  // A void function only leaves the text, and does not do its work.
  core.ok({{"cmd", "fail"}, {"fn", "setWindowTitle"}, {"error", "busy"}, {"times", 2}});
  auto setTitle = core.sym<IdStringFn>("setWindowTitle");
  setTitle(id, "first");
  EXPECT_STREQ(core.lastError(), "busy");
  setTitle(id, "second");
  EXPECT_STREQ(core.lastError(), "busy");
  setTitle(id, "third");
  EXPECT_EQ(core.lastError(), nullptr);
  EXPECT_EQ(windowState(id)["title"], "third");

  // Unless it is asked to do it anyway.
  core.ok({{"cmd", "fail"}, {"fn", "setWindowTitle"}, {"error", "late"}, {"perform", true}});
  setTitle(id, "fourth");
  EXPECT_STREQ(core.lastError(), "late");
  EXPECT_EQ(windowState(id)["title"], "fourth");

  json calls = core.ok({{"cmd", "calls"}, {"fn", "setWindowTitle"}})["calls"];
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0], json({{"fn", "setWindowTitle"},
                            {"args", {id, "first"}},
                            {"failed", true},
                            {"error", "busy"}}));
  EXPECT_EQ(calls[2], json({{"fn", "setWindowTitle"}, {"args", {id, "third"}}}));
}

TEST_F(StandinTest, FailRefusesNamesTheCoreDoesNotHave) {
  json reply = core.command({{"cmd", "fail"}, {"fn", "createWindows"}, {"error", "x"}});
  EXPECT_EQ(reply, json({{"ok", false}, {"error", "unknown core function createWindows"}}));
  EXPECT_EQ(core.command({{"cmd", "no-such-command"}})["ok"], false);
  EXPECT_EQ(core.command(json::array())["ok"], false);
}

TEST_F(StandinTest, TheLastErrorTextBelongsToTheCallingThread) {
  core.ok({{"cmd", "fail"}, {"fn", "setExitOnLastWindowClosed"}, {"error", "refused here"}});
  auto setExit = core.sym<BoolFn>("setExitOnLastWindowClosed");
  core.sym<bool (*)()>("isDockIconVisible")();  // this thread's last call succeeded
  std::atomic<int> step = 0;
  std::string seenByFailingThread;
  std::thread failing([&] {
    setExit(true);
    step = 1;
    while (step != 2) std::this_thread::yield();
    const char* text = core.lastError();
    seenByFailingThread = text ? text : "(null)";
  });
  while (step != 1) std::this_thread::yield();
  EXPECT_EQ(core.lastError(), nullptr);
  setExit(false);  // a success on this thread leaves the other thread's text alone
  EXPECT_EQ(core.lastError(), nullptr);
  step = 2;
  failing.join();
  EXPECT_EQ(seenByFailingThread, "refused here");
  EXPECT_EQ(core.ok({{"cmd", "state"}})["exitOnLastWindowClosed"], false);
}

TEST_F(StandinTest, CallbacksArriveOnACoreThreadOnceTheCreatorHasReturned) {
  uint32_t first = createWindow(false, true, false);
  // The focus of a new window waits for the creator's next call, so the
  // system can register the window's callbacks first.
  EXPECT_TRUE(seen().take().empty());
  core.ok({{"cmd", "sync"}});
  EXPECT_EQ(seen().take(), std::vector<std::string>{"focus " + std::to_string(first)});

  uint32_t second = createWindow(false, true, false);
  core.ok({{"cmd", "sync"}});
  std::vector<std::thread::id> threads;
  {
    std::lock_guard lock(seen().mu);
    EXPECT_EQ(seen().events, (std::vector<std::string>{"blur " + std::to_string(first),
                                                       "focus " + std::to_string(second)}));
    threads = seen().threads;
  }
  seen().take();
  for (std::thread::id t : threads) EXPECT_NE(t, std::this_thread::get_id());
}

TEST_F(StandinTest, TheWindowFlagsDecideVisibilityFocusAndCentring) {
  struct Case {
    bool flag2, flag3;
    bool visible, active;
  } cases[] = {
      {false, true, true, true},
      {true, false, false, false},
      {false, false, true, false},
  };
  for (const auto& c : cases) {
    core.ok({{"cmd", "reset"}});
    uint32_t id = createWindow(c.flag2, c.flag3, false);
    json w = windowState(id);
    EXPECT_EQ(w["visible"], c.visible) << c.flag2 << c.flag3;
    EXPECT_EQ(w["active"], c.active) << c.flag2 << c.flag3;
    EXPECT_EQ(core.sym<IdQueryFn>("isWindowVisible")(id), c.visible);
  }
  // Centred on the default display's work area, below the 25-pixel menu bar.
  uint32_t centred = createWindow(false, true, true);
  EXPECT_EQ(windowState(centred)["frame"],
            json({{"x", 80}, {"y", 52.5}, {"width", 1280}, {"height", 820}}));
}

TEST_F(StandinTest, TheCloseButtonOnlyAsksWhileCloseWindowCloses) {
  uint32_t id = createWindow(false, true, false);
  core.ok({{"cmd", "sync"}});
  seen().take();
  EXPECT_EQ(core.ok({{"cmd", "click-close"}, {"window", id}})["callbacks"], 1);
  EXPECT_EQ(seen().take(), std::vector<std::string>{"shouldClose " + std::to_string(id)});
  EXPECT_FALSE(windowState(id).is_null());

  core.sym<IdFn>("closeWindow")(id);
  EXPECT_EQ(core.lastError(), nullptr);
  core.ok({{"cmd", "sync"}});
  EXPECT_EQ(seen().take(), (std::vector<std::string>{"blur " + std::to_string(id),
                                                     "close " + std::to_string(id)}));
  EXPECT_TRUE(windowState(id).is_null());
  core.sym<IdFn>("closeWindow")(id);
  EXPECT_STREQ(core.lastError(), ("no window " + std::to_string(id)).c_str());
}

// A callback may call the core again: the stand-in holds no lock while it runs.
TEST_F(StandinTest, AFocusCallbackMayCreateAWindow) {
  static Standin* current = nullptr;
  static std::atomic<uint32_t> createdInside = 0;
  current = &core;
  createdInside = 0;
  uint32_t id = core.sym<CreateWindowFn>("createWindow")(
      0, 0, 400, 300, 0, "default", false, "outer", true, false, false, 0, 0, nullptr, nullptr,
      nullptr,
      [](uint32_t) {
        if (createdInside != 0) return;
        createdInside = current->sym<CreateWindowFn>("createWindow")(
            0, 0, 200, 100, 0, "default", false, "inner", true, false, false, 0, 0, nullptr,
            nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
      },
      nullptr, nullptr, nullptr);
  core.sym<void (*)(uint32_t, bool)>("showWindow")(id, false);
  core.ok({{"cmd", "focus"}, {"window", id}});
  EXPECT_NE(createdInside, 0u);
  EXPECT_EQ(windowState(createdInside)["title"], "inner");
}

TEST_F(StandinTest, TheLoopRefusesToRunOffTheMainThread) {
  int32_t status = 0;
  std::string error;
  std::thread other([&] {
    status = core.sym<RunMainThreadFn>("nimbrel_core_run_main_thread")("x", "N", "dev", 0);
    const char* text = core.lastError();
    error = text ? text : "";
  });
  other.join();
  EXPECT_EQ(status, 1);
  EXPECT_EQ(error, "nimbrel_core_run_main_thread must be called on the main thread");
  EXPECT_EQ(core.ok({{"cmd", "state"}})["loop"]["running"], false);
}

// SIGINT while the loop runs is a quit request; the quit callback, on the
// core's thread, stops the loop from inside.
TEST_F(StandinTest, ASignalAsksToQuitAndTheQuitCallbackEndsTheLoop) {
  static Standin* current = nullptr;
  static std::thread::id quitThread;
  current = &core;
  quitThread = {};
  core.sym<SetVoidHandlerFn>("setQuitRequestedHandler")([] {
    quitThread = std::this_thread::get_id();
    current->sym<VoidFn>("stopEventLoop")();
  });
  core.runOnMain([](void*) { raise(SIGINT); }, nullptr);
  int32_t status =
      core.sym<RunMainThreadFn>("nimbrel_core_run_main_thread")("work.brovik.test", "T", "dev", 0);
  EXPECT_EQ(status, 0);
  EXPECT_NE(quitThread, std::thread::id{});
  EXPECT_NE(quitThread, std::this_thread::get_id());
  json deliveries = core.ok({{"cmd", "deliveries"}})["deliveries"];
  ASSERT_EQ(deliveries.size(), 1u);
  EXPECT_EQ(deliveries[0]["callback"], "quitRequested");
  EXPECT_EQ(core.ok({{"cmd", "state"}})["app"], json({{"identifier", "work.brovik.test"},
                                                      {"name", "T"},
                                                      {"channel", "dev"},
                                                      {"reserved", 0}}));
}

TEST_F(StandinTest, AStopBeforeTheLoopEndsItAtOnceAndTheLoopRunsAgain) {
  auto run = core.sym<RunMainThreadFn>("nimbrel_core_run_main_thread");
  core.sym<VoidFn>("stopEventLoop")();
  EXPECT_EQ(run("x", "N", "dev", 0), 0);

  static Standin* current = nullptr;
  static std::atomic<bool> ranOnMain = false;
  current = &core;
  ranOnMain = false;
  core.runOnMain(
      [](void*) {
        ranOnMain = gettid() == getpid();
        current->sym<VoidFn>("stopEventLoop")();
      },
      nullptr);
  EXPECT_EQ(run("x", "N", "dev", 0), 0);
  EXPECT_TRUE(ranOnMain);
  EXPECT_EQ(core.ok({{"cmd", "state"}})["loop"]["runs"].get<int>() >= 2, true);

  // A reset forgets a stop that no loop has seen yet.
  core.sym<VoidFn>("stopEventLoop")();
  core.ok({{"cmd", "reset"}});
  EXPECT_EQ(core.ok({{"cmd", "state"}})["loop"]["stopPending"], false);
}

TEST_F(StandinTest, APagePostTakesTheRoadsTheTestChooses) {
  uint32_t window = createWindow(true, false, false);
  auto createWebview = core.sym<CreateWebviewFn>("createWebview");
  uint32_t view = createWebview(
      window, 0, "native", "https://app.example/", 0, 0, 1280, 820, true, "persist:x", nullptr,
      nullptr, nullptr,
      [](uint32_t id, const char* message) {
        seen().add("host " + std::to_string(id) + " " + message);
      },
      nullptr, "key", "preload", "", false, false, false, true);
  ASSERT_NE(view, 0u);
  auto pop = core.sym<PopFn>("popNextQueuedHostMessage");
  auto freeString = core.sym<FreeFn>("freeCoreString");

  core.ok({{"cmd", "post"}, {"webview", view}, {"message", "one"}, {"via", "host-bridge"}});
  core.ok({{"cmd", "post"}, {"webview", view}, {"message", "two"}, {"via", "queue"}});
  core.ok({{"cmd", "post"}, {"webview", view}, {"message", "three"}});
  EXPECT_EQ(seen().take(), (std::vector<std::string>{"host " + std::to_string(view) + " one",
                                                     "host " + std::to_string(view) + " three"}));
  for (const char* expected : {"two", "three"}) {
    uint32_t from = 0;
    char* text = pop(&from);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, expected);
    EXPECT_EQ(from, view);
    freeString(text);
    EXPECT_EQ(core.lastError(), nullptr);
  }
  uint32_t untouched = 77;
  EXPECT_EQ(pop(&untouched), nullptr);
  EXPECT_EQ(untouched, 77u);
  EXPECT_EQ(core.ok({{"cmd", "state"}})["hostQueue"], json({{"pending", 0}, {"unfreed", 0}}));
}

TEST_F(StandinTest, ANavigationMatchingARuleIsReportedNotCarriedOut) {
  uint32_t window = createWindow(true, false, false);
  uint32_t view = core.sym<CreateWebviewFn>("createWebview")(
      window, 0, "native", "https://app.example/", 0, 0, 1280, 820, true, "", nullptr,
      [](uint32_t, const char* name, const char* detail) {
        seen().add(std::string(name) + " " + detail);
      },
      nullptr, nullptr, nullptr, "", "", "", false, false, false, false);
  auto setRules = core.sym<IdStringFn>("setWebviewNavigationRules");
  setRules(view, R"(["^https://ext.example/*"])");
  EXPECT_EQ(core.lastError(), nullptr);
  setRules(view, R"({"not":"a list"})");
  EXPECT_STREQ(core.lastError(), "navigation rules must be a JSON array of strings");

  json outcome =
      core.ok({{"cmd", "navigate"}, {"webview", view}, {"url", "https://EXT.example/a"}});
  EXPECT_EQ(outcome["outcome"], "blocked-by-rule");
  outcome = core.ok({{"cmd", "navigate"}, {"webview", view}, {"url", "https://app.example/b"}});
  EXPECT_EQ(outcome["outcome"], "navigated");
  EXPECT_EQ(seen().take(), (std::vector<std::string>{
                               R"(will-navigate {"allowed":false,"url":"https://EXT.example/a"})",
                               R"(did-navigate {"url":"https://app.example/b"})",
                               R"(did-commit-navigation {"url":"https://app.example/b"})"}));
  json views = core.ok({{"cmd", "state"}})["webviews"];
  ASSERT_EQ(views.size(), 1u);
  EXPECT_EQ(views[0]["url"], "https://app.example/b");
  EXPECT_EQ(views[0]["navigationRules"], json({"^https://ext.example/*"}));
}

TEST_F(StandinTest, DisplayQueriesAnswerTheListNullOrChosenText) {
  auto primary = core.sym<StringRetFn>("getPrimaryDisplay");
  auto all = core.sym<StringRetFn>("getAllDisplays");
  EXPECT_EQ(json::parse(primary()),
            json::parse(R"({"id":1,"bounds":{"x":0,"y":0,"width":1440,"height":900},
                "workArea":{"x":0,"y":25,"width":1440,"height":875},"scaleFactor":2,
                "isPrimary":true})"));

  json two = json::parse(R"([
      {"id":1,"bounds":{"x":0,"y":0,"width":1440,"height":900},
       "workArea":{"x":0,"y":25,"width":1440,"height":875},"scaleFactor":2,"isPrimary":false},
      {"id":2,"bounds":{"x":1440,"y":0,"width":1920,"height":1080},
       "workArea":{"x":1440,"y":0,"width":1920,"height":1040},"scaleFactor":1,"isPrimary":true}])");
  core.ok({{"cmd", "set-displays"}, {"displays", two}});
  EXPECT_EQ(json::parse(all()), two);
  EXPECT_EQ(json::parse(primary())["id"], 2);
  two[0]["isPrimary"] = true;
  EXPECT_EQ(core.command({{"cmd", "set-displays"}, {"displays", two}})["error"],
            "exactly one display must be primary");

  core.ok({{"cmd", "display-answer"}, {"fn", "getPrimaryDisplay"}, {"null", true}});
  EXPECT_EQ(primary(), nullptr);
  EXPECT_EQ(core.lastError(), nullptr);
  core.ok({{"cmd", "display-answer"}, {"fn", "getAllDisplays"}, {"text", "[{"}});
  EXPECT_STREQ(all(), "[{");
}

TEST_F(StandinTest, PickingATrayItemCallsTheTraysCallbackWithItsAction) {
  auto createTray = core.sym<CreateTrayFn>("createTray");
  uint32_t tray = createTray("", "/tray.png", false, 18, 18, [](uint32_t id, const char* action) {
    seen().add(std::to_string(id) + " " + action);
  });
  ASSERT_NE(tray, 0u);
  core.sym<IdStringFn>("setTrayMenu")(
      tray, R"([{"label":"Open","action":"tray:open","enabled":true},{"type":"divider"},
               {"label":"Off","action":"tray:off","enabled":false}])");
  EXPECT_EQ(core.lastError(), nullptr);
  EXPECT_EQ(core.ok({{"cmd", "pick-tray"}, {"label", "Open"}})["delivered"], true);
  EXPECT_EQ(seen().take(), std::vector<std::string>{std::to_string(tray) + " tray:open"});
  EXPECT_EQ(core.command({{"cmd", "pick-tray"}, {"action", "tray:off"}})["ok"], false);
  EXPECT_EQ(core.command({{"cmd", "pick-tray"}, {"action", "tray:none"}})["ok"], false);
  EXPECT_TRUE(seen().take().empty());
}

TEST_F(StandinTest, AWebviewKeepsWhatItWasGivenAndWhatThePageReceived) {
  uint32_t window = createWindow(true, false, false);
  auto createWebview = core.sym<CreateWebviewFn>("createWebview");
  auto make = [&] {
    return createWebview(
        window, 0, "native", "https://app.example/", 0, 0, 640, 480, true, "persist:p", nullptr,
        [](uint32_t, const char* name, const char* detail) {
          seen().add(std::string(name) + " " + detail);
        },
        nullptr, nullptr, nullptr, "secret", "preload text", "", false, false, false, true);
  };
  core.sym<void (*)(bool, bool)>("setNextWebviewAllowedProtocols")(false, false);
  uint32_t first = make();
  uint32_t second = make();  // the pair applied to the first web view only
  auto evaluate = core.sym<IdStringFn>("evaluateJavaScriptWithNoCompletion");
  evaluate(first, "a()");
  evaluate(first, "b()");
  core.sym<IdFn>("webviewReload")(first);
  core.sym<void (*)(uint32_t, double)>("webviewSetPageZoom")(first, 1.25);
  core.ok({{"cmd", "sync"}});

  json views = core.ok({{"cmd", "state"}})["webviews"];
  ASSERT_EQ(views.size(), 2u);
  EXPECT_EQ(views[0]["id"], first);
  EXPECT_EQ(views[0]["allowedProtocols"], json({false, false}));
  EXPECT_EQ(views[1]["allowedProtocols"], nullptr);
  EXPECT_EQ(views[0]["partition"], "persist:p");
  EXPECT_EQ(views[0]["secretKey"], "secret");
  EXPECT_EQ(views[0]["preload"], "preload text");
  EXPECT_EQ(views[0]["flags"], json({false, false, false, true}));
  EXPECT_EQ(views[0]["zoom"], 1.25);
  EXPECT_EQ(views[1]["zoom"], 1.0);
  EXPECT_EQ(views[0]["reloads"], 1);
  EXPECT_EQ(core.ok({{"cmd", "scripts"}, {"webview", first}})["scripts"], json({"a()", "b()"}));
  EXPECT_EQ(seen().take(),
            (std::vector<std::string>{R"(did-navigate {"url":"https://app.example/"})",
                                      R"(did-commit-navigation {"url":"https://app.example/"})"}));
  EXPECT_NE(second, 0u);
}

// The event details the shell reads: the address in an object or as plain
// text, and the download's members as given.
TEST_F(StandinTest, PageEventsCarryTheirDetails) {
  uint32_t window = createWindow(true, false, false);
  uint32_t view = core.sym<CreateWebviewFn>("createWebview")(
      window, 0, "native", "https://app.example/", 0, 0, 640, 480, true, "", nullptr,
      [](uint32_t, const char* name, const char* detail) {
        seen().add(std::string(name) + " " + detail);
      },
      nullptr, nullptr, nullptr, "", "", "", false, false, false, false);
  struct Case {
    json cmd;
    std::string seen;
  } cases[] = {
      {{{"cmd", "new-window"}, {"url", "https://x.example/"}},
       R"(new-window-open {"url":"https://x.example/"})"},
      {{{"cmd", "new-window"}, {"url", "https://x.example/"}, {"form", "text"}},
       "new-window-open https://x.example/"},
      {{{"cmd", "download"},
        {"success", true},
        {"filename", "a.pdf"},
        {"destinationPath", "/d/a.pdf"}},
       R"(download-completed {"destinationPath":"/d/a.pdf","filename":"a.pdf"})"},
      {{{"cmd", "download"}, {"success", false}, {"filename", "b.zip"}},
       R"(download-failed {"filename":"b.zip"})"},
      {{{"cmd", "webview-event"}, {"event", "did-navigate"}, {"detail", "{broken"}},
       "did-navigate {broken"},
  };
  for (auto& c : cases) {
    c.cmd["webview"] = view;
    EXPECT_EQ(core.ok(c.cmd)["callbacks"], 1) << c.cmd.dump();
    EXPECT_EQ(seen().take(), std::vector<std::string>{c.seen}) << c.cmd.dump();
  }
}

TEST_F(StandinTest, MaximisingFillsTheWorkAreaAndUnmaximisingPutsTheFrameBack) {
  uint32_t id = core.sym<CreateWindowFn>("createWindow")(
      100, 200, 800, 600, 0, "default", false, "t", true, false, false, 0, 0, nullptr, nullptr,
      [](uint32_t, double x, double y, double w, double h) {
        seen().add(json({x, y, w, h}).dump());
      },
      nullptr, nullptr, nullptr, nullptr);
  core.sym<IdFn>("maximizeWindow")(id);
  EXPECT_TRUE(core.sym<IdQueryFn>("isWindowMaximized")(id));
  core.sym<IdFn>("unmaximizeWindow")(id);
  EXPECT_FALSE(core.sym<IdQueryFn>("isWindowMaximized")(id));
  core.ok({{"cmd", "sync"}});
  EXPECT_EQ(seen().take(),
            (std::vector<std::string>{"[0.0,25.0,1440.0,875.0]", "[100.0,200.0,800.0,600.0]"}));
  double frame[4] = {};
  core.sym<void (*)(uint32_t, double*, double*, double*, double*)>("getWindowFrame")(
      id, &frame[0], &frame[1], &frame[2], &frame[3]);
  EXPECT_EQ(json(frame), json({100, 200, 800, 600}));
}

TEST_F(StandinTest, PickingFromTheApplicationMenuReportsActionsAndCarriesOutRoles) {
  core.sym<void (*)(const char*, void (*)(uint32_t, const char*))>("setApplicationMenu")(
      R"([{"label":"View","submenu":[{"label":"Reload","action":"view:reload"},
          {"type":"divider"},{"label":"Quit","role":"quit"}]}])",
      [](uint32_t id, const char* action) { seen().add(std::to_string(id) + " " + action); });
  core.sym<SetVoidHandlerFn>("setQuitRequestedHandler")([] { seen().add("quit"); });
  EXPECT_EQ(core.ok({{"cmd", "pick-menu"}, {"action", "view:reload"}})["delivered"], true);
  EXPECT_EQ(core.ok({{"cmd", "pick-menu"}, {"label", "Quit"}})["role"], "quit");
  EXPECT_EQ(seen().take(), (std::vector<std::string>{"0 view:reload", "quit"}));
}

// Load-time behaviour needs a fresh instance: a copy of the library under
// another name is loaded anew.
TEST(StandinLoad, TheEnvironmentSetsUpFailuresTheSocketAndTheTrace) {
  TempDir dir;
  std::string copy = dir.path() + "/libNimbrelCore-copy.so";
  std::filesystem::copy_file(kLibrary, copy);
  std::string socketPath = dir.path() + "/control.sock";
  ScopedEnv env({{"NIMBREL_STANDIN_CONTROL", socketPath},
                 {"NIMBREL_STANDIN_TRACE", "1"},
                 {"NIMBREL_STANDIN_FAIL",
                  R"([{"fn":"setExitOnLastWindowClosed","error":"from the environment"}])"}});
  Standin fresh(copy);

  // The trace line of the failing call, captured from standard error.
  std::string tracePath = dir.path() + "/trace.txt";
  fflush(stderr);
  int saved = dup(STDERR_FILENO);
  FILE* traceFile = fopen(tracePath.c_str(), "w");
  ASSERT_NE(traceFile, nullptr);
  dup2(fileno(traceFile), STDERR_FILENO);
  fresh.sym<BoolFn>("setExitOnLastWindowClosed")(false);
  const char* error = fresh.lastError();
  dup2(saved, STDERR_FILENO);
  close(saved);
  fclose(traceFile);
  EXPECT_STREQ(error, "from the environment");
  EXPECT_NE(testing_support::readAll(tracePath).find(
                "nimbrel-standin: setExitOnLastWindowClosed(false) -> injected failure "
                "\"from the environment\"\n"),
            std::string::npos)
      << testing_support::readAll(tracePath);

  // The socket answers one JSON reply per line.
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << strerror(errno);
  std::string request = R"({"cmd":"calls","fn":"setExitOnLastWindowClosed"})"
                        "\n"
                        "not json\n";
  ASSERT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  std::string replies;
  char buf[4096];
  while (std::count(replies.begin(), replies.end(), '\n') < 2) {
    ssize_t n = read(fd, buf, sizeof buf);
    ASSERT_GT(n, 0);
    replies.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  size_t firstEnd = replies.find('\n');
  json first = json::parse(replies.substr(0, firstEnd));
  json second = json::parse(replies.substr(firstEnd + 1, replies.find('\n', firstEnd + 1)));
  EXPECT_EQ(first["calls"], json::parse(R"([{"fn":"setExitOnLastWindowClosed","args":[false],
      "failed":true,"error":"from the environment"}])"));
  EXPECT_EQ(second, json({{"ok", false}, {"error", "a command must be one JSON object"}}));
}

}  // namespace
