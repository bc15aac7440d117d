// The call pop-up as the user meets it: while the page says a call is going
// on, the main window going to the background brings up a small window on
// the call page, always on top; the main window coming back puts it away;
// dragging it remembers where it was left; closing the main window takes it
// along.
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/process/app_session.h"
#include "tests/test_support.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::AppSession;
using testing_support::Received;

const std::string kOrigin = "http://127.0.0.1:5180";

// The page's call state as the page writes it, key order and all: the shell
// passes it on as it came.
constexpr const char* kCallState = R"({"peer":{"name":"Ann"},"active":true,"muted":false})";

// The pop-up's place on the stand-in's display (1440 x 900, work area below
// a 25-pixel menu bar): the bottom-right corner, 24 from either edge.
const json kCornerFrame = {{"x", 1076}, {"y", 476}, {"width", 340}, {"height", 400}};

bool isShownEvent(const Received& r, bool shown) {
  return r.isEvent("bk:mini") && r.payload() == json{{"shown", shown}};
}

std::string shownText(bool shown) {
  return std::string(R"({"event":"bk:mini","payload":{"shown":)") + (shown ? "true" : "false") +
         "}}";
}

class CallMini : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(app.start()); }

  // Each run ends by quitting, so that whatever the process reported on its
  // way (a sanitizer's finding included) fails the test.
  void TearDown() override {
    if (app.process().ended()) {
      ADD_FAILURE() << "the application ended early: " << app.wait().err;
      return;
    }
    EXPECT_TRUE(app.requestQuit());
    testing_support::Exit exit = app.wait();
    EXPECT_EQ(exit.status, 0);
    EXPECT_EQ(exit.err, "");
  }

  // The main page tells the shell a call has started, in its own words.
  void startCall() {
    const std::string request = R"({"bk":")" + app.config().token +
                                R"(","id":1,"cmd":"call_mini_state","args":{"state":)" +
                                kCallState + "}}";
    const size_t mark = app.receivedCount();
    app.post(request);
    auto reply = app.waitFor([](const Received& r) { return r.isReply(1); }, mark);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->value, json({{"id", 1}, {"ok", true}, {"result", nullptr}}));
  }

  // The window that is not the main one; 0 while there is none.
  uint32_t popup() {
    const json state = app.state();
    for (const json& w : state["windows"]) {
      const auto id = w["id"].get<uint32_t>();
      if (id != app.window()) return id;
    }
    return 0;
  }

  uint32_t webviewOf(uint32_t window) {
    const json state = app.state();
    for (const json& v : state["webviews"]) {
      if (v["window"].get<uint32_t>() == window) return v["id"].get<uint32_t>();
    }
    return 0;
  }

  // The main window leaves the front and the pop-up comes up.
  void bringUpThePopup() {
    const size_t mark = app.receivedCount();
    app.blur();
    auto shown = app.waitFor([](const Received& r) { return isShownEvent(r, true); }, mark);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->text, shownText(true));
    ASSERT_NE(popup(), 0u);
  }

  size_t countOf(const std::string& event, uint32_t webview = 0) {
    size_t n = 0;
    for (const Received& r : app.received(webview)) n += r.isEvent(event);
    return n;
  }

  AppSession app;
};

TEST_F(CallMini, TheMainWindowGoingBehindBringsItUpAndItsReturnPutsItAway) {
  ASSERT_NO_FATAL_FAILURE(startCall());
  ASSERT_NO_FATAL_FAILURE(bringUpThePopup());

  const uint32_t id = popup();
  const json window = app.windowRecord(id);
  EXPECT_EQ(window["visible"], true);
  EXPECT_EQ(window["alwaysOnTop"], true);
  EXPECT_EQ(window["visibleOnAllWorkspaces"], true);
  EXPECT_EQ(window["titleBarStyle"], "hidden");
  EXPECT_EQ(window["frame"], kCornerFrame);
  EXPECT_EQ(window["active"], false) << "the pop-up does not take the focus";
  const uint32_t view = webviewOf(id);
  ASSERT_NE(view, 0u);
  EXPECT_EQ(app.webviewRecord(view)["url"], kOrigin + "/call-mini");

  // The pop-up's page is handed the call state exactly as the main page gave it.
  auto state = app.waitForEvent("bk:mini-state", 0, view);
  ASSERT_TRUE(state);
  EXPECT_EQ(state->text, std::string(R"({"event":"bk:mini-state","payload":)") + kCallState + "}");
  // And its own page may ask for it again over the bridge.
  app.post(app.request(2, "call_mini_hello"), testing_support::Via::kBoth, view);
  auto hello = app.waitForReply(2, view);
  ASSERT_TRUE(hello);
  EXPECT_NE(hello->text.find(std::string(R"("result":)") + kCallState), std::string::npos)
      << hello->text;

  const size_t mark = app.receivedCount();
  app.focus(app.window());
  auto hidden = app.waitFor([](const Received& r) { return isShownEvent(r, false); }, mark);
  ASSERT_TRUE(hidden);
  EXPECT_EQ(hidden->text, shownText(false));
  const json after = app.windowRecord(id);
  ASSERT_FALSE(after.is_null()) << "hidden, kept for the next time";
  EXPECT_EQ(after["visible"], false);
  EXPECT_EQ(countOf("bk:mini"), 2u);
}

TEST_F(CallMini, ABurstOfBlurHideAndMinimiseGivesOnePopup) {
  ASSERT_NO_FATAL_FAILURE(startCall());
  app.command({{"cmd", "clear-calls"}});
  const size_t mark = app.receivedCount();
  // Blurred, hidden by its close button, and resized while minimised: three
  // reports of the main window leaving, one after the other.
  app.blur();
  app.clickClose(app.window());
  app.minimize(app.window());
  app.resize(app.window(), 1200, 800);
  auto shown = app.waitFor([](const Received& r) { return isShownEvent(r, true); }, mark);
  ASSERT_TRUE(shown);
  // Whatever timer a fault left running has more than its chance to show.
  std::this_thread::sleep_for(700ms);
  app.sync();

  EXPECT_EQ(app.calls("createWindow").size(), 1u);
  ASSERT_NE(popup(), 0u);
  EXPECT_EQ(app.state()["windows"].size(), 2u);
  EXPECT_EQ(countOf("bk:mini"), 1u);
  EXPECT_EQ(countOf("bk:mini-state", webviewOf(popup())), 1u);
}

TEST_F(CallMini, DraggingItWritesWhereItWasLeftOnce) {
  ASSERT_NO_FATAL_FAILURE(startCall());
  ASSERT_NO_FATAL_FAILURE(bringUpThePopup());
  const uint32_t id = popup();
  const std::string file = app.userDataDir() + "/call-mini.json";
  EXPECT_FALSE(std::filesystem::exists(file)) << "nothing is written before a move";

  auto fileText = [&]() -> std::optional<std::string> {
    if (!std::filesystem::is_regular_file(file)) return std::nullopt;
    return testing_support::readAll(file);
  };
  auto frameQueries = [&] {
    size_t n = 0;
    for (const json& call : app.calls("getWindowFrame")) n += call["args"][0].get<uint32_t>() == id;
    return n;
  };

  // Each move restarts the half-second wait before the save; a burst whose
  // moves came further apart than that (a machine under heavy load) proves
  // nothing and is made again somewhere else.
  bool burst = false;
  std::string expected;
  for (int attempt = 0; attempt < 3 && !burst; ++attempt) {
    app.command({{"cmd", "clear-calls"}});
    const double x = 600 + 40 * attempt;
    const auto began = std::chrono::steady_clock::now();
    app.move(id, x, 300);
    app.move(id, x + 20, 320);
    app.move(id, x + 40.5, 350);
    burst = std::chrono::steady_clock::now() - began < 400ms;
    expected = R"({"Height":400,"Width":340,"X":)" + json(x + 40.5).dump() + R"(,"Y":350})";
    ASSERT_TRUE(app.waitUntil([&] { return fileText() == expected; })) << fileText().value_or("");
  }
  ASSERT_TRUE(burst) << "no three moves came within the delay";
  // The frame was asked for once, by the one save, after the last move.
  EXPECT_EQ(frameQueries(), 1u);
  EXPECT_EQ(fileText(), expected);
  EXPECT_EQ(app.windowRecord(id)["frame"]["x"], json::parse(expected)["X"]);
}

TEST_F(CallMini, ClosingTheMainWindowTakesThePopupAlongWithoutAWord) {
  ASSERT_NO_FATAL_FAILURE(startCall());
  ASSERT_NO_FATAL_FAILURE(bringUpThePopup());
  const uint32_t id = popup();
  app.command({{"cmd", "clear-calls"}});

  app.closeWindow(app.window());
  ASSERT_TRUE(app.waitUntil([&] {
    for (const json& call : app.calls("closeWindow")) {
      if (call["args"][0].get<uint32_t>() == id) return true;
    }
    return false;
  }));
  app.sync();
  const json state = app.state();
  EXPECT_TRUE(state["windows"].empty());
  EXPECT_EQ(state["closedWindows"], json::array({app.window(), id}));
  // No page heard of the pop-up's going.
  for (const json& call : app.calls("evaluateJavaScriptWithNoCompletion")) {
    EXPECT_EQ(call["args"][1].get<std::string>().find("bk:mini"), std::string::npos)
        << call["args"][1];
  }
}

}  // namespace
