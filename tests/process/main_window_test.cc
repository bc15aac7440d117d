// The main window as the user meets it: opened on the web app at start,
// hidden by its close button, shown again on reopen, started hidden by the
// login item, and the ways the application ends.
#include <signal.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "tests/process/app_session.h"

namespace {

using nlohmann::json;
using testing_support::AppSession;
using testing_support::Exit;
using testing_support::Received;

const json kFocused = {{"focused", true}, {"fullscreen", false}, {"maximized", false}};
const json kUnfocused = {{"focused", false}, {"fullscreen", false}, {"maximized", false}};

bool windowStateIs(const Received& r, const json& state) {
  return r.isEvent("bk:window") && r.payload() == state;
}

TEST(MainWindow, OpensOnTheStartPageShownAndFocused) {
  AppSession app;
  ASSERT_TRUE(app.start());
  json window = app.windowRecord(app.window());
  EXPECT_EQ(window["title"], "Brovik Dira");
  EXPECT_EQ(window["visible"], true);
  EXPECT_EQ(window["active"], true);
  EXPECT_EQ(window["titleBarStyle"], "hiddenInset");
  EXPECT_EQ(window["frame"]["width"], 1280);
  EXPECT_EQ(window["frame"]["height"], 820);

  json view = app.webviewRecord(app.webview());
  EXPECT_EQ(view["url"], "http://127.0.0.1:5180");
  EXPECT_EQ(view["partition"], "persist:brovik-work");

  // The window takes the focus while it opens, before its web view exists,
  // so the page may or may not hear of it; asked, it learns it.
  auto asked = app.call(1, "window_state");
  ASSERT_TRUE(asked);
  EXPECT_EQ(asked->value["result"], kFocused);
}

TEST(MainWindow, TheCloseButtonHidesItAndReopenShowsIt) {
  AppSession app;
  ASSERT_TRUE(app.start());
  size_t mark = app.receivedCount();
  app.clickClose(app.window());
  auto hidden = app.waitFor([](const Received& r) { return windowStateIs(r, kUnfocused); }, mark);
  ASSERT_TRUE(hidden);
  EXPECT_EQ(
      hidden->text,
      R"({"event":"bk:window","payload":{"focused":false,"fullscreen":false,"maximized":false}})");
  json window = app.windowRecord(app.window());
  ASSERT_FALSE(window.is_null()) << "the window stays, hidden";
  EXPECT_EQ(window["visible"], false);
  auto asked = app.call(1, "window_state");
  ASSERT_TRUE(asked);
  EXPECT_EQ(asked->value["result"], kUnfocused);

  mark = app.receivedCount();
  ASSERT_TRUE(app.reopen());
  auto shown = app.waitFor([](const Received& r) { return windowStateIs(r, kFocused); }, mark);
  ASSERT_TRUE(shown);
  window = app.windowRecord(app.window());
  EXPECT_EQ(window["visible"], true);
  EXPECT_EQ(window["active"], true);
  EXPECT_TRUE(app.state()["closedWindows"].empty());
}

TEST(MainWindow, AStartByTheLoginItemOpensItHidden) {
  AppSession app;
  app.args() = {"--autostart"};
  ASSERT_TRUE(app.start());
  json window = app.windowRecord(app.window());
  EXPECT_EQ(window["visible"], false);
  EXPECT_EQ(window["active"], false);
  EXPECT_EQ(app.webviewRecord(app.webview())["url"], "http://127.0.0.1:5180");

  size_t mark = app.receivedCount();
  ASSERT_TRUE(app.reopen());
  ASSERT_TRUE(app.waitFor([](const Received& r) { return windowStateIs(r, kFocused); }, mark));
  EXPECT_EQ(app.windowRecord(app.window())["visible"], true);
}

TEST(MainWindow, EveryQuitRequestEndsTheProcessWithStatusZero) {
  struct Way {
    const char* what;
    std::function<void(AppSession&)> ask;
  };
  const Way ways[] = {
      {"the core's quit request", [](AppSession& app) { EXPECT_TRUE(app.requestQuit()); }},
      {"SIGINT", [](AppSession& app) { app.signal(SIGINT); }},
      {"SIGTERM", [](AppSession& app) { app.signal(SIGTERM); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.what);
    AppSession app;
    ASSERT_TRUE(app.start());
    way.ask(app);
    Exit exit = app.wait();
    EXPECT_EQ(exit.status, 0);
    EXPECT_EQ(exit.signal, 0);
    EXPECT_EQ(exit.err, "");
  }
}

TEST(MainWindow, QuittingWhileTheWindowIsHiddenEndsTheProcessToo) {
  AppSession app;
  ASSERT_TRUE(app.start());
  size_t mark = app.receivedCount();
  app.clickClose(app.window());
  ASSERT_TRUE(app.waitFor([](const Received& r) { return windowStateIs(r, kUnfocused); }, mark));
  EXPECT_TRUE(app.requestQuit());
  Exit exit = app.wait();
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.err, "");
}

}  // namespace
