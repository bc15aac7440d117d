// Links as the user follows them: given at start they choose the first page;
// opened while the application runs they reach the open page as "bk:open" or,
// for the sign-in callback, "bk:auth"; opened before the main window exists
// they are replayed after it, in order.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/process/app_session.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::AppProcess;
using testing_support::AppSession;
using testing_support::Exit;
using testing_support::Received;

const std::string kOrigin = "http://127.0.0.1:5180";

bool isLinkEvent(const Received& r) {
  return r.isEvent("bk:open") || r.isEvent("bk:auth");
}

std::vector<json> linkEvents(AppSession& app, size_t since = 0) {
  std::vector<json> out;
  std::vector<Received> all = app.received();
  for (size_t i = since; i < all.size(); ++i) {
    if (isLinkEvent(all[i])) out.push_back(all[i].value);
  }
  return out;
}

json event(const std::string& name, const std::string& payload) {
  return {{"event", name}, {"payload", payload}};
}

TEST(Links, ALinkGivenAtStartChoosesTheFirstPage) {
  struct Case {
    std::vector<std::string> args;
    std::string page;  // what the main window opens on
  };
  const std::vector<Case> cases = {
      {{"brovik-work://inbox/42?tab=files#top"}, kOrigin + "/inbox/42?tab=files#top"},
      {{"--autostart", "BROVIK-WORK:settings"}, kOrigin + "/settings"},
      {{"brovik-work://inbox", "work.brovik.dira://callback?code=1&state=2"},
       kOrigin + "/callback?code=1&state=2"},
      {{"work.brovik.dira://elsewhere"}, kOrigin},
      {{"/a/file", "--flag"}, kOrigin},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(json(c.args).dump());
    AppSession app;
    app.args() = c.args;
    ASSERT_TRUE(app.start());
    EXPECT_EQ(app.webviewRecord(app.webview())["url"], c.page);
    EXPECT_EQ(app.windowRecord(app.window())["visible"], true);
    // The start arguments chose the page; they are not replayed as events.
    app.roundTrip();
    EXPECT_TRUE(linkEvents(app).empty());
  }
}

TEST(Links, LinksOpenedWhileRunningReachTheOpenPage) {
  AppSession app;
  ASSERT_TRUE(app.start());

  // The window is hidden first, so that following a link visibly shows it.
  size_t mark = app.receivedCount();
  app.clickClose(app.window());
  ASSERT_TRUE(app.waitFor(
      [](const Received& r) { return r.isEvent("bk:window") && !r.payload()["focused"]; }, mark));

  ASSERT_TRUE(app.openUrl("brovik-work:///settings?tab=1"));
  auto opened = app.waitFor(isLinkEvent, mark);
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->value, event("bk:open", "/settings?tab=1"));
  EXPECT_EQ(app.windowRecord(app.window())["visible"], true);

  mark = app.receivedCount();
  const std::string callback = "work.brovik.dira://callback?code=a1B2&state=xy%2Fz";
  ASSERT_TRUE(app.openUrl(callback));
  auto auth = app.waitFor(isLinkEvent, mark);
  ASSERT_TRUE(auth);
  EXPECT_EQ(auth->value, event("bk:auth", callback));
  // As every text the shell writes into a page, with "&" escaped.
  EXPECT_EQ(
      auth->text,
      R"({"event":"bk:auth","payload":"work.brovik.dira://callback?code=a1B2\u0026state=xy%2Fz"})");
}

// The sign-in callback wins over a deep link before it in one launch's
// arguments, and reaches the page exactly as it was given.
TEST(Links, ACallbackInAHandedOffListWinsOverADeepLink) {
  AppSession app;
  ASSERT_TRUE(app.start());
  size_t mark = app.receivedCount();

  const std::string callback = "WORK.BROVIK.DIRA://callback?code=Zz9";
  AppProcess second(testing_support::builtExecutable());
  second.env()["HOME"] = app.process().env()["HOME"];
  second.env()["TMPDIR"] = app.process().env()["TMPDIR"];
  second.args() = {"brovik-work://inbox/7", callback};
  Exit exit = second.run();
  ASSERT_EQ(exit.status, 0) << exit.err;

  auto auth = app.waitFor(isLinkEvent, mark);
  ASSERT_TRUE(auth);
  EXPECT_EQ(auth->value, event("bk:auth", callback));
  app.roundTrip();
  EXPECT_EQ(linkEvents(app, mark).size(), 1u) << "no bk:open besides";
}

// The main window's creation is held inside the core while links arrive, so
// they certainly come before the shell is ready.
TEST(Links, LinksBeforeTheMainWindowAreReplayedAfterItInOrder) {
  AppSession app;
  app.atLoad({{"cmd", "pause"}, {"fn", "createWindow"}});
  ASSERT_TRUE(app.launch());
  app.command({{"cmd", "wait-paused"}, {"fn", "createWindow"}});

  const std::vector<std::string> links = {
      "brovik-work://inbox/1", "work.brovik.dira://callback?code=9", "brovik-work://inbox/2"};
  for (const std::string& link : links) {
    ASSERT_TRUE(app.openUrl(link));
    // Each opened URL reaches the shell on a task of its own; the gap lets
    // one arrive before the next is opened, so that their order is defined.
    std::this_thread::sleep_for(200ms);
  }
  app.command({{"cmd", "resume"}, {"fn", "createWindow"}});
  ASSERT_TRUE(app.waitForMainWindow());

  const std::vector<json> expected = {event("bk:open", "/inbox/1"),
                                      event("bk:auth", "work.brovik.dira://callback?code=9"),
                                      event("bk:open", "/inbox/2")};
  ASSERT_TRUE(app.waitFor([&](const Received& r) { return r.value == expected.back(); }));
  EXPECT_EQ(linkEvents(app), expected);
  // The main window opened on the start page: the links came too late to
  // choose it.
  EXPECT_EQ(app.webviewRecord(app.webview())["url"], kOrigin);
}

}  // namespace
