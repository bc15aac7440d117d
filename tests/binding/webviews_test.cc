// Web-view operations against the stand-in core: the runtime's preload
// scripts, creation with its callbacks, the operations and the host-message
// queue.
#include "binding/webviews.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "binding/nm_helpers.h"
#include "binding/windows.h"
#include "support/file.h"
#include "tests/binding/core_fixture.h"
#include "tests/test_support.h"

namespace {

using nimbrel::HostMessage;
using nimbrel::NewWebviewOptions;
using nimbrel::Rect;
using nimbrel::WebviewCallbacks;
using nimbrel::WebviewOptions;
using nlohmann::json;
using testing_support::addressOf;
using testing_support::TempDir;

class WebviewTest : public testing_support::CoreTest {
 protected:
  void SetUp() override {
    auto id = core().CreateWindow(nimbrel::NewWindowOptions("host", {0, 30, 1280, 800}));
    ASSERT_TRUE(id.ok()) << id.error().message;
    windowId = *id;
  }

  uint32_t mustCreate(WebviewOptions options) {
    auto id = core().CreateWebview(std::move(options));
    EXPECT_TRUE(id.ok()) << id.error().message;
    return id.ok() ? *id : 0;
  }

  uint32_t windowId = 0;
};

json slice(const json& args, size_t from, size_t to) {
  return json(std::vector<json>(args.begin() + static_cast<long>(from),
                                args.begin() + static_cast<long>(to)));
}

TEST(WebviewOptions, TheConstructorsDefaults) {
  WebviewOptions o = NewWebviewOptions(3, "https://app", {1, 2, 3, 4});
  EXPECT_EQ(o.WindowID, 3u);
  EXPECT_EQ(o.SecondID, 0u);
  EXPECT_EQ(o.Renderer, "native");
  EXPECT_EQ(o.URL, "https://app");
  EXPECT_EQ(o.Frame, (Rect{1, 2, 3, 4}));
  EXPECT_TRUE(o.ViewFlag);
  EXPECT_EQ(o.Partition, "");
  EXPECT_EQ(o.SecretKey, "");
  EXPECT_EQ(o.Preload, "");
  EXPECT_EQ(o.ViewsRoot, "");
  EXPECT_TRUE(o.AllowProtocol1);
  EXPECT_FALSE(o.AllowProtocol2);
  EXPECT_FALSE(o.Flag1 || o.Flag2 || o.Flag3 || o.Flag4);
  const WebviewCallbacks& c = o.Callbacks;
  EXPECT_FALSE(c.DecideNavigation || c.Event || c.EventBridge || c.HostBridge || c.VeskBridge ||
               c.InternalBridge);
}

TEST(WebviewOptions, AllowAllNavigationAllowsEveryAddress) {
  EXPECT_EQ(nimbrel::AllowAllNavigation(4, "https://anything"), 1u);
  EXPECT_EQ(nimbrel::AllowAllNavigation(0, ""), 1u);
}

TEST_F(WebviewTest, CreateWebviewHandsEveryValueToTheCoreInItsOrder) {
  WebviewOptions o = NewWebviewOptions(windowId, "https://app.example/", {0, 28, 1280, 772});
  o.SecondID = 9;
  o.Renderer = "other-renderer";
  o.ViewFlag = false;
  o.Partition = "persist:main";
  o.SecretKey = "s3cret";
  o.Preload = "window.x=1";
  o.ViewsRoot = "/views";
  o.AllowProtocol1 = false;
  o.AllowProtocol2 = true;
  o.Flag1 = true;
  o.Flag3 = true;
  standin.clearCalls();
  uint32_t id = mustCreate(o);
  ASSERT_NE(id, 0u);

  json args = lastArgs("createWebview");
  EXPECT_EQ(args, json({windowId,
                        9,
                        "other-renderer",
                        "https://app.example/",
                        0,
                        28,
                        1280,
                        772,
                        false,
                        "persist:main",
                        0,
                        0,
                        0,
                        0,
                        0,
                        "s3cret",
                        "window.x=1",
                        "/views",
                        true,
                        false,
                        true,
                        false}));
  // The allowed protocols are set by the call right before createWebview.
  json calls = command({{"cmd", "calls"}})["calls"];
  std::vector<std::string> names;
  for (const auto& call : calls) {
    if (call["fn"] != "nimbrel_core_last_error") names.push_back(call["fn"]);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"setNextWebviewAllowedProtocols", "createWebview"}));
  EXPECT_EQ(lastArgs("setNextWebviewAllowedProtocols"), json({false, true}));
  EXPECT_EQ(webview(id)["allowedProtocols"], json({false, true}));
  EXPECT_FALSE(called("nimbrel_core_last_error"));
}

TEST_F(WebviewTest, TheConstructorsRecordReachesTheCoreUnchanged) {
  ASSERT_NE(mustCreate(NewWebviewOptions(windowId, "", {0, 0, 10, 10})), 0u);
  EXPECT_EQ(lastArgs("setNextWebviewAllowedProtocols"), json({true, false}));
  EXPECT_EQ(lastArgs("createWebview"),
            json({windowId, 0, "native", "", 0,  0,  10, 10,    true,  "",    0,
                  0,        0, 0,        0,  "", "", "", false, false, false, false}));
}

// Parameters 11 to 15; VeskBridge has no parameter and stands in for an
// absent HostBridge.
TEST_F(WebviewTest, EachCallbackLandsInItsOwnParameter) {
  const uint64_t decide = addressOf(&nm_decide_navigation_cb),
                 event = addressOf(&nm_webview_event_cb),
                 eventBridge = addressOf(&nm_webview_event_bridge_cb),
                 hostBridge = addressOf(&nm_webview_host_bridge_cb),
                 internalBridge = addressOf(&nm_webview_internal_bridge_cb);
  auto message = [](uint32_t, const std::string&) {};
  struct Case {
    const char* name;
    std::function<void(WebviewCallbacks&)> set;
    json slots11to15;
  } cases[] = {
      {"none", [](WebviewCallbacks&) {}, json({0, 0, 0, 0, 0})},
      {"DecideNavigation",
       [](WebviewCallbacks& c) { c.DecideNavigation = nimbrel::AllowAllNavigation; },
       json({decide, 0, 0, 0, 0})},
      {"Event",
       [](WebviewCallbacks& c) {
         c.Event = [](uint32_t, const std::string&, const std::string&) {};
       },
       json({0, event, 0, 0, 0})},
      {"EventBridge", [&](WebviewCallbacks& c) { c.EventBridge = message; },
       json({0, 0, eventBridge, 0, 0})},
      {"HostBridge", [&](WebviewCallbacks& c) { c.HostBridge = message; },
       json({0, 0, 0, hostBridge, 0})},
      {"VeskBridge only", [&](WebviewCallbacks& c) { c.VeskBridge = message; },
       json({0, 0, 0, hostBridge, 0})},
      {"HostBridge and VeskBridge",
       [&](WebviewCallbacks& c) { c.HostBridge = c.VeskBridge = message; },
       json({0, 0, 0, hostBridge, 0})},
      {"InternalBridge", [&](WebviewCallbacks& c) { c.InternalBridge = message; },
       json({0, 0, 0, 0, internalBridge})},
      {"all but VeskBridge",
       [&](WebviewCallbacks& c) {
         c.DecideNavigation = nimbrel::AllowAllNavigation;
         c.Event = [](uint32_t, const std::string&, const std::string&) {};
         c.EventBridge = c.HostBridge = c.InternalBridge = message;
       },
       json({decide, event, eventBridge, hostBridge, internalBridge})},
  };
  for (const auto& c : cases) {
    WebviewOptions o = NewWebviewOptions(windowId, "https://app/", {0, 0, 10, 10});
    c.set(o.Callbacks);
    ASSERT_NE(mustCreate(o), 0u) << c.name;
    json args = lastArgs("createWebview");
    ASSERT_EQ(args.size(), 22u);
    EXPECT_EQ(slice(args, 10, 15), c.slots11to15) << c.name;
  }
}

// The no-op post callback still claims its slot: the core is handed a bridge
// callback and delivers the page's posts to it, where they end.
TEST_F(WebviewTest, TheNoOpPostCallbackTakesThePostsOfItsSlot) {
  WebviewOptions o = NewWebviewOptions(windowId, "https://app/", {0, 0, 10, 10});
  o.Callbacks.HostBridge = nimbrel::NoopWebviewPostMessage;
  o.Callbacks.InternalBridge = nimbrel::NoopWebviewPostMessage;
  uint32_t id = mustCreate(o);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(slice(lastArgs("createWebview"), 10, 15),
            json({0, 0, 0, addressOf(&nm_webview_host_bridge_cb),
                  addressOf(&nm_webview_internal_bridge_cb)}));
  for (const char* via : {"host-bridge", "internal-bridge"}) {
    json reply = command({{"cmd", "post"}, {"webview", id}, {"message", "m"}, {"via", via}});
    EXPECT_EQ(reply["callbacks"], 1) << via;
  }
  json unclaimed =
      command({{"cmd", "post"}, {"webview", id}, {"message", "m"}, {"via", "event-bridge"}});
  EXPECT_EQ(unclaimed["callbacks"], 0);
}

TEST_F(WebviewTest, PagePostsReachTheRegisteredBridges) {
  std::mutex mu;
  std::vector<std::string> seen;
  auto recorder = [&](const std::string& name) {
    return [&, name](uint32_t id, const std::string& text) {
      std::lock_guard lock(mu);
      seen.push_back(name + " " + std::to_string(id) + " " + text);
    };
  };
  WebviewOptions onlyVesk = NewWebviewOptions(windowId, "https://app/", {0, 0, 10, 10});
  onlyVesk.Callbacks.VeskBridge = recorder("vesk");
  uint32_t veskId = mustCreate(onlyVesk);

  WebviewOptions both = NewWebviewOptions(windowId, "https://app/", {0, 0, 10, 10});
  both.Callbacks.HostBridge = recorder("host");
  both.Callbacks.VeskBridge = recorder("unused vesk");
  both.Callbacks.EventBridge = recorder("event-bridge");
  both.Callbacks.InternalBridge = recorder("internal");
  uint32_t bothId = mustCreate(both);

  command({{"cmd", "post"}, {"webview", veskId}, {"message", "a"}, {"via", "host-bridge"}});
  command({{"cmd", "post"}, {"webview", bothId}, {"message", "b"}, {"via", "host-bridge"}});
  command({{"cmd", "post"}, {"webview", bothId}, {"message", "c"}, {"via", "event-bridge"}});
  command({{"cmd", "post"}, {"webview", bothId}, {"message", "d"}, {"via", "internal-bridge"}});
  std::lock_guard lock(mu);
  EXPECT_EQ(seen, (std::vector<std::string>{"vesk " + std::to_string(veskId) + " a",
                                            "host " + std::to_string(bothId) + " b",
                                            "event-bridge " + std::to_string(bothId) + " c",
                                            "internal " + std::to_string(bothId) + " d"}));
}

TEST_F(WebviewTest, NavigationsAskTheRegisteredDecision) {
  std::mutex mu;
  std::vector<std::string> asked, events;
  WebviewOptions o = NewWebviewOptions(windowId, "https://app/", {0, 0, 10, 10});
  o.Callbacks.DecideNavigation = [&](uint32_t, const std::string& url) -> uint32_t {
    std::lock_guard lock(mu);
    asked.push_back(url);
    return url.find("blocked") == std::string::npos ? 1 : 0;
  };
  o.Callbacks.Event = [&](uint32_t, const std::string& name, const std::string&) {
    std::lock_guard lock(mu);
    events.push_back(name);
  };
  uint32_t id = mustCreate(o);
  EXPECT_EQ(command({{"cmd", "navigate"}, {"webview", id}, {"url", "https://app/next"}})["outcome"],
            "navigated");
  EXPECT_EQ(
      command({{"cmd", "navigate"}, {"webview", id}, {"url", "https://app/blocked"}})["outcome"],
      "refused");
  std::lock_guard lock(mu);
  EXPECT_EQ(asked, (std::vector<std::string>{"https://app/next", "https://app/blocked"}));
  EXPECT_EQ(events, (std::vector<std::string>{"did-navigate", "did-commit-navigation"}));
}

TEST_F(WebviewTest, AFailedCreationIsTheCoresTextAndRegistersNothing) {
  std::atomic<int> reached = 0;
  for (const std::string text : {"renderer gone", ""}) {
    // The id the core would have handed out, and the failure's 0: the
    // callbacks of the failed creation must be under neither.
    const uint32_t next = standin.state()["nextIds"]["webview"].get<uint32_t>();
    standin.failNext("createWebview", text);
    WebviewOptions o = NewWebviewOptions(windowId, "https://app/", {0, 0, 10, 10});
    o.Callbacks.DecideNavigation = [&](uint32_t, const std::string&) {
      ++reached;
      return 0u;
    };
    o.Callbacks.HostBridge = [&](uint32_t, const std::string&) { ++reached; };
    o.Callbacks.Event = [&](uint32_t, const std::string&, const std::string&) { ++reached; };
    auto id = core().CreateWebview(o);
    ASSERT_FALSE(id.ok());
    EXPECT_EQ(id.error().message, text);
    for (uint32_t candidate : {0u, next}) {
      EXPECT_EQ(nimbrelDecideNavigationHandler(candidate, "https://x"), 1u) << candidate;
      nimbrelWebviewHostBridgeHandler(candidate, "m");
      nimbrelWebviewEventHandler(candidate, "did-navigate", "{}");
    }
  }
  EXPECT_EQ(reached, 0);
  // The core's own refusal, for a window it does not know, comes back the same way.
  auto id = core().CreateWebview(NewWebviewOptions(0xFFFFFF00u, "https://app/", {}));
  ASSERT_FALSE(id.ok());
  EXPECT_FALSE(id.error().message.empty());
}

// The six strings are checked in their order; the first with a NUL names the
// failure and nothing reaches the core.
TEST_F(WebviewTest, AStringWithANulIsRefusedByTheFirstLabel) {
  const std::string nul("x\0y", 3);
  using Field = std::string WebviewOptions::*;
  const std::pair<Field, const char*> fields[] = {
      {&WebviewOptions::Renderer, "renderer"},   {&WebviewOptions::URL, "webview url"},
      {&WebviewOptions::Partition, "partition"}, {&WebviewOptions::SecretKey, "secret key"},
      {&WebviewOptions::Preload, "preload"},     {&WebviewOptions::ViewsRoot, "views root"},
  };
  standin.clearCalls();
  for (size_t first = 0; first < std::size(fields); ++first) {
    WebviewOptions o = NewWebviewOptions(windowId, "https://app/", {});
    // This field and every later one hold a NUL.
    for (size_t i = first; i < std::size(fields); ++i) o.*(fields[i].first) = nul;
    auto id = core().CreateWebview(o);
    ASSERT_FALSE(id.ok());
    EXPECT_EQ(id.error().message,
              std::string(fields[first].second) + " contains an interior null byte");
  }
  EXPECT_FALSE(called("setNextWebviewAllowedProtocols"));
  EXPECT_FALSE(called("createWebview"));
}

TEST_F(WebviewTest, ChangingOperationsFollowTheLastErrorText) {
  uint32_t id = mustCreate(NewWebviewOptions(windowId, "https://app/", {0, 0, 10, 10}));
  const nimbrel::Core& c = core();
  const std::string rules = R"(["^https://x/*"])";
  const std::string script = "f(\"<&>\")";
  expectFailsOnLastErrorText({
      {"webviewReload", [&] { return c.ReloadWebview(id); }, {id}},
      {"setWebviewNavigationRules",
       [&] { return c.SetWebviewNavigationRules(id, rules); },
       {id, rules}},
      {"webviewToggleDevTools", [&] { return c.ToggleWebviewDevtools(id); }, {id}},
      {"webviewSetPageZoom", [&] { return c.SetWebviewPageZoom(id, 1.25); }, {id, 1.25}},
      {"evaluateJavaScriptWithNoCompletion",
       [&] { return c.EvaluateJavaScriptWithNoCompletion(id, script); },
       {id, script}},
  });
  json v = webview(id);
  EXPECT_EQ(v["reloads"], 1);
  EXPECT_EQ(v["devToolsToggles"], 1);
  EXPECT_EQ(v["zoom"], 1.25);
  EXPECT_EQ(v["navigationRulesText"], R"(["^https://x/*"])");
  EXPECT_EQ(v["scripts"], json({"f(\"<&>\")"}));
}

TEST_F(WebviewTest, TheZoomIsTheCoresAnswer) {
  uint32_t id = mustCreate(NewWebviewOptions(windowId, "https://app/", {0, 0, 10, 10}));
  EXPECT_EQ(core().GetWebviewPageZoom(id), 1.0);
  ASSERT_TRUE(core().SetWebviewPageZoom(id, 0.8).ok());
  standin.clearCalls();
  EXPECT_EQ(core().GetWebviewPageZoom(id), 0.8);
  EXPECT_EQ(lastArgs("webviewGetPageZoom"), json({id}));
  EXPECT_FALSE(called("nimbrel_core_last_error"));
}

TEST_F(WebviewTest, StringsWithANulAreRefusedBeforeTheCoreIsCalled) {
  uint32_t id = mustCreate(NewWebviewOptions(windowId, "https://app/", {0, 0, 10, 10}));
  const std::string nul("a\0b", 3);
  standin.clearCalls();
  auto rules = core().SetWebviewNavigationRules(id, nul);
  ASSERT_FALSE(rules.ok());
  EXPECT_EQ(rules.error().message, "navigation rules json contains an interior null byte");
  auto script = core().EvaluateJavaScriptWithNoCompletion(id, nul);
  ASSERT_FALSE(script.ok());
  EXPECT_EQ(script.error().message, "javascript contains an interior null byte");
  EXPECT_FALSE(called("setWebviewNavigationRules"));
  EXPECT_FALSE(called("evaluateJavaScriptWithNoCompletion"));
}

TEST_F(WebviewTest, TheHostMessageQueueIsDrainedInOrderAndEveryTextIsGivenBack) {
  uint32_t first = mustCreate(NewWebviewOptions(windowId, "https://app/", {0, 0, 10, 10}));
  uint32_t second = mustCreate(NewWebviewOptions(windowId, "https://app/", {0, 0, 10, 10}));
  EXPECT_EQ(core().PopNextQueuedHostMessageString(), std::nullopt);

  command({{"cmd", "post"}, {"webview", first}, {"message", "{\"id\":1}"}, {"via", "queue"}});
  command({{"cmd", "post"}, {"webview", second}, {"message", ""}, {"via", "queue"}});
  command({{"cmd", "post"}, {"webview", first}, {"message", "héllo"}, {"via", "queue"}});
  // An empty text is a message, not an empty queue.
  EXPECT_EQ(core().PopNextQueuedHostMessageString(), (HostMessage{first, "{\"id\":1}"}));
  EXPECT_EQ(core().PopNextQueuedHostMessageString(), (HostMessage{second, ""}));
  EXPECT_EQ(core().PopNextQueuedHostMessageString(), (HostMessage{first, "héllo"}));
  EXPECT_EQ(core().PopNextQueuedHostMessageString(), std::nullopt);
  EXPECT_EQ(standin.state()["hostQueue"], json({{"pending", 0}, {"unfreed", 0}}));
  EXPECT_EQ(standin.callsOf("freeCoreString").size(), 3u);
}

class RuntimeTest : public testing_support::CoreTest {
 protected:
  nimbrel::BundlePaths withResources(const TempDir& dir) const {
    // The executable's directory is not used: the scripts come from Resources.
    return {"/nonexistent", dir.path()};
  }
};

TEST_F(RuntimeTest, TheTwoPreloadScriptsGoToTheCore) {
  TempDir resources;
  resources.write("preload-full.js", "window.full = '__BK_DESKTOP_CONFIG__';\n");
  resources.write("preload-sandboxed.js", "");
  ASSERT_TRUE(core().ConfigureWebviewRuntimeFromExecutableDir(withResources(resources), 0).ok());
  EXPECT_EQ(lastArgs("configureWebviewRuntime"),
            json({0, "window.full = '__BK_DESKTOP_CONFIG__';\n", ""}));
}

TEST_F(RuntimeTest, FailuresComeBackUnchanged) {
  struct Case {
    const char* name;
    std::optional<std::string> full, sandboxed;
    const char* coreError;  // injected when non-null
    std::string expected;   // the error; a file name stands for the read error of that file
  } cases[] = {
      {"no full script", std::nullopt, "s", nullptr, "preload-full.js"},
      {"no sandboxed script", "f", std::nullopt, nullptr, "preload-sandboxed.js"},
      {"NUL in full", std::string("a\0b", 3), std::string("c\0d", 3), nullptr,
       "preload-full.js contains an interior null byte"},
      {"NUL in sandboxed", "f", std::string("c\0d", 3), nullptr,
       "preload-sandboxed.js contains an interior null byte"},
      {"core refuses", "f", "s", "runtime busy", "runtime busy"},
  };
  for (const auto& c : cases) {
    TempDir resources;
    if (c.full) resources.write("preload-full.js", *c.full);
    if (c.sandboxed) resources.write("preload-sandboxed.js", *c.sandboxed);
    standin.clearCalls();
    if (c.coreError) standin.failNext("configureWebviewRuntime", c.coreError);
    auto status = core().ConfigureWebviewRuntimeFromExecutableDir(withResources(resources), 0);
    ASSERT_FALSE(status.ok()) << c.name;
    std::string expected = c.expected;
    if (expected.ends_with(".js")) {
      expected = support::readFile(resources.path() + "/" + expected).error().message;
      EXPECT_EQ(expected.rfind("open ", 0), 0u) << expected;
    }
    EXPECT_EQ(status.error().message, expected) << c.name;
    EXPECT_EQ(called("configureWebviewRuntime"), c.coreError != nullptr) << c.name;
  }
  // false with an empty text is still a failure.
  TempDir resources;
  resources.write("preload-full.js", "f");
  resources.write("preload-sandboxed.js", "s");
  standin.failNext("configureWebviewRuntime", "");
  auto status = core().ConfigureWebviewRuntimeFromExecutableDir(withResources(resources), 7);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().message, "");
  EXPECT_EQ(lastArgs("configureWebviewRuntime"), json({7, "f", "s"}));
}

}  // namespace
