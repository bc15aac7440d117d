// The menus and the tray of the running application, as its user and its
// page see them: the application menu set at start, the tray item with its
// icon, unread count and menu, picks from both, and a core that lacks the
// tray menu.
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "shell/menu.h"
#include "tests/process/app_session.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing_support::AppSession;
using testing_support::Exit;
using testing_support::Received;
using testing_support::TempBundle;

std::string trayMenu(bool keepChecked, const std::string& open = "Open Brovik Dira") {
  return R"([{"action":"tray:open","enabled":true,"label":")" + open +
         R"("},{"type":"divider"},{"action":"tray:launch","checked":false,"enabled":true,)"
         R"("label":"Open at login","type":"checkbox"},{"action":"tray:keep","checked":)" +
         std::string(keepChecked ? "true" : "false") +
         R"(,"enabled":true,"label":"Keep running when the window is closed","type":"checkbox"},)"
         R"({"type":"divider"},{"action":"tray:quit","enabled":true,"label":"Quit Brovik Dira"}])";
}

class MenusTest : public ::testing::Test {
 protected:
  json tray() { return app.state()["trays"][0]; }
  double zoom() { return app.webviewRecord(app.webview())["zoom"].get<double>(); }
  bool waitForZoom(double wanted) {
    for (int i = 0; i < 10000; ++i) {
      if (zoom() == wanted) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }
  // Quits as the user would and expects a clean end.
  void quitCleanly(const std::string& err = "") {
    ASSERT_TRUE(app.requestQuit());
    Exit exit = app.wait();
    EXPECT_EQ(exit.status, 0);
    EXPECT_EQ(exit.err, err);
  }

  AppSession app;
};

TEST_F(MenusTest, StartSetsTheApplicationMenuAndTheTray) {
  ASSERT_TRUE(app.start());
  json state = app.state();
  EXPECT_EQ(state["applicationMenu"]["text"], shell::appMenu);
  ASSERT_EQ(state["trays"].size(), 1u);
  const json& item = state["trays"][0];
  EXPECT_EQ(item["title"], "");
  EXPECT_EQ(item["image"], BK_BUNDLE_DIR "/Contents/Resources/views/assets/tray.png");
  EXPECT_EQ(item["width"], 18);
  EXPECT_EQ(item["height"], 18);
  EXPECT_EQ(item["menuText"], trayMenu(true));
  quitCleanly();
}

TEST_F(MenusTest, KeepRunningPickedTwiceComesBackAndTellsThePageEachTime) {
  ASSERT_TRUE(app.start());
  const size_t mark = app.receivedCount();
  ASSERT_EQ(app.command({{"cmd", "pick-tray"}, {"action", "tray:keep"}})["delivered"], true);
  auto first = app.waitForEvent("bk:prefs", mark);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->payload(),
            json({{"launchAtLogin", false}, {"closeToTray", false}, {"tray", true}}));
  EXPECT_EQ(tray()["menuText"], trayMenu(false));

  ASSERT_EQ(app.command({{"cmd", "pick-tray"}, {"action", "tray:keep"}})["delivered"], true);
  auto second = app.waitFor(
      [](const Received& r) { return r.isEvent("bk:prefs") && r.payload()["closeToTray"] == true; },
      mark);
  ASSERT_TRUE(second);
  EXPECT_EQ(tray()["menuText"], trayMenu(true));
  int events = 0;
  const std::vector<Received> all = app.received();
  for (size_t i = mark; i < all.size(); ++i) events += all[i].isEvent("bk:prefs") ? 1 : 0;
  EXPECT_EQ(events, 2);
  quitCleanly();
}

TEST_F(MenusTest, QuitFromTheTrayEndsWithStatusZero) {
  ASSERT_TRUE(app.start());
  ASSERT_EQ(app.command({{"cmd", "pick-tray"}, {"action", "tray:quit"}})["delivered"], true);
  Exit exit = app.wait();
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.err, "");
}

TEST_F(MenusTest, ZoomFromTheMenuAndFromThePage) {
  ASSERT_TRUE(app.start());
  app.focus(app.window());
  ASSERT_EQ(app.command({{"cmd", "pick-menu"}, {"action", "zoom:in"}})["delivered"], true);
  ASSERT_TRUE(waitForZoom(1.1));

  struct Case {
    json args;
    double expected;
  } cases[] = {
      {{{"step", "in"}}, 1.25}, {{{"step", "out"}}, 1.1}, {{{"step", "reset"}}, 1.0},
      {{{"step", "in"}}, 1.1},  {nullptr, 1.0},
  };
  int64_t id = 1;
  for (const auto& c : cases) {
    auto reply = app.call(id, "zoom", c.args);
    ASSERT_TRUE(reply) << c.args.dump();
    EXPECT_EQ(reply->text, R"({"id":)" + std::to_string(id) + R"(,"ok":true,"result":null})");
    EXPECT_DOUBLE_EQ(zoom(), c.expected) << c.args.dump();
    ++id;
  }
  quitCleanly();
}

// Started at login, the main window opens hidden and never takes the focus.
TEST_F(MenusTest, ZoomWithoutAFocusedWindowDoesNothing) {
  app.args().push_back("--autostart");
  ASSERT_TRUE(app.start());
  ASSERT_EQ(app.command({{"cmd", "pick-menu"}, {"action", "zoom:in"}})["delivered"], true);
  ASSERT_EQ(app.command({{"cmd", "pick-menu"}, {"action", "view:reload"}})["delivered"], true);
  // A later pick that the page hears of: the two before it have had their
  // turn by then.
  const size_t mark = app.receivedCount();
  ASSERT_EQ(app.command({{"cmd", "pick-tray"}, {"action", "tray:keep"}})["delivered"], true);
  ASSERT_TRUE(app.waitForEvent("bk:prefs", mark));
  EXPECT_EQ(app.calls("webviewGetPageZoom"), json::array());
  EXPECT_EQ(app.calls("webviewSetPageZoom"), json::array());
  EXPECT_EQ(app.calls("webviewReload"), json::array());
  EXPECT_DOUBLE_EQ(zoom(), 1.0);
  quitCleanly();
}

TEST_F(MenusTest, TheUnreadCountIsTheTrayTitleSetOncePerChange) {
  ASSERT_TRUE(app.start());
  int64_t id = 1;
  for (json count : {3, 3, 0, -2, 5, 5}) {
    auto reply = app.call(id++, "set_badge_count", {{"count", count}});
    ASSERT_TRUE(reply);
  }
  json titles = json::array();
  for (const json& call : app.calls("setTrayTitle")) titles.push_back(call["args"][1]);
  EXPECT_EQ(titles, json::array({"3", "", "5"}));
  EXPECT_EQ(tray()["title"], "5");
  quitCleanly();
}

TEST_F(MenusTest, ThePageRelabelsTheTrayMenu) {
  ASSERT_TRUE(app.start());
  auto reply = app.call(1, "set_tray_labels", {{"labels", {{"open", "Show <app>"}}}});
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->text, R"({"id":1,"ok":true,"result":null})");
  EXPECT_EQ(tray()["menuText"], trayMenu(true, R"(Show \u003capp\u003e)"));

  const size_t rebuilt = app.calls("setTrayMenu").size();
  int64_t id = 2;
  for (json labels : {json({{"quit", 5}}), json("not an object")}) {
    auto refused = app.call(id, "set_tray_labels", {{"labels", labels}});
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->text, R"({"id":)" + std::to_string(id) + R"(,"ok":true,"result":null})");
    ++id;
  }
  EXPECT_EQ(app.calls("setTrayMenu").size(), rebuilt);
  quitCleanly();
}

TEST(TrayMenuMissing, ACoreWithoutTheTrayMenuStillHasTheTrayItem) {
  TempBundle bundle;
  fs::copy_file(BK_BUILD_DIR "/standin-variants/libNimbrelCore_without_setTrayMenu.so",
                bundle.exeDir() + "/libNimbrelCore.dylib", fs::copy_options::overwrite_existing);
  AppSession app(bundle.executable());
  ASSERT_TRUE(app.start());
  json trays = app.state()["trays"];
  ASSERT_EQ(trays.size(), 1u);
  EXPECT_TRUE(trays[0]["menuText"].is_null());
  ASSERT_TRUE(app.requestQuit());
  Exit exit = app.wait();
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.err, "brovik-work: no tray menu: Nimbrel's core has no setTrayMenu\n");
}

TEST(TrayMenuMissing, ACoreWithoutTheTrayImageFunctionIsNoMatter) {
  TempBundle bundle;
  fs::copy_file(BK_BUILD_DIR "/standin-variants/libNimbrelCore_without_setTrayImage.so",
                bundle.exeDir() + "/libNimbrelCore.dylib", fs::copy_options::overwrite_existing);
  AppSession app(bundle.executable());
  ASSERT_TRUE(app.start());
  EXPECT_EQ(app.state()["trays"][0]["menuText"], trayMenu(true));
  ASSERT_TRUE(app.requestQuit());
  Exit exit = app.wait();
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.err, "");
}

}  // namespace
