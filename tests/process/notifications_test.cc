// Notifications and the screen-sharing picker in the running application:
// a page's notification clicked in either of the platform's notification
// centres opens its page in the main window, a dismissal opens nothing, the
// delegate that hears the clicks is installed once and only for a bundle with
// an identifier, and every web view of every window gets the picker when the
// web engine offers it.
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "tests/process/app_session.h"

namespace {

using nlohmann::json;
using testing_support::AppSession;
using testing_support::Exit;
using testing_support::HarnessError;
using testing_support::Received;
using testing_support::Via;

constexpr const char* kDelegateClass = "BrovikWorkNotificationDelegate";
constexpr const char* kAppOrigin = "http://127.0.0.1:5180";

class NotificationsTest : public ::testing::Test {
 protected:
  // Every run ends as the user ends it, and cleanly: a sanitizer's report in
  // the application fails the test.
  void TearDown() override {
    if (app.process().ended()) return;
    EXPECT_TRUE(app.requestQuit());
    Exit exit = app.wait();
    EXPECT_EQ(exit.status, 0);
    EXPECT_EQ(exit.err, "");
  }

  // The page asks for a notification; true when the shell answered it.
  bool notify(const std::string& title, const std::string& subtitle, const std::string& body,
              const std::string& target, bool sound = true) {
    auto reply = app.call(nextId++, "notify",
                          {{"title", title},
                           {"subtitle", subtitle},
                           {"body", body},
                           {"target", target},
                           {"sound", sound}});
    return reply && reply->value.value("ok", false);
  }

  // The user clicks (or dismisses) a notification in one of the centres.
  json click(json cmd) {
    cmd["cmd"] = "click-notification";
    return app.command(cmd);
  }

  // What the platform was given and what the system did with it.
  json platform() { return app.command({{"cmd", "platform"}})["platform"]; }

  // The glue only queues its work on the main dispatch queue: this waits
  // until what was queued so far has run.
  void drainMainQueue() { app.command({{"cmd", "drain-main-queue"}}); }

  // The next "bk:open" the main page receives after `since`.
  std::optional<Received> opened(size_t since) { return app.waitForEvent("bk:open", since); }

  bool mainVisible() { return app.windowRecord(app.window())["visible"] == true; }

  // Hides the main window with its close button, as the user would.
  void hideMain() {
    app.clickClose(app.window());
    ASSERT_TRUE(app.waitUntil([&] { return !mainVisible(); }));
  }

  // Lets the page open a second window of the app and waits until its page is
  // heard on the bridge, by then the shell has entered the window in its
  // table, which comes after it asked for the picker. Returns its web view.
  uint32_t openSecondWindow(const std::string& page) {
    app.newWindow(std::string(kAppOrigin) + page);
    uint32_t view = 0;
    bool opened = app.waitUntil([&] {
      const json state = app.state();  // kept: the loop walks a member of it
      for (const json& record : state["webviews"]) {
        if (record["window"] != app.window()) view = record["id"];
      }
      return view != 0;
    });
    if (!opened) throw HarnessError("no second window opened");
    // Requests reaching the window before it is in the table are dropped, so
    // the page asks again until one is answered.
    const int64_t first = nextId;
    bool heard = app.waitUntil([&] {
      app.post(app.request(nextId++, "notification_permission"), Via::kQueue, view);
      for (const Received& r : app.received(view)) {
        for (int64_t id = first; id < nextId; ++id) {
          if (r.isReply(id)) return true;
        }
      }
      return false;
    });
    if (!heard) throw HarnessError("the second window's page was never answered");
    return view;
  }

  static json pickerOn(uint32_t window, uint32_t webview) {
    return {{"window", window},
            {"webview", webview},
            {"feature", "UseSCContentSharingPicker"},
            {"enabled", true}};
  }

  AppSession app;
  int64_t nextId = 1;
};

TEST_F(NotificationsTest, AClickInTheNewerCentreOpensTheNoticesPageInTheMainWindow) {
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(notify("Anna", "#general", "Lunch?", "/inbox/42", false));
  // Asked without sound: a silent notification, the body before the subtitle.
  EXPECT_EQ(app.calls("showNotification").back()["args"],
            json({"Anna", "Lunch?", "#general", true}));
  ASSERT_TRUE(notify("Ben", "#random", "Coffee?", "/inbox/43"));
  hideMain();
  drainMainQueue();  // the delegate is in place

  const size_t mark = app.receivedCount();
  json reply = click({{"title", "Anna"}, {"subtitle", "#general"}, {"body", "Lunch?"}});
  EXPECT_EQ(reply["delivered"], true);
  EXPECT_EQ(reply["completed"], true);
  auto open = opened(mark);
  ASSERT_TRUE(open);
  EXPECT_EQ(open->text, R"({"event":"bk:open","payload":"/inbox/42"})");
  // The main window comes forward with it.
  EXPECT_TRUE(app.waitUntil([&] { return mainVisible(); }));
  EXPECT_EQ(app.state()["windows"].size(), 1u) << "opened in the main window, not a new one";
}

// With the main window gone, a click opens a new main window, shown, right
// on the notice's page.
TEST_F(NotificationsTest, AClickAfterTheMainWindowClosedOpensANewOneOnItsPage) {
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(notify("Anna", "#general", "Lunch?", "/inbox/42"));
  drainMainQueue();  // the delegate is in place
  const uint32_t closed = app.window();
  app.closeWindow(closed);
  ASSERT_TRUE(app.waitUntil([&] { return app.state()["windows"].empty(); }));

  json reply = click({{"title", "Anna"}, {"subtitle", "#general"}, {"body", "Lunch?"}});
  EXPECT_EQ(reply["delivered"], true);
  json window;
  ASSERT_TRUE(app.waitUntil([&] {
    const json state = app.state();
    if (state["windows"].size() != 1 || state["webviews"].size() != 1) return false;
    window = state["windows"][0];
    return true;
  }));
  EXPECT_NE(window["id"], closed);
  EXPECT_EQ(window["visible"], true);
  const json view = app.state()["webviews"][0];
  EXPECT_EQ(view["window"], window["id"]);
  EXPECT_EQ(view["url"], std::string(kAppOrigin) + "/inbox/42");
}

TEST_F(NotificationsTest, AClickInTheOlderCentreIsMatchedByItsInformativeText) {
  ASSERT_TRUE(app.start());
  // Equal titles: only the body, carried as the informative text, tells the
  // older notice from the newer.
  ASSERT_TRUE(notify("Anna", "#general", "Lunch?", "/inbox/42"));
  ASSERT_TRUE(notify("Anna", "#general", "Dinner?", "/inbox/43"));
  drainMainQueue();

  const size_t mark = app.receivedCount();
  json reply = click(
      {{"center", "legacy"}, {"title", "Anna"}, {"subtitle", "#general"}, {"body", "Lunch?"}});
  EXPECT_EQ(reply["delivered"], true);
  auto open = opened(mark);
  ASSERT_TRUE(open);
  EXPECT_EQ(open->payload(), "/inbox/42");
}

TEST_F(NotificationsTest, ADismissalOpensNothingAndStillCompletes) {
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(notify("Anna", "#general", "Lunch?", "/inbox/42"));
  ASSERT_TRUE(notify("Ben", "#random", "Coffee?", "/inbox/43"));
  drainMainQueue();

  const size_t mark = app.receivedCount();
  json reply = click(
      {{"title", "Anna"}, {"subtitle", "#general"}, {"body", "Lunch?"}, {"action", "dismiss"}});
  EXPECT_EQ(reply["delivered"], true);
  EXPECT_EQ(reply["completed"], true);
  // A click after it does reach the page; the dismissal did not before it.
  click({{"title", "Ben"}, {"subtitle", "#random"}, {"body", "Coffee?"}});
  auto open = opened(mark);
  ASSERT_TRUE(open);
  EXPECT_EQ(open->payload(), "/inbox/43");
  app.roundTrip();
  for (const Received& r : app.received()) {
    EXPECT_FALSE(r.isEvent("bk:open") && r.payload() == "/inbox/42") << r.text;
  }
}

TEST_F(NotificationsTest, WithoutABundleIdentifierNoDelegateIsInstalled) {
  app.atLoad({{"cmd", "platform"}, {"bundleIdentifier", nullptr}});
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(notify("Anna", "#general", "Lunch?", "/inbox/42"));
  drainMainQueue();

  json delegates = platform()["delegates"];
  EXPECT_EQ(delegates["user"], json({{"class", nullptr}, {"sets", 0}}));
  EXPECT_EQ(delegates["legacy"], json({{"class", nullptr}, {"sets", 0}}));
  EXPECT_EQ(click({{"title", "Anna"}, {"subtitle", "#general"}, {"body", "Lunch?"}})["delivered"],
            false);
  EXPECT_EQ(click({{"center", "legacy"}, {"title", "Anna"}})["delivered"], false);
}

TEST_F(NotificationsTest, TheDelegateIsInstalledOnceInBothCentres) {
  ASSERT_TRUE(app.start());
  drainMainQueue();
  const json once = {{"class", kDelegateClass}, {"sets", 1}};
  EXPECT_EQ(platform()["delegates"], json({{"user", once}, {"legacy", once}}));

  // What the shell does later, windows and their glue included, gives no
  // centre a delegate again.
  openSecondWindow("/calls");
  ASSERT_TRUE(app.reopen());
  ASSERT_TRUE(notify("Anna", "", "", "/inbox/42"));
  drainMainQueue();
  EXPECT_EQ(platform()["delegates"], json({{"user", once}, {"legacy", once}}));
}

TEST_F(NotificationsTest, EveryWebViewOfEveryWindowGetsTheScreenPicker) {
  ASSERT_TRUE(app.start());
  drainMainQueue();
  const json main = pickerOn(app.window(), app.webview());
  EXPECT_EQ(platform()["features"], json({main}));

  // Each window opened walks every window again: the main one's web view
  // gets the switch a second time.
  uint32_t view = openSecondWindow("/calls");
  uint32_t window = app.webviewRecord(view)["window"];
  drainMainQueue();
  EXPECT_EQ(platform()["features"], json({main, main, pickerOn(window, view)}));
}

TEST_F(NotificationsTest, WithoutTheEnginesFeatureNoWebViewIsTouched) {
  app.atLoad({{"cmd", "platform"}, {"screenPickerFeature", false}});
  ASSERT_TRUE(app.start());
  openSecondWindow("/calls");
  drainMainQueue();
  EXPECT_EQ(platform()["features"], json::array());
}

}  // namespace
