// The application menu as the core receives it, the normaliser both menus
// pass through, and what a pick from either menu does.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "binding/webviews.h"
#include "binding/windows.h"
#include "shell/menu.h"
#include "shell/shell.h"
#include "support/json.h"
#include "tests/shell/shell_fixture.h"

namespace {

using support::json::Value;
using testing_support::kTestOrigin;
using testing_support::ShellTest;

std::string normalised(const std::string& items) {
  support::Result<Value> parsed = support::json::parse(items);
  EXPECT_TRUE(parsed.ok()) << items;
  if (!parsed) return "";
  return support::json::encode(shell::menuWithDefaults(*parsed));
}

TEST(AppMenu, IsTheBuiltInMenuNormalised) {
  const std::string divider = R"({"type":"divider"})";
  const std::string app =
      R"({"enabled":true,"label":"About Brovik Dira","role":"about"},)" + divider +
      R"(,{"accelerator":"h","enabled":true,"label":"Hide Brovik Dira","role":"hide"},)"
      R"({"accelerator":"Command+Alt+H","enabled":true,"label":"Hide Others","role":"hideOthers"},)"
      R"({"enabled":true,"label":"Show All","role":"showAll"},)" +
      divider + R"(,{"accelerator":"q","enabled":true,"label":"Quit Brovik Dira","role":"quit"})";
  const std::string edit =
      R"({"enabled":true,"label":"Undo","role":"undo"},{"enabled":true,"label":"Redo","role":"redo"},)" +
      divider +
      R"(,{"enabled":true,"label":"Cut","role":"cut"},{"enabled":true,"label":"Copy","role":"copy"},)"
      R"({"enabled":true,"label":"Paste","role":"paste"},)"
      R"({"enabled":true,"label":"Select All","role":"selectAll"})";
  const std::string view =
      R"({"accelerator":"r","action":"view:reload","enabled":true,"label":"Reload"},)" + divider +
      R"(,{"accelerator":"0","action":"zoom:reset","enabled":true,"label":"Actual Size"},)"
      R"({"accelerator":"=","action":"zoom:in","enabled":true,"label":"Zoom In"},)"
      R"({"accelerator":"-","action":"zoom:out","enabled":true,"label":"Zoom Out"},)" +
      divider +
      R"(,{"accelerator":"Command+Control+F","enabled":true,"label":"Enter Full Screen",)"
      R"("role":"toggleFullScreen"})";
  const std::string window =
      R"({"accelerator":"m","enabled":true,"label":"Minimize","role":"minimize"},)"
      R"({"enabled":true,"label":"Zoom","role":"zoom"},)" +
      divider + R"(,{"accelerator":"w","enabled":true,"label":"Close","role":"close"})";
  auto menu = [](const std::string& label, const std::string& items) {
    return R"({"enabled":true,"label":")" + label + R"(","submenu":[)" + items + "]}";
  };
  EXPECT_EQ(shell::appMenu, "[" + menu("Brovik Dira", app) + "," + menu("Edit", edit) + "," +
                                menu("View", view) + "," + menu("Window", window) + "]");
}

TEST(AppMenu, KnowsALabelForEveryStandardRole) {
  EXPECT_EQ(shell::roleLabels.size(), 15u);
  EXPECT_EQ(shell::roleLabels.at("hideOthers"), "Hide Others");
  EXPECT_EQ(shell::roleLabels.at("toggleFullScreen"), "Toggle Full Screen");
  EXPECT_EQ(shell::roleLabels.at("selectAll"), "Select All");
}

TEST(MenuWithDefaults, NormalisesEachKindOfItem) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {R"([{"type": "separator", "label": "x"}])", R"([{"type":"divider"}])"},
      {R"([{"type": "divider", "enabled": false, "action": "a"}])", R"([{"type":"divider"}])"},
      {R"([{"role": "undo"}])", R"([{"enabled":true,"label":"Undo","role":"undo"}])"},
      {R"([{"role": "print"}])", R"([{"enabled":true,"label":"","role":"print"}])"},
      {R"([{"label": "", "role": "copy"}])", R"([{"enabled":true,"label":"Copy","role":"copy"}])"},
      {R"([{"label": 5, "role": "cut"}])", R"([{"enabled":true,"label":"Cut","role":"cut"}])"},
      {R"([{"label": 5}])", R"([{"enabled":true,"label":5}])"},
      {R"([{"label": null, "role": 3}])", R"([{"enabled":true,"label":null,"role":3}])"},
      {R"([{"label": "A", "role": ""}])", R"([{"enabled":true,"label":"A","role":""}])"},
      {R"([{"enabled": false, "label": "A"}])", R"([{"enabled":false,"label":"A"}])"},
      {R"([{"enabled": null, "label": "A"}])", R"([{"enabled":null,"label":"A"}])"},
      {R"([{"type": 5, "label": "A"}])", R"([{"enabled":true,"label":"A","type":5}])"},
      {R"([{"type": "checkbox", "checked": true, "label": "A", "action": "x:y"}])",
       R"([{"action":"x:y","checked":true,"enabled":true,"label":"A","type":"checkbox"}])"},
      {R"([{"label": "A", "submenu": [1, {"label": "B"}, "x", null]}])",
       R"([{"enabled":true,"label":"A","submenu":[{"enabled":true,"label":"B"}]}])"},
      {R"([{"label": "A", "submenu": {"label": "B"}}])",
       R"([{"enabled":true,"label":"A","submenu":{"label":"B"}}])"},
      {R"([{"label": "A", "submenu": []}])", R"([{"enabled":true,"label":"A","submenu":[]}])"},
      {R"([{"label": "A", "submenu": [{"submenu": [{"type": "separator", "x": 1}, {"role": "paste"}]}]}])",
       R"([{"enabled":true,"label":"A","submenu":[{"enabled":true,"submenu":[{"type":"divider"},)"
       R"({"enabled":true,"label":"Paste","role":"paste"}]}]}])"},
      // Other keys pass unchanged, with every number a double.
      {R"([{"label": "A", "order": 1, "weight": 1.50, "big": 12345678901234567890,)"
       R"( "extra": {"n": [2, 3.0, -1e-7], "s": "<&>"}}])",
       R"([{"big":12345678901234567000,"enabled":true,)"
       R"("extra":{"n":[2,3,-1e-7],"s":"\u003c\u0026\u003e"},"label":"A","order":1,"weight":1.5}])"},
      {R"([{}, 7, "text", {"label": "B"}])", R"([{"enabled":true},{"enabled":true,"label":"B"}])"},
      {"[]", "[]"},
  };
  for (const auto& c : cases) EXPECT_EQ(normalised(c.in), c.out) << c.in;
}

TEST(MenuWithDefaults, LeavesItsInputAlone) {
  const Value in = *support::json::parse(
      R"([{"type": "separator", "label": "x"}, {"role": "undo", "submenu": [1, {"role": "cut"}]}])");
  const Value copy = in;
  (void)shell::menuWithDefaults(in);
  EXPECT_EQ(in, copy);
}

TEST(MenuJSON, NormalisesAListOfItems) {
  support::Result<std::string> text = shell::menuJSON(R"([{"role": "quit"}, null])");
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text, R"([{"enabled":true,"label":"Quit","role":"quit"},{"enabled":true}])");
}

TEST(MenuJSON, RefusesTextThatIsNotAListOfItems) {
  for (const char* text : {"", "[", "[{}] x", "{}", "null", "[1]", R"([{}, "x"])"}) {
    support::Result<std::string> menu = shell::menuJSON(text);
    ASSERT_FALSE(menu.ok()) << text;
    EXPECT_TRUE(menu.error().message.starts_with("json: ")) << text << ": " << menu.error().message;
  }
}

// A shell with windows made straight through the core, so that nothing but
// the test and its background tasks holds the shell: a task has ended once
// the test's reference is the only one left.
class MenuTest : public ShellTest {
 protected:
  // A window with its web view on the app's origin, in the window table.
  shell::windowPtr openPageWindow(bool hidden = false) {
    nimbrel::WindowOptions options = nimbrel::NewWindowOptions("Brovik Dira", {0, 0, 800, 600});
    options.Flag2 = hidden;
    options.Flag3 = !hidden;
    auto id = s->core->CreateWindow(std::move(options));
    EXPECT_TRUE(id.ok());
    auto view =
        s->core->CreateWebview(nimbrel::NewWebviewOptions(*id, kTestOrigin, {0, 0, 800, 600}));
    EXPECT_TRUE(view.ok());
    auto window = std::make_shared<shell::appWindow>(false, kTestOrigin, !hidden);
    window->id = *id;
    window->view = *view;
    std::lock_guard lock(s->mu);
    s->windows[*id] = window;
    return window;
  }

  void focus(const shell::windowPtr& window) {
    std::lock_guard lock(s->mu);
    s->focused = window;
  }

  void setMenu() {
    ASSERT_TRUE(s->core->SetApplicationMenuJSON(shell::appMenu, shell::menuHandler(s)).ok());
  }

  void pick(const std::string& action) {
    json reply = command({{"cmd", "pick-menu"}, {"action", action}});
    ASSERT_EQ(reply["delivered"], true) << action;
    waitForTasks();
  }

  void waitForTasks() {
    ASSERT_TRUE(eventually([&] { return s.use_count() == 1; }));
  }

  double zoomOf(const shell::windowPtr& window) {
    return s->core->GetWebviewPageZoom(window->view);
  }

  std::vector<std::string> scriptsOf(const shell::windowPtr& window) {
    json reply = command({{"cmd", "scripts"}, {"webview", window->view.load()}});
    return reply["scripts"].get<std::vector<std::string>>();
  }
};

TEST_F(MenuTest, ZoomMovesThroughTheFixedSteps) {
  struct Case {
    double current;
    const char* step;
    double expected;
  } cases[] = {
      {1.0, "in", 1.1},     {1.0, "out", 0.9},    {1.05, "in", 1.1},      {1.05, "out", 1.0},
      {0.5, "out", 0.5},    {0.5, "in", 0.67},    {3.0, "in", 3.0},       {3.0, "out", 2.5},
      {5.0, "in", 3.0},     {5.0, "out", 3.0},    {0.3, "in", 0.5},       {0.3, "out", 0.5},
      {1.0995, "in", 1.25}, {1.1005, "out", 1.0}, {1.102, "out", 1.1},    {2.0, "reset", 1.0},
      {2.0, "", 1.0},       {0.5, "IN", 1.0},     {1.5, "sideways", 1.0},
  };
  shell::windowPtr window = openPageWindow();
  for (const auto& c : cases) {
    ASSERT_TRUE(s->core->SetWebviewPageZoom(window->view, c.current).ok());
    s->zoom(window, c.step);
    EXPECT_DOUBLE_EQ(zoomOf(window), c.expected) << c.current << " " << c.step;
  }
}

TEST_F(MenuTest, MenuZoomAndReloadReachTheWindowThatLastHadTheFocus) {
  shell::windowPtr first = openPageWindow();
  shell::windowPtr second = openPageWindow();
  focus(second);
  setMenu();
  pick("zoom:in");
  EXPECT_DOUBLE_EQ(zoomOf(second), 1.1);
  pick("zoom:in");
  EXPECT_DOUBLE_EQ(zoomOf(second), 1.25);
  pick("zoom:out");
  EXPECT_DOUBLE_EQ(zoomOf(second), 1.1);
  pick("zoom:reset");
  EXPECT_DOUBLE_EQ(zoomOf(second), 1.0);
  pick("view:reload");
  EXPECT_EQ(callsOf("webviewReload"), json::array({json::array({second->view.load()})}));
  EXPECT_DOUBLE_EQ(zoomOf(first), 1.0);
  EXPECT_TRUE(callsOf("webviewSetPageZoom").size() == 4u);
}

TEST_F(MenuTest, APickWithoutAFocusedWindowOrForNothingKnownCallsNothing) {
  openPageWindow();
  setMenu();
  standin.clearCalls();
  for (const char* action : {"zoom:in", "zoom:reset", "view:reload"}) pick(action);
  for (const char* action : {"zoom", "view:reload2", "", "Tray:Quit"}) {
    s->onMenu(0, action);
    waitForTasks();
  }
  EXPECT_EQ(command({{"cmd", "calls"}})["calls"], json::array());
}

TEST_F(MenuTest, KeepRunningPickedTwiceComesBackAndTellsEveryPageEachTime) {
  shell::windowPtr window = openPageWindow();
  ASSERT_TRUE(s->prefs->get().CloseToTray);
  s->onMenu(7, "tray:keep");
  waitForTasks();
  EXPECT_FALSE(s->prefs->get().CloseToTray);
  EXPECT_EQ(testing_support::readAll(s->paths.UserData + "/desktop.json"),
            "{\n  \"closeToTray\": false\n}");
  s->onMenu(7, "tray:keep");
  waitForTasks();
  EXPECT_TRUE(s->prefs->get().CloseToTray);
  EXPECT_FALSE(s->prefs->get().LaunchAtLogin);

  std::vector<std::string> prefsEvents;
  for (const std::string& script : scriptsOf(window)) {
    if (script.find(R"("event":"bk:prefs")") != std::string::npos) prefsEvents.push_back(script);
  }
  ASSERT_EQ(prefsEvents.size(), 2u);
  EXPECT_NE(prefsEvents[0].find(R"({"launchAtLogin":false,"closeToTray":false,"tray":false})"),
            std::string::npos)
      << prefsEvents[0];
  EXPECT_NE(prefsEvents[1].find(R"({"launchAtLogin":false,"closeToTray":true,"tray":false})"),
            std::string::npos)
      << prefsEvents[1];
}

// Quick clicks overlap as tasks; each still counts, and pages hear of the
// changes in the order they were made.
TEST_F(MenuTest, QuickTogglesEachCountAndAreToldInOrder) {
  shell::windowPtr window = openPageWindow();
  constexpr int kClicks = 12;
  for (int i = 0; i < kClicks; ++i) s->onMenu(0, "tray:keep");
  waitForTasks();
  EXPECT_TRUE(s->prefs->get().CloseToTray);
  std::vector<bool> told;
  for (const std::string& script : scriptsOf(window)) {
    if (script.find(R"("event":"bk:prefs")") == std::string::npos) continue;
    told.push_back(script.find(R"("closeToTray":true)") != std::string::npos);
  }
  ASSERT_EQ(told.size(), static_cast<size_t>(kClicks));
  for (int i = 0; i < kClicks; ++i) EXPECT_EQ(told[i], i % 2 == 1) << "click " << i;
}

TEST_F(MenuTest, OpenAtLoginPickedTwiceAddsAndRemovesTheLoginItem) {
  s->onMenu(1, "tray:launch");
  waitForTasks();
  EXPECT_TRUE(s->prefs->get().LaunchAtLogin);
  s->onMenu(1, "tray:launch");
  waitForTasks();
  EXPECT_FALSE(s->prefs->get().LaunchAtLogin);
}

TEST_F(MenuTest, OpenBringsTheMainWindowBackAndQuitStopsTheLoop) {
  shell::windowPtr window = openPageWindow(/*hidden=*/true);
  makeMain(window);
  ASSERT_FALSE(s->core->IsWindowVisible(window->id));
  s->onMenu(1, "tray:open");
  waitForTasks();
  EXPECT_TRUE(s->core->IsWindowVisible(window->id));

  standin.clearCalls();
  s->onMenu(1, "tray:quit");
  waitForTasks();
  EXPECT_EQ(callsOf("stopEventLoop").size(), 1u);
  std::lock_guard lock(s->mu);
  EXPECT_TRUE(s->quitting);
}

}  // namespace
