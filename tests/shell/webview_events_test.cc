// What web views report and what the shell makes of it: the current page,
// refused navigations and new-window requests, downloads, and the external
// origins that become navigation rules.
#include "shell/webview_events.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "shell/bridge.h"
#include "tests/shell/shell_fixture.h"

namespace {

using nlohmann::json;
using testing_support::kTestOrigin;
using testing_support::kTestToken;

const std::string kApp = kTestOrigin;

TEST(EventURL, TakesPlainTextOrTheObjectsURL) {
  struct Case {
    std::string detail;
    std::string url;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"https://example.com/a?b#c", "https://example.com/a?b#c"},
      {"not a url at all", "not a url at all"},
      {R"({"url":"https://example.com/x"})", "https://example.com/x"},
      {R"({"URL":"https://example.com/y","other":[1]})", "https://example.com/y"},
      {R"({"Url":"https://a.example/","url":"https://b.example/"})", "https://b.example/"},
      {R"({"url":5})", ""},
      {R"({"href":"https://example.com/"})", ""},
      {"{not json", ""},
      {R"({"url":"https://example.com/"} trailing)", ""},
      // Only a leading brace marks an object.
      {R"( {"url":"https://example.com/"})", R"( {"url":"https://example.com/"})"},
      {R"(["https://example.com/"])", R"(["https://example.com/"])"},
      {R"("https://example.com/")", R"("https://example.com/")"},
  };
  for (const Case& c : cases) EXPECT_EQ(shell::eventURL(c.detail), c.url) << c.detail;
}

TEST(BaseName, IsThePartAfterTheLastSeparatorOfEitherKind) {
  struct Case {
    std::string path;
    std::string name;
  };
  const std::vector<Case> cases = {
      {"/Users/a/Downloads/report.pdf", "report.pdf"},
      {"C:\\Users\\a\\Downloads\\report.pdf", "report.pdf"},
      {"/Users/a/odd\\name.txt", "name.txt"},
      {"C:\\dir/inner.txt", "inner.txt"},
      {"report.pdf", "report.pdf"},
      {"/Users/a/Downloads/", ""},
      {"C:\\Downloads\\", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(shell::baseName(c.path), c.name) << c.path;
}

TEST(Details, DecodeByTheCodecsRules) {
  auto refused = shell::decodeNavigationDetail(R"({"URL":"https://x.example/","other":1})");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->url, "https://x.example/");
  EXPECT_FALSE(refused->allowed) << "a missing verdict counts as refused";
  EXPECT_FALSE(shell::decodeNavigationDetail("https://x.example/"));
  EXPECT_FALSE(shell::decodeNavigationDetail(R"("https://x.example/")"));
  EXPECT_FALSE(shell::decodeNavigationDetail(R"({"url":"https://x.example/","allowed":"no"})"));

  // A download detail keeps whatever decoded before a fault.
  shell::downloadDetail partial =
      shell::decodeDownloadDetail(R"({"filename":"a.txt","destinationPath":5})");
  EXPECT_EQ(partial.filename, "a.txt");
  EXPECT_EQ(partial.destinationPath, "");
  EXPECT_EQ(shell::downloadName(partial), "a.txt");
  EXPECT_EQ(shell::downloadName(shell::decodeDownloadDetail("not json")), "");
  EXPECT_EQ(shell::downloadName({"a.txt", "/tmp/b.txt"}), "b.txt");
}

class WebviewEventsTest : public testing_support::ShellTest {
 protected:
  shell::windowPtr open(const std::string& url = kApp, bool isMain = true) {
    auto opened = s->openWindow(url, true, isMain);
    EXPECT_TRUE(opened.ok()) << opened.error().message;
    return opened.ok() ? *opened : nullptr;
  }

  // The JSON values handed to the page, in order.
  std::vector<json> allDelivered(const shell::windowPtr& w) const {
    std::vector<json> out;
    const std::string prefix = shell::deliveryScript("");
    json scripts = command({{"cmd", "scripts"}, {"webview", w->view.load()}})["scripts"];
    for (const auto& script : scripts) {
      std::string text = script.get<std::string>();
      EXPECT_TRUE(text.starts_with(prefix.substr(0, prefix.size() - 1))) << text;
      out.push_back(json::parse(text.substr(prefix.size() - 1, text.size() - prefix.size())));
    }
    return out;
  }

  // What the page heard apart from the window's own state changes.
  std::vector<json> delivered(const shell::windowPtr& w) const {
    std::vector<json> out;
    for (json& v : allDelivered(w)) {
      if (v.value("event", "") != "bk:window") out.push_back(std::move(v));
    }
    return out;
  }

  std::vector<std::string> openedExternally() const {
    std::vector<std::string> out;
    for (const auto& call : callsOf("openExternal")) out.push_back(call[0]);
    return out;
  }

  json webview(const shell::windowPtr& w) const {
    const json all = state();
    for (const auto& v : all["webviews"]) {
      if (v["id"] == w->view.load()) return v;
    }
    return nullptr;
  }

  json rulesOf(const shell::windowPtr& w) const { return webview(w)["navigationRulesText"]; }

  size_t windowCount() {
    std::lock_guard lock(s->mu);
    return s->windows.size();
  }

  std::string requestText(int64_t id) const {
    return json({{"bk", kTestToken}, {"id", id}, {"cmd", "notification_permission"}}).dump();
  }

  // A window on `url` made straight through the core: its callbacks do not
  // hold the shell, so a request's task has ended once the test's reference
  // to the shell is the only one left.
  shell::windowPtr openBare(const std::string& url) {
    auto id = s->core->CreateWindow(nimbrel::NewWindowOptions("Brovik Dira", {0, 0, 800, 600}));
    EXPECT_TRUE(id.ok());
    if (!id) return nullptr;
    auto view = s->core->CreateWebview(nimbrel::NewWebviewOptions(*id, url, {0, 0, 800, 600}));
    EXPECT_TRUE(view.ok());
    if (!view) return nullptr;
    auto window = std::make_shared<shell::appWindow>(false, url, true);
    window->id = *id;
    window->view = *view;
    std::lock_guard lock(s->mu);
    s->windows[*id] = window;
    return window;
  }
};

TEST_F(WebviewEventsTest, NavigationsKeepTheCurrentPageAndForgetDeliveredIds) {
  struct Case {
    std::string event;
    std::string detail;
    std::string url;  // the window's address afterwards
    bool forgets;     // a delivered id counts as new again
  };
  const std::string start = kApp + "/start";
  const std::vector<Case> cases = {
      {"did-navigate", kApp + "/plain", kApp + "/plain", true},
      {"did-commit-navigation", json({{"url", kApp + "/object"}}).dump(), kApp + "/object", true},
      {"did-navigate", "{not json", start, true},
      {"did-navigate", R"({"url":5})", start, true},
      {"did-navigate", "", start, true},
      {"did-navigate", "https://elsewhere.example/", "https://elsewhere.example/", true},
      {"Did-Navigate", kApp + "/case", start, false},
      {"navigate", kApp + "/other", start, false},
      {"download-started", "{}", start, false},
  };
  for (const Case& c : cases) {
    auto w = std::make_shared<shell::appWindow>(true, start, true);
    ASSERT_TRUE(w->firstDelivery(7));
    s->onWebviewEvent(w, c.event, c.detail);
    EXPECT_EQ(w->currentURL(), c.url) << c.event << " " << c.detail;
    EXPECT_EQ(w->firstDelivery(7), c.forgets) << c.event << " " << c.detail;
  }
}

// The old page waited for a copy of its request 7 by the other road; the new
// page's own request 7 by that road is a request of its own.
TEST_F(WebviewEventsTest, ANavigationLetsGoOfTheCopiesTheOldPageAwaited) {
  for (const char* event : {"did-navigate", "did-commit-navigation"}) {
    auto w = std::make_shared<shell::appWindow>(true, kApp + "/start", true);
    ASSERT_TRUE(w->firstDelivery(7, shell::route::hostBridge));
    s->onWebviewEvent(w, event, kApp + "/next");
    EXPECT_TRUE(w->firstDelivery(7, shell::route::queue)) << event;
    EXPECT_FALSE(w->firstDelivery(7, shell::route::hostBridge)) << event << ": its copy";
  }
}

TEST_F(WebviewEventsTest, RefusedAndNewWindowAddressesReachTheSystemUnchanged) {
  struct Case {
    std::string event;
    std::string detail;
    std::optional<std::string> opened;  // what reaches the system
  };
  const std::vector<Case> cases = {
      {"will-navigate", R"({"url":"https://ext.example/a","allowed":false})",
       "https://ext.example/a"},
      {"will-navigate", R"({"url":"https://ext.example/b","allowed":true})", std::nullopt},
      {"will-navigate", R"({"url":"https://ext.example/c"})", "https://ext.example/c"},
      {"will-navigate", R"({"URL":"HTTP://Ext.Example/D","Allowed":false})",
       "HTTP://Ext.Example/D"},
      {"will-navigate", R"({"url":"mailto:someone@example.com","allowed":false})", std::nullopt},
      {"will-navigate", R"({"url":"https://ext.example/e","allowed":"false"})", std::nullopt},
      {"will-navigate", "https://ext.example/plain", std::nullopt},
      {"will-navigate", "{broken", std::nullopt},
      // Only the origin's emptiness is asked: the app's own is opened too.
      {"will-navigate", json({{"url", kApp + "/refused"}, {"allowed", false}}).dump(),
       kApp + "/refused"},
      {"new-window-open", "HTTPS://EXAMPLE.COM/Path?Q=1", "HTTPS://EXAMPLE.COM/Path?Q=1"},
      {"new-window-open", R"({"url":"mailto:someone@example.com"})", "mailto:someone@example.com"},
      {"new-window-open", "TEL:+4912345", "TEL:+4912345"},
      {"new-window-open", "file:///etc/passwd", std::nullopt},
      {"new-window-open", "{broken", std::nullopt},
  };
  auto w = open();
  ASSERT_TRUE(w);
  int marker = 0;
  for (const Case& c : cases) {
    standin.clearCalls();
    s->onWebviewEvent(w, c.event, c.detail);
    // Both run on background tasks of their own, in no fixed order: the
    // marker's address shows that a case which opens nothing had its turn.
    const std::string seen = "https://marker.example/" + std::to_string(++marker);
    s->onWebviewEvent(w, "new-window-open", seen);
    std::vector<std::string> expected = {seen};
    if (c.opened) expected.push_back(*c.opened);
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> opened;
    ASSERT_TRUE(eventually([&] {
      opened = openedExternally();
      std::sort(opened.begin(), opened.end());
      return std::includes(opened.begin(), opened.end(), expected.begin(), expected.end());
    })) << c.detail;
    EXPECT_EQ(opened, expected) << c.event << " " << c.detail;
  }
}

TEST_F(WebviewEventsTest, OpeningAnAddressGoesToAWindowTheSystemOrNowhere) {
  struct Case {
    std::string url;
    bool external;
  };
  const std::vector<Case> cases = {
      {"https://example.com/", true},
      {"HtTp://example.com/", true},
      {"mailto:a@example.com", true},
      {"tel:123", true},
      {"file:///etc/passwd", false},
      {"javascript:alert(1)", false},
      {"ftp://example.com/", false},
      {"brovik-work://inbox", false},
      {"", false},
      {"https:", true},
  };
  for (const Case& c : cases) {
    standin.clearCalls();
    s->openURL(c.url);
    EXPECT_EQ(openedExternally(),
              c.external ? std::vector<std::string>{c.url} : std::vector<std::string>{})
        << c.url;
    EXPECT_TRUE(callsOf("createWindow").empty()) << c.url;
  }
}

TEST_F(WebviewEventsTest, AnAppAddressOpensASecondaryWindow) {
  auto w = open();
  ASSERT_TRUE(w);
  s->onWebviewEvent(w, "new-window-open", json({{"url", kApp + "/thread/7"}}).dump());
  ASSERT_TRUE(eventually([&] { return windowCount() == 2; }));
  sync();
  EXPECT_TRUE(openedExternally().empty());
  json created = callsOf("createWindow").back();
  EXPECT_EQ(created[9], true) << "shown";
  EXPECT_EQ(callsOf("createWebview").back()[3], kApp + "/thread/7");
  std::lock_guard lock(s->mu);
  for (const auto& [id, window] : s->windows) {
    if (window != w) {
      EXPECT_FALSE(window->main);
    }
  }
}

TEST_F(WebviewEventsTest, FinishedDownloadsAreNumberedAndAnnounced) {
  auto w = open();
  ASSERT_TRUE(w);
  s->downloaded(w, R"({"filename":"report.pdf","destinationPath":"/Users/a/Downloads/report.pdf"})",
                true);
  s->downloaded(w, R"({"filename":"x","destinationPath":"C:\\Users\\a\\Downloads\\photo 1.png"})",
                true);
  s->downloaded(w, R"({"filename":"big.iso","destinationPath":"/Users/a/Downloads/big.iso"})",
                false);
  s->downloaded(w, R"({"filename":"inline.txt"})", true);
  s->downloaded(w, R"({"destinationPath":"/Users/a/Downloads/"})", true);
  s->downloaded(w, "not json", true);
  s->downloaded(w, R"("a bare string")", false);

  const std::vector<json> expected = {
      {{"id", 0}, {"name", "report.pdf"}, {"success", true}},
      {{"id", 1}, {"name", "photo 1.png"}, {"success", true}},
      {{"name", "big.iso"}, {"success", false}},
      {{"name", "inline.txt"}, {"success", true}},
      {{"id", 2}, {"name", ""}, {"success", true}},
      {{"name", ""}, {"success", true}},
      {{"name", ""}, {"success", false}},
  };
  std::vector<json> sent = delivered(w);
  ASSERT_EQ(sent.size(), expected.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i], json({{"event", "bk:download"}, {"payload", expected[i]}})) << i;
  }
  // The exact text, keys sorted.
  std::optional<std::string> first;
  json scripts = command({{"cmd", "scripts"}, {"webview", w->view.load()}})["scripts"];
  for (const auto& script : scripts) {
    std::string text = script.get<std::string>();
    if (!first && text.find("bk:download") != std::string::npos) first = text;
  }
  EXPECT_EQ(first, shell::deliveryScript(R"({"event":"bk:download","payload":{"id":0,)"
                                         R"("name":"report.pdf","success":true}})"));
  std::lock_guard lock(s->mu);
  EXPECT_EQ(s->downloads, std::vector<std::string>({"/Users/a/Downloads/report.pdf",
                                                    "C:\\Users\\a\\Downloads\\photo 1.png",
                                                    "/Users/a/Downloads/"}));
}

TEST_F(WebviewEventsTest, DownloadEventsAreHandledInTheBackgroundAndCanBeRevealed) {
  auto w = open();
  ASSERT_TRUE(w);
  s->onWebviewEvent(w, "download-completed",
                    R"({"filename":"a.pdf","destinationPath":"/tmp/dl/a.pdf"})");
  ASSERT_TRUE(eventually([&] { return delivered(w).size() == 1; }));
  s->onWebviewEvent(w, "download-failed", R"({"filename":"b.pdf","destinationPath":"/tmp/b.pdf"})");
  ASSERT_TRUE(eventually([&] { return delivered(w).size() == 2; }));
  EXPECT_EQ(delivered(w)[0]["payload"], json({{"id", 0}, {"name", "a.pdf"}, {"success", true}}));
  EXPECT_EQ(delivered(w)[1]["payload"], json({{"name", "b.pdf"}, {"success", false}}));

  auto shown = s->command(w, "show_download", R"({"id":0})");
  ASSERT_TRUE(shown.ok()) << shown.error().message;
  EXPECT_EQ(callsOf("showItemInFolder"), json({{"/tmp/dl/a.pdf"}}));
  auto failed = s->command(w, "show_download", R"({"id":1})");
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().message, "unknown download");
}

TEST_F(WebviewEventsTest, ExternalOriginsBecomeRulesOfEveryWindow) {
  auto main = open();
  auto second = open(kApp + "/second", false);
  ASSERT_TRUE(main && second);
  s->setExternalOrigins({
      "https://Docs.Example.com/guide?x=1",
      kApp + "/own",
      "",
      "mailto:someone@example.com",
      "not a url",
      "http://files.example:8080",
      "https://docs.example.com/other",
  });
  const std::string rules = R"(["^https://docs.example.com/*","^http://files.example:8080/*",)"
                            R"("^https://docs.example.com/*"])";
  EXPECT_EQ(rulesOf(main), rules);
  EXPECT_EQ(rulesOf(second), rules);
  {
    std::lock_guard lock(s->mu);
    EXPECT_EQ(s->external,
              std::vector<std::string>({"https://docs.example.com", "http://files.example:8080",
                                        "https://docs.example.com"}));
  }

  // None declared: every window gets the empty list, never null.
  s->setExternalOrigins({});
  EXPECT_EQ(rulesOf(main), "[]");
  EXPECT_EQ(rulesOf(second), "[]");
  s->setExternalOrigins({kApp, "ftp://x.example/"});
  EXPECT_EQ(rulesOf(main), "[]");

  // A host with the rules' wildcard in it would make a rule of its own:
  // "http://*" would send the application's pages to the browser.
  s->setExternalOrigins({"http://*", "https://*.example.com/x", "http://docs*.example:81",
                         "https://docs.example.com"});
  EXPECT_EQ(rulesOf(main), R"(["^https://docs.example.com/*"])");
}

TEST_F(WebviewEventsTest, DeclaredOriginsReachThePopupAndWindowsOpenedLater) {
  auto main = open();
  ASSERT_TRUE(main);
  auto popup = s->openMini();
  ASSERT_TRUE(popup.ok()) << popup.error().message;
  EXPECT_EQ(rulesOf(main), "[]") << "a window opened before any declaration";

  auto declared =
      s->command(main, "set_external_origins",
                 R"({"origins":["https://docs.example.com/a","https://docs.example.com/b"]})");
  ASSERT_TRUE(declared.ok()) << declared.error().message;
  const std::string rules = R"(["^https://docs.example.com/*","^https://docs.example.com/*"])";
  EXPECT_EQ(rulesOf(main), rules);
  EXPECT_EQ(rulesOf(*popup), rules);

  auto later = open(kApp + "/later", false);
  ASSERT_TRUE(later);
  EXPECT_EQ(rulesOf(later), rules);
}

// A window being opened reads the declared list and applies it; a
// declaration that comes in between, and so may not have reached the window,
// is applied to it before the opening ends.
TEST_F(WebviewEventsTest, AnOpeningWindowCatchesUpWithADeclarationMadeMeanwhile) {
  shell::windowPtr w = openBare(kApp + "/new");
  ASSERT_TRUE(w);
  {
    std::lock_guard lock(s->mu);
    s->windows.clear();  // out of the declaration's reach
  }
  command({{"cmd", "pause"}, {"fn", "setWebviewNavigationRules"}});
  std::thread opening([&] { s->applyExternalOrigins(w); });
  command({{"cmd", "wait-paused"}, {"fn", "setWebviewNavigationRules"}});
  EXPECT_EQ(rulesOf(w), "[]");
  s->setExternalOrigins({"https://docs.example.com/"});
  command({{"cmd", "resume"}, {"fn", "setWebviewNavigationRules"}});
  opening.join();
  EXPECT_EQ(rulesOf(w), R"(["^https://docs.example.com/*"])");
}

TEST_F(WebviewEventsTest, ARuleTurnsANavigationIntoAnExternalOpen) {
  auto w = open();
  ASSERT_TRUE(w);
  s->setExternalOrigins({"https://docs.example.com"});
  // The core does not carry out a navigation that a rule matches and
  // reports it refused; the shell hands it to the system.
  s->onWebviewEvent(w, "will-navigate",
                    R"({"url":"https://docs.example.com/guide","allowed":false})");
  ASSERT_TRUE(eventually([&] { return !openedExternally().empty(); }));
  EXPECT_EQ(openedExternally(), std::vector<std::string>({"https://docs.example.com/guide"}));
}

TEST_F(WebviewEventsTest, AnEarlierDeclarationFinishingLateDoesNotWin) {
  auto first = open(kApp + "/1");
  auto second = open(kApp + "/2", false);
  ASSERT_TRUE(first && second);
  // The earlier declaration stops in the core at its first window; the later
  // one runs through meanwhile; then the earlier one goes on.
  command({{"cmd", "pause"}, {"fn", "setWebviewNavigationRules"}});
  std::thread earlier([this] { s->setExternalOrigins({"https://earlier.example/"}); });
  command({{"cmd", "wait-paused"}, {"fn", "setWebviewNavigationRules"}});
  s->setExternalOrigins({"https://later.example/"});
  command({{"cmd", "resume"}, {"fn", "setWebviewNavigationRules"}});
  earlier.join();

  const std::string rules = R"(["^https://later.example/*"])";
  EXPECT_EQ(rulesOf(first), rules);
  EXPECT_EQ(rulesOf(second), rules);
  std::lock_guard lock(s->mu);
  EXPECT_EQ(s->external, std::vector<std::string>({"https://later.example"}));
}

TEST_F(WebviewEventsTest, ARequestIdIsNewAgainOnEachPageOfTheOrigin) {
  auto w = open(kApp + "/inbox");
  ASSERT_TRUE(w);
  auto replies = [&] {
    size_t n = 0;
    for (const json& v : delivered(w)) n += v.contains("id") ? 1 : 0;
    return n;
  };
  s->onHostMessage(w, requestText(1));
  ASSERT_TRUE(eventually([&] { return replies() == 1; }));
  EXPECT_EQ(delivered(w).back(), json({{"id", 1}, {"ok", true}, {"result", "granted"}}));

  // The same id on the same page is a copy and is dropped.
  s->onHostMessage(w, requestText(1));
  // A navigation within the origin starts a page whose ids are all new.
  s->onWebviewEvent(w, "did-navigate", kApp + "/thread/9");
  s->onHostMessage(w, requestText(1));
  ASSERT_TRUE(eventually([&] { return replies() == 2; }));
  sync();
  EXPECT_EQ(replies(), 2u);
}

// The page leaves the origin while its request runs: the reply is not
// handed to the foreign page.
TEST_F(WebviewEventsTest, AReplyIsDroppedWhenThePageLeftTheOriginMeanwhile) {
  shell::windowPtr w = openBare(kApp + "/inbox");
  ASSERT_TRUE(w);
  const std::string zoomIn =
      json({{"bk", kTestToken}, {"id", 3}, {"cmd", "zoom"}, {"args", {{"step", "in"}}}}).dump();
  auto finished = [&] { return eventually([&] { return s.use_count() == 1; }); };

  // On the origin throughout, the reply arrives: the check below can see one.
  s->onHostMessage(w, zoomIn);
  ASSERT_TRUE(finished());
  ASSERT_EQ(delivered(w), std::vector<json>({{{"id", 3}, {"ok", true}, {"result", nullptr}}}));

  command({{"cmd", "pause"}, {"fn", "webviewSetPageZoom"}});
  s->onWebviewEvent(w, "did-navigate", kApp + "/thread/1");
  s->onHostMessage(w, zoomIn);
  command({{"cmd", "wait-paused"}, {"fn", "webviewSetPageZoom"}});
  s->onWebviewEvent(w, "did-navigate", "https://elsewhere.example/");
  command({{"cmd", "resume"}, {"fn", "webviewSetPageZoom"}});
  ASSERT_TRUE(finished());
  EXPECT_EQ(s->core->GetWebviewPageZoom(w->view), 1.25) << "the command itself ran";
  EXPECT_EQ(delivered(w).size(), 1u);
}

TEST_F(WebviewEventsTest, APageOffTheOriginHearsNothing) {
  auto w = open(kApp + "/inbox");
  ASSERT_TRUE(w);
  s->onWebviewEvent(w, "did-navigate", json({{"url", "https://elsewhere.example/"}}).dump());
  EXPECT_EQ(w->currentURL(), "https://elsewhere.example/");
  // Neither a request's reply nor an event reaches a foreign page.
  s->onHostMessage(w, requestText(5));
  s->downloaded(w, R"({"filename":"a.pdf","destinationPath":"/tmp/a.pdf"})", true);
  EXPECT_TRUE(delivered(w).empty());

  // Back on the app's page the id is new and the reply arrives.
  s->onWebviewEvent(w, "did-commit-navigation", kApp + "/inbox");
  s->onHostMessage(w, requestText(5));
  ASSERT_TRUE(eventually([&] { return delivered(w).size() == 1; }));
  EXPECT_EQ(delivered(w)[0]["id"], 5);
}

}  // namespace
