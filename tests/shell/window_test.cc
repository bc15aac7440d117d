// Application windows: what the core is given, what their callbacks do, and
// the title-bar double click.
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/shell/shell_fixture.h"

namespace {

using nlohmann::json;
using testing_support::kTestOrigin;

class AppWindowTest : public testing_support::ShellTest {
 protected:
  shell::windowPtr open(bool show, bool isMain, const std::string& url = kTestOrigin) {
    auto opened = s->openWindow(url, show, isMain);
    EXPECT_TRUE(opened.ok()) << opened.error().message;
    if (!opened) return nullptr;
    if (isMain) makeMain(*opened);
    return *opened;
  }

  bool inTable(const shell::windowPtr& w) {
    std::lock_guard lock(s->mu);
    auto found = s->windows.find(w->id);
    return found != s->windows.end() && found->second == w;
  }

  // A program standing in for the preference reader: prints `out`, ends with
  // `status`.
  std::string defaultsPrinting(const std::string& out, int status = 0) {
    std::string path = home.write("defaults.sh", "#!/bin/sh\nprintf '%s' '" + out + "'\nexit " +
                                                     std::to_string(status) + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
  }
};

TEST_F(AppWindowTest, OpeningHandsTheCoreEveryValue) {
  auto w = open(true, true, std::string(kTestOrigin) + "/inbox");
  ASSERT_TRUE(w);
  json style = callsOf("getWindowStyle").back();
  EXPECT_EQ(style,
            json({false, true, true, true, true, false, false, true, false, false, false, false}));
  json created = callsOf("createWindow").back();
  // Frame, style mask, title-bar style, Flag1, title, Flag2, Flag3, Flag4, numbers.
  EXPECT_EQ(created[0], 0.0);
  EXPECT_EQ(created[1], 0.0);
  EXPECT_EQ(created[2], 1280.0);
  EXPECT_EQ(created[3], 820.0);
  EXPECT_EQ(created[5], "hiddenInset");
  EXPECT_EQ(created[6], false);
  EXPECT_EQ(created[7], "Brovik Dira");
  EXPECT_EQ(created[8], false);
  EXPECT_EQ(created[9], true);
  EXPECT_EQ(created[10], true);
  EXPECT_EQ(created[11], 0.0);
  EXPECT_EQ(created[12], 0.0);
  EXPECT_EQ(callsOf("setWindowButtonPosition").back(), json({w->id.load(), 14.0, 12.0}));
  EXPECT_EQ(callsOf("setNextWebviewAllowedProtocols").back(), json({false, false}));

  json view = callsOf("createWebview").back();
  EXPECT_EQ(view[0], w->id.load());
  EXPECT_EQ(view[1], 0);
  EXPECT_EQ(view[2], "native");
  EXPECT_EQ(view[3], std::string(kTestOrigin) + "/inbox");
  EXPECT_EQ(json({view[4], view[5], view[6], view[7]}), json({0.0, 0.0, 1280.0, 820.0}));
  EXPECT_EQ(view[8], true);
  EXPECT_EQ(view[9], "persist:brovik-work");
  EXPECT_NE(view[10], 0) << "decide-navigation";
  EXPECT_NE(view[12], 0) << "event bridge";
  EXPECT_NE(view[13], 0) << "host bridge";
  EXPECT_EQ(view[14], 0) << "internal bridge";
  EXPECT_EQ(view[15], s->webviewKey);
  EXPECT_EQ(view[16], s->preload);
  EXPECT_EQ(view[17], "");
  EXPECT_EQ(json({view[18], view[19], view[20], view[21]}), json({false, false, false, true}));

  EXPECT_TRUE(inTable(w));
  EXPECT_TRUE(w->isActive());
  EXPECT_EQ(w->currentURL(), std::string(kTestOrigin) + "/inbox");
}

TEST_F(AppWindowTest, AHiddenStartIsNotActive) {
  auto w = open(false, true);
  ASSERT_TRUE(w);
  json created = callsOf("createWindow").back();
  EXPECT_EQ(created[8], true) << "Flag2: starts hidden";
  EXPECT_EQ(created[9], false) << "Flag3";
  EXPECT_FALSE(w->isActive());
  EXPECT_EQ(coreWindow(w->id)["visible"], false);
}

TEST_F(AppWindowTest, AFailedWebviewClosesTheWindow) {
  standin.failNext("createWebview", "no web view");
  auto opened = s->openWindow(kTestOrigin, true, false);
  ASSERT_FALSE(opened.ok());
  EXPECT_EQ(opened.error().message, "no web view");
  EXPECT_EQ(callsOf("closeWindow").size(), 1u);
  std::lock_guard lock(s->mu);
  EXPECT_TRUE(s->windows.empty());
}

TEST_F(AppWindowTest, TheMainWindowsCloseButtonHidesIt) {
  auto w = open(true, true);
  ASSERT_TRUE(w);
  ASSERT_TRUE(s->core->SetWindowFullScreen(w->id, true).ok());
  command({{"cmd", "click-close"}, {"window", w->id.load()}});
  ASSERT_TRUE(eventually([&] { return !callsOf("hideWindow").empty(); }));
  sync();
  EXPECT_EQ(callsOf("setWindowFullScreen").back(), json({w->id.load(), false}));
  EXPECT_EQ(coreWindow(w->id)["visible"], false);
  EXPECT_TRUE(callsOf("closeWindow").empty());
  EXPECT_TRUE(inTable(w));
  EXPECT_FALSE(w->isActive());
  ASSERT_TRUE(eventually([&] {
    auto e = events(w, "bk:window");
    return !e.empty() && e.back()["focused"] == false;
  })) << json(events(w, "bk:window")).dump();
}

// Reports go out from tasks that run in any order; however they interleave,
// the page ends on the window's state after the last change.
TEST_F(AppWindowTest, ThePageEndsOnTheLastState) {
  auto w = open(true, true);
  ASSERT_TRUE(w);
  for (int i = 0; i < 50; ++i) {
    command({{"cmd", "focus"}, {"window", w->id.load()}});
    command({{"cmd", "blur"}});
  }
  command({{"cmd", "focus"}, {"window", w->id.load()}});
  ASSERT_TRUE(s->core->SetWindowFullScreen(w->id, true).ok());
  command({{"cmd", "click-close"}, {"window", w->id.load()}});
  sync();
  // Until the reports stop coming.
  size_t count = 0;
  for (int quiet = 0; quiet < 5;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const size_t now = events(w, "bk:window").size();
    quiet = now == count ? quiet + 1 : 0;
    count = now;
  }
  ASSERT_EQ(coreWindow(w->id)["visible"], false) << "hidden by its close button";
  const json last = events(w, "bk:window").back();
  const auto state = s->windowState(w);
  EXPECT_EQ(last, json({{"focused", state.focused},
                        {"fullscreen", state.fullscreen},
                        {"maximized", state.maximized}}));
}

TEST_F(AppWindowTest, ASecondaryWindowClosesAndLeavesTheTable) {
  auto mainWindow = open(true, true);
  auto w = open(true, false, std::string(kTestOrigin) + "/doc");
  ASSERT_TRUE(mainWindow && w);
  command({{"cmd", "focus"}, {"window", w->id.load()}});
  {
    std::lock_guard lock(s->mu);
    EXPECT_EQ(s->focused, w);
  }
  command({{"cmd", "click-close"}, {"window", w->id.load()}});
  ASSERT_TRUE(eventually([&] { return !inTable(w); }));
  std::lock_guard lock(s->mu);
  EXPECT_EQ(s->focused, nullptr);
  EXPECT_EQ(s->main, mainWindow);
  EXPECT_FALSE(s->quitting);
}

// A closed window lets go of what its page held at once, and its record once
// nothing works on it any more, although the core's binding keeps its
// callbacks; requests still on their way meanwhile find it closing.
TEST_F(AppWindowTest, AClosedWindowLetsGoOfItsPageAndItsRecord) {
  auto mainWindow = open(true, true);
  auto w = open(true, false, std::string(kTestOrigin) + "/doc");
  ASSERT_TRUE(mainWindow && w);
  auto postMany = [&](int64_t from) {
    const json request = {
        {"bk", testing_support::kTestToken}, {"id", 0}, {"cmd", "notification_permission"}};
    std::string message = request.dump();
    message.replace(message.find("\"id\":0"), 6, "\"id\":${n}");
    command({{"cmd", "post-many"},
             {"webview", w->view.load()},
             {"message", message},
             {"from", from},
             {"count", 500},
             {"via", "host-bridge"}});
  };
  postMany(1);
  ASSERT_TRUE(eventually([&] { return w->deliveredIdsHeld() >= 500; }));
  postMany(501);
  command({{"cmd", "click-close"}, {"window", w->id.load()}});
  ASSERT_TRUE(eventually([&] { return !inTable(w) && w->deliveredIdsHeld() == 0; }))
      << w->deliveredIdsHeld() << " ids held";
  EXPECT_FALSE(w->firstDelivery(5000, shell::route::hostBridge));
  EXPECT_EQ(w->deliveredIdsHeld(), 0u);

  std::weak_ptr<shell::appWindow> record = w;
  w.reset();
  EXPECT_TRUE(eventually([&] { return record.expired(); })) << "the record is still held";
}

TEST_F(AppWindowTest, FocusAndBlurReachThePage) {
  auto a = open(true, true);
  auto b = open(true, false);
  ASSERT_TRUE(a && b);
  command({{"cmd", "focus"}, {"window", a->id.load()}});
  command({{"cmd", "blur"}});
  sync();
  {
    std::lock_guard lock(s->mu);
    EXPECT_EQ(s->focused, a) << "a blur leaves the focused window";
  }
  EXPECT_FALSE(a->isActive());
  ASSERT_TRUE(eventually([&] {
    auto e = events(a, "bk:window");
    return !e.empty() &&
           e.back() == json::parse(R"({"focused":false,"fullscreen":false,"maximized":false})");
  }));
}

TEST_F(AppWindowTest, MovingRecordsTheShadow) {
  auto w = open(true, false);
  ASSERT_TRUE(w);
  EXPECT_FALSE(w->shadow().has_value());
  command({{"cmd", "move-window"}, {"window", w->id.load()}, {"x", 10}, {"y", 20}});
  ASSERT_TRUE(eventually([&] { return w->shadow().has_value(); }));
  EXPECT_EQ(w->shadow(), true);
}

TEST_F(AppWindowTest, TheDoubleClickFollowsThePreference) {
  struct Case {
    std::string printed;
    int status;
    std::string want;  // the core call it makes, or "" for none
  };
  const std::vector<Case> cases = {
      {"None\n", 0, ""},
      {"Minimize\n", 0, "minimizeWindow"},
      {"Maximize", 0, "maximizeWindow"},
      {"none", 0, "maximizeWindow"},
      {"", 0, "maximizeWindow"},
      {"None", 1, "maximizeWindow"},
  };
  auto w = open(true, true);
  ASSERT_TRUE(w);
  for (const Case& c : cases) {
    s->defaultsProgram = defaultsPrinting(c.printed, c.status);
    ASSERT_TRUE(s->core->UnmaximizeWindow(w->id).ok());
    ASSERT_TRUE(s->core->RestoreWindow(w->id).ok());
    standin.clearCalls();
    ASSERT_TRUE(s->titleBarDoubleClick(w).ok()) << c.printed;
    std::vector<std::string> made;
    for (const char* fn : {"minimizeWindow", "maximizeWindow", "unmaximizeWindow"}) {
      if (!callsOf(fn).empty()) made.push_back(fn);
    }
    EXPECT_EQ(made, c.want.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.want})
        << c.printed << " " << c.status;
  }
  s->defaultsProgram = home.path() + "/no-such-program";
  ASSERT_TRUE(s->core->UnmaximizeWindow(w->id).ok());
  EXPECT_TRUE(s->titleBarDoubleClick(w).ok());
  EXPECT_EQ(coreWindow(w->id)["maximized"], true);
  EXPECT_TRUE(s->titleBarDoubleClick(w).ok());
  EXPECT_EQ(coreWindow(w->id)["maximized"], false) << "toggles back";
  s->defaultsProgram = defaultsPrinting("Minimize");
  standin.failNext("minimizeWindow", "cannot");
  auto status = s->titleBarDoubleClick(w);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().message, "cannot");
}

TEST_F(AppWindowTest, TheStateAsksTheCoreInOrderAndStopsAtTheFirstNo) {
  // A window straight from the core, without the shell's callbacks, so that
  // no task of the shell's asks about it meanwhile.
  auto id = s->core->CreateWindow(nimbrel::NewWindowOptions("bare", {0, 30, 800, 600}));
  ASSERT_TRUE(id.ok());
  ASSERT_TRUE(s->core->ShowWindow(*id, false).ok());
  auto w = std::make_shared<shell::appWindow>(false, kTestOrigin, true);
  w->id = *id;
  sync();
  auto queries = [&] {
    std::vector<std::string> out;
    for (const std::string& name : callNames()) {
      if (name.rfind("isWindow", 0) == 0) out.push_back(name);
    }
    return out;
  };
  standin.clearCalls();
  (void)s->windowState(w);
  EXPECT_EQ(queries(), (std::vector<std::string>{"isWindowVisible", "isWindowMinimized",
                                                 "isWindowMaximized", "isWindowFullScreen"}));
  ASSERT_TRUE(s->core->HideWindow(*id).ok());
  standin.clearCalls();
  (void)s->windowState(w);
  EXPECT_EQ(queries(), (std::vector<std::string>{"isWindowVisible", "isWindowMaximized",
                                                 "isWindowFullScreen"}));
  w->setActive(false);
  standin.clearCalls();
  (void)s->windowState(w);
  EXPECT_EQ(queries(), (std::vector<std::string>{"isWindowMaximized", "isWindowFullScreen"}));
}

}  // namespace
