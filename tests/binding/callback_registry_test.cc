// The window and web-view registries, driven through the exported entry
// points as the core calls them. Ids here lie far above those the stand-in
// core hands out, and each test uses its own, because the registries live as
// long as the process.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "binding/callbacks.h"
#include "binding/nm_helpers.h"
#include "binding/webviews.h"

namespace {

using nimbrel::WebviewCallbacks;
using nimbrel::WindowCallbacks;

// Which fields of a set ran, by name, with what they were given.
struct Log {
  std::mutex mu;
  std::vector<std::string> entries;
  void add(std::string entry) {
    std::lock_guard lock(mu);
    entries.push_back(std::move(entry));
  }
  std::vector<std::string> take() {
    std::lock_guard lock(mu);
    return std::exchange(entries, {});
  }
};

std::string str(double d) {
  return std::to_string(static_cast<long long>(d));
}

WindowCallbacks loggingWindowSet(Log& log, const std::string& tag = "") {
  WindowCallbacks c;
  c.Close = [&log, tag](uint32_t id) { log.add(tag + "Close " + std::to_string(id)); };
  c.ShouldClose = [&log, tag](uint32_t id) { log.add(tag + "ShouldClose " + std::to_string(id)); };
  c.Move = [&log, tag](uint32_t id, double x, double y) {
    log.add(tag + "Move " + std::to_string(id) + " " + str(x) + " " + str(y));
  };
  c.Resize = [&log, tag](uint32_t id, double x, double y, double w, double h) {
    log.add(tag + "Resize " + std::to_string(id) + " " + str(x) + " " + str(y) + " " + str(w) +
            " " + str(h));
  };
  c.Focus = [&log, tag](uint32_t id) { log.add(tag + "Focus " + std::to_string(id)); };
  c.Blur = [&log, tag](uint32_t id) { log.add(tag + "Blur " + std::to_string(id)); };
  c.Key = [&log, tag](uint32_t id, uint32_t a, uint32_t b, uint32_t cc, uint32_t d) {
    log.add(tag + "Key " + std::to_string(id) + " " + std::to_string(a) + " " + std::to_string(b) +
            " " + std::to_string(cc) + " " + std::to_string(d));
  };
  return c;
}

WebviewCallbacks loggingWebviewSet(Log& log, const std::string& tag = "") {
  WebviewCallbacks c;
  c.DecideNavigation = [&log, tag](uint32_t id, const std::string& url) {
    log.add(tag + "DecideNavigation " + std::to_string(id) + " [" + url + "]");
    return 7u;
  };
  c.Event = [&log, tag](uint32_t id, const std::string& name, const std::string& detail) {
    log.add(tag + "Event " + std::to_string(id) + " [" + name + "] [" + detail + "]");
  };
  auto message = [&log, tag](const std::string& field) {
    return [&log, tag, field](uint32_t id, const std::string& text) {
      log.add(tag + field + " " + std::to_string(id) + " [" + text + "]");
    };
  };
  c.EventBridge = message("EventBridge");
  c.HostBridge = message("HostBridge");
  c.VeskBridge = message("VeskBridge");
  c.InternalBridge = message("InternalBridge");
  return c;
}

TEST(WindowRegistry, EachEntryPointRunsItsOwnFieldWithItsArgumentsUnchanged) {
  Log log;
  const uint32_t id = 0x70000001;
  nimbrel::registerWindowCallbacks(id, loggingWindowSet(log));
  struct Case {
    void (*fire)(uint32_t);
    std::string expected;
  } cases[] = {
      {[](uint32_t w) { nimbrelWindowCloseHandler(w); }, "Close"},
      {[](uint32_t w) { nimbrelWindowShouldCloseHandler(w); }, "ShouldClose"},
      {[](uint32_t w) { nimbrelWindowMoveHandler(w, -12, 40); }, "Move"},
      {[](uint32_t w) { nimbrelWindowResizeHandler(w, 1, 2, 1280, 800); }, "Resize"},
      {[](uint32_t w) { nimbrelWindowFocusHandler(w); }, "Focus"},
      {[](uint32_t w) { nimbrelWindowBlurHandler(w); }, "Blur"},
      {[](uint32_t w) { nimbrelWindowKeyHandler(w, 4, 3, 2, 4000000000u); }, "Key"},
  };
  const std::string n = std::to_string(id);
  const std::string expectedArgs[] = {n, n, n + " -12 40",          n + " 1 2 1280 800",
                                      n, n, n + " 4 3 2 4000000000"};
  for (size_t i = 0; i < std::size(cases); ++i) {
    cases[i].fire(id);
    EXPECT_EQ(log.take(), std::vector<std::string>{cases[i].expected + " " + expectedArgs[i]});
  }
}

TEST(WebviewRegistry, EachEntryPointRunsItsOwnFieldWithNullAsEmpty) {
  Log log;
  const uint32_t id = 0x71000001;
  nimbrel::registerWebviewCallbacks(id, loggingWebviewSet(log));
  const std::string n = std::to_string(id);
  struct Case {
    std::function<void()> fire;
    std::string expected;
  } cases[] = {
      {[&] { EXPECT_EQ(nimbrelDecideNavigationHandler(id, "https://a/b"), 7u); },
       "DecideNavigation " + n + " [https://a/b]"},
      {[&] { EXPECT_EQ(nimbrelDecideNavigationHandler(id, nullptr), 7u); },
       "DecideNavigation " + n + " []"},
      {[&] { nimbrelWebviewEventHandler(id, "did-navigate", "{\"url\":\"x\"}"); },
       "Event " + n + " [did-navigate] [{\"url\":\"x\"}]"},
      {[&] { nimbrelWebviewEventHandler(id, nullptr, nullptr); }, "Event " + n + " [] []"},
      {[&] { nimbrelWebviewEventBridgeHandler(id, "e"); }, "EventBridge " + n + " [e]"},
      {[&] { nimbrelWebviewHostBridgeHandler(id, "{\"bk\":1}"); },
       "HostBridge " + n + " [{\"bk\":1}]"},
      {[&] { nimbrelWebviewHostBridgeHandler(id, nullptr); }, "HostBridge " + n + " []"},
      {[&] { nimbrelWebviewInternalBridgeHandler(id, "i"); }, "InternalBridge " + n + " [i]"},
  };
  for (const auto& c : cases) {
    c.fire();
    EXPECT_EQ(log.take(), std::vector<std::string>{c.expected});
  }
}

TEST(WindowRegistry, ALaterSetReplacesTheWholeEarlierOne) {
  Log log;
  const uint32_t id = 0x70000002;
  nimbrel::registerWindowCallbacks(id, loggingWindowSet(log, "old "));
  WindowCallbacks onlyClose;
  onlyClose.Close = [&log](uint32_t) { log.add("new Close"); };
  nimbrel::registerWindowCallbacks(id, onlyClose);

  nimbrelWindowMoveHandler(id, 1, 2);
  nimbrelWindowFocusHandler(id);
  nimbrelWindowCloseHandler(id);
  EXPECT_EQ(log.take(), std::vector<std::string>{"new Close"});
}

TEST(WindowRegistry, AnAllAbsentSetLeavesTheEarlierEntry) {
  Log log;
  const uint32_t id = 0x70000003;
  nimbrel::registerWindowCallbacks(id, loggingWindowSet(log));
  nimbrel::registerWindowCallbacks(id, WindowCallbacks{});
  nimbrelWindowFocusHandler(id);
  // The entry outlives the window's close event too.
  nimbrelWindowCloseHandler(id);
  nimbrelWindowBlurHandler(id);
  EXPECT_EQ(log.take(),
            (std::vector<std::string>{"Focus " + std::to_string(id), "Close " + std::to_string(id),
                                      "Blur " + std::to_string(id)}));
}

TEST(WindowRegistry, UnknownIdsAndWindowIdsOfWebviewsGoNowhere) {
  Log log;
  const uint32_t webviewId = 0x71000002;
  nimbrel::registerWebviewCallbacks(webviewId, loggingWebviewSet(log));
  // The two kinds of id are separate key spaces.
  nimbrelWindowCloseHandler(webviewId);
  nimbrelWindowResizeHandler(0x70000fff, 0, 0, 1, 1);
  EXPECT_TRUE(log.take().empty());
}

TEST(WebviewRegistry, NavigationIsAllowedWithoutACallback) {
  const uint32_t unregistered = 0x71000003;
  EXPECT_EQ(nimbrelDecideNavigationHandler(unregistered, "https://x"), 1u);

  Log log;
  const uint32_t withoutDecide = 0x71000004;
  WebviewCallbacks c;
  c.Event = [&log](uint32_t, const std::string& name, const std::string&) { log.add(name); };
  nimbrel::registerWebviewCallbacks(withoutDecide, c);
  EXPECT_EQ(nimbrelDecideNavigationHandler(withoutDecide, "https://x"), 1u);
  nimbrelWebviewEventHandler(withoutDecide, "stored", "");
  EXPECT_EQ(log.take(), std::vector<std::string>{"stored"});
}

TEST(WebviewRegistry, TheVerdictPassesThroughUnchanged) {
  const uint32_t id = 0x71000005;
  WebviewCallbacks c;
  c.DecideNavigation = [](uint32_t, const std::string& url) -> uint32_t {
    return url == "deny" ? 0u : 0xFFFFFFFFu;
  };
  nimbrel::registerWebviewCallbacks(id, c);
  EXPECT_EQ(nimbrelDecideNavigationHandler(id, "deny"), 0u);
  EXPECT_EQ(nimbrelDecideNavigationHandler(id, "other"), 0xFFFFFFFFu);
}

TEST(WebviewRegistry, AVeskBridgeOnlySetIsNotStored) {
  Log log;
  const uint32_t id = 0x71000006;
  nimbrel::registerWebviewCallbacks(id, loggingWebviewSet(log, "old "));
  WebviewCallbacks onlyVesk;
  onlyVesk.VeskBridge = [&log](uint32_t, const std::string&) { log.add("vesk"); };
  nimbrel::registerWebviewCallbacks(id, onlyVesk);

  nimbrelWebviewHostBridgeHandler(id, "m");
  EXPECT_EQ(nimbrelDecideNavigationHandler(id, "u"), 7u);
  EXPECT_EQ(log.take(),
            (std::vector<std::string>{"old HostBridge " + std::to_string(id) + " [m]",
                                      "old DecideNavigation " + std::to_string(id) + " [u]"}));
}

TEST(WebviewRegistry, ALaterSetReplacesTheWholeEarlierOne) {
  Log log;
  const uint32_t id = 0x71000007;
  nimbrel::registerWebviewCallbacks(id, loggingWebviewSet(log, "old "));
  WebviewCallbacks onlyInternal;
  onlyInternal.InternalBridge = [&log](uint32_t, const std::string& m) { log.add("new " + m); };
  nimbrel::registerWebviewCallbacks(id, onlyInternal);

  nimbrelWebviewHostBridgeHandler(id, "h");
  nimbrelWebviewEventHandler(id, "e", "");
  EXPECT_EQ(nimbrelDecideNavigationHandler(id, "u"), 1u);
  nimbrelWebviewInternalBridgeHandler(id, "i");
  EXPECT_EQ(log.take(), std::vector<std::string>{"new i"});
}

// Nobody holds the lock, not even for reading, while a callback runs.
TEST(Dispatch, TheLockIsFreeWhileACallbackRuns) {
  std::atomic<int> lockFree = 0;
  auto probe = [&] {
    if (nimbrel::callbacksMu().try_lock()) {
      nimbrel::callbacksMu().unlock();
      ++lockFree;
    }
  };
  const uint32_t windowId = 0x70000004;
  WindowCallbacks w;
  w.Focus = [&](uint32_t) { probe(); };
  nimbrel::registerWindowCallbacks(windowId, w);
  const uint32_t webviewId = 0x71000008;
  WebviewCallbacks v;
  v.DecideNavigation = [&](uint32_t, const std::string&) {
    probe();
    return 1u;
  };
  v.HostBridge = [&](uint32_t, const std::string&) { probe(); };
  nimbrel::registerWebviewCallbacks(webviewId, v);

  nimbrelWindowFocusHandler(windowId);
  nimbrelDecideNavigationHandler(webviewId, "u");
  nimbrelWebviewHostBridgeHandler(webviewId, "m");
  EXPECT_EQ(lockFree, 3);
}

TEST(Dispatch, ACallbackMayRegisterWhileItRuns) {
  Log log;
  const uint32_t first = 0x70000005;
  const uint32_t second = 0x70000006;
  WindowCallbacks registering;
  registering.Focus = [&](uint32_t) {
    WindowCallbacks next;
    next.Focus = [&](uint32_t id) { log.add("second " + std::to_string(id)); };
    nimbrel::registerWindowCallbacks(second, next);
    // Replacing its own entry while it runs is allowed too.
    nimbrel::registerWindowCallbacks(first, next);
    log.add("first");
  };
  nimbrel::registerWindowCallbacks(first, registering);
  nimbrelWindowFocusHandler(first);
  nimbrelWindowFocusHandler(second);
  nimbrelWindowFocusHandler(first);
  EXPECT_EQ(log.take(), (std::vector<std::string>{"first", "second " + std::to_string(second),
                                                  "second " + std::to_string(first)}));
}

// Dispatch and registration share the registries. While the maps grow (each
// round registers new ids, so they rehash again and again) and the entries
// being dispatched are replaced, every event must still reach a callback of
// its id: without the lock a lookup during a rehash misses or crashes, and a
// callback copied while it is replaced is torn. ThreadSanitizer also reports
// the race itself.
TEST(Dispatch, ConcurrentEventsAndRegistrationsAreSafe) {
  const uint32_t windowBase = 0x70001000;
  const uint32_t webviewBase = 0x71001000;
  const uint32_t growingWindows = 0x70100000;
  const uint32_t growingWebviews = 0x71100000;
  constexpr uint32_t kIds = 8;
  constexpr uint32_t kGrowth = 20000;
  constexpr int kDispatchers = 3;
  std::atomic<int> ran = 0;
  std::atomic<int> wrongId = 0;
  std::atomic<bool> stop = false;

  auto registerAll = [&] {
    for (uint32_t i = 0; i < kIds; ++i) {
      const uint32_t windowId = windowBase + i;
      WindowCallbacks w;
      w.Move = [&ran, &wrongId, windowId](uint32_t id, double, double) {
        ++(id == windowId ? ran : wrongId);
      };
      nimbrel::registerWindowCallbacks(windowId, w);
      const uint32_t webviewId = webviewBase + i;
      WebviewCallbacks v;
      v.HostBridge = [&ran, &wrongId, webviewId](uint32_t id, const std::string&) {
        ++(id == webviewId ? ran : wrongId);
      };
      v.DecideNavigation = [webviewId](uint32_t id, const std::string&) {
        return id == webviewId ? 1u : 2u;
      };
      nimbrel::registerWebviewCallbacks(webviewId, v);
    }
  };
  registerAll();

  std::atomic<int> dispatched = 0;
  std::atomic<int> refused = 0;
  std::vector<std::thread> dispatchers;
  for (int t = 0; t < kDispatchers; ++t) {
    dispatchers.emplace_back([&, t] {
      uint32_t i = static_cast<uint32_t>(t);
      while (!stop) {
        nimbrelWindowMoveHandler(windowBase + i % kIds, 1, 2);
        nimbrelWebviewHostBridgeHandler(webviewBase + i % kIds, "message");
        if (nimbrelDecideNavigationHandler(webviewBase + i % kIds, "u") != 1u) ++refused;
        dispatched += 2;
        ++i;
      }
    });
  }
  std::thread registrar([&] {
    auto noMove = [](uint32_t, double, double) {};
    auto noMessage = [](uint32_t, const std::string&) {};
    for (uint32_t n = 0; n < kGrowth; ++n) {
      WindowCallbacks w;
      w.Move = noMove;
      nimbrel::registerWindowCallbacks(growingWindows + n, w);
      WebviewCallbacks v;
      v.HostBridge = noMessage;
      nimbrel::registerWebviewCallbacks(growingWebviews + n, v);
      if (n % 100 == 0) registerAll();
    }
  });
  registrar.join();
  stop = true;
  for (auto& t : dispatchers) t.join();

  EXPECT_GT(dispatched, 0);
  EXPECT_EQ(ran, dispatched);
  EXPECT_EQ(wrongId, 0);
  EXPECT_EQ(refused, 0);
  int before = ran;
  nimbrelWindowMoveHandler(windowBase, 0, 0);
  nimbrelWebviewHostBridgeHandler(webviewBase, "m");
  EXPECT_EQ(ran, before + 2);
}

// Runs `onDestroy` when the last callback that holds it goes away.
struct DestructionProbe {
  std::function<void()> onDestroy;
  ~DestructionProbe() { onDestroy(); }
};

// A replaced callback is destroyed outside the lock, so whatever it captured
// may call into the binding from its destructor.
TEST(Dispatch, AReplacedCallbackIsDestroyedWithTheLockFree) {
  std::vector<std::string> seen;
  auto probeFor = [&](const std::string& what) {
    auto probe = std::make_shared<DestructionProbe>();
    probe->onDestroy = [&seen, what] {
      if (!nimbrel::callbacksMu().try_lock()) {
        seen.push_back(what + " destroyed under the lock");
        return;
      }
      nimbrel::callbacksMu().unlock();
      seen.push_back(what + " destroyed");
    };
    return probe;
  };

  const uint32_t windowId = 0x70000007;
  {
    WindowCallbacks w;
    w.Close = [probe = probeFor("window set")](uint32_t) { (void)probe; };
    nimbrel::registerWindowCallbacks(windowId, std::move(w));
  }
  WindowCallbacks nextWindowSet;
  nextWindowSet.Blur = [](uint32_t) {};
  nimbrel::registerWindowCallbacks(windowId, nextWindowSet);

  const uint32_t webviewId = 0x71000009;
  {
    WebviewCallbacks v;
    v.Event = [probe = probeFor("web-view set")](uint32_t, const std::string&, const std::string&) {
      (void)probe;
    };
    nimbrel::registerWebviewCallbacks(webviewId, std::move(v));
  }
  WebviewCallbacks nextWebviewSet;
  nextWebviewSet.InternalBridge = nimbrel::NoopWebviewPostMessage;
  nimbrel::registerWebviewCallbacks(webviewId, nextWebviewSet);

  nimbrel::setAppReopenHandler([probe = probeFor("reopen handler")] { (void)probe; });
  nimbrel::setAppReopenHandler(nullptr);

  EXPECT_EQ(seen, (std::vector<std::string>{"window set destroyed", "web-view set destroyed",
                                            "reopen handler destroyed"}));
}

}  // namespace
