// The shell's construction, its start sequence and what argument lists and
// links do.
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/shell/shell_fixture.h"

namespace {

using nlohmann::json;
using testing_support::kTestOrigin;
using testing_support::ScopedEnv;

bool isLowerHex(const std::string& s) {
  return s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// Decimal numbers from 0 to 255 without leading zeros, joined by ",".
std::vector<int> byteList(const std::string& s) {
  std::vector<int> out;
  size_t start = 0;
  while (true) {
    size_t end = s.find(',', start);
    std::string part = s.substr(start, end == std::string::npos ? end : end - start);
    if (part.empty() || part.size() > 3 ||
        part.find_first_not_of("0123456789") != std::string::npos ||
        (part.size() > 1 && part[0] == '0') || std::stoi(part) > 255) {
      return {};
    }
    out.push_back(std::stoi(part));
    if (end == std::string::npos) return out;
    start = end + 1;
  }
}

TEST(NewShell, ByteListsAreReadStrictly) {
  EXPECT_EQ(byteList("0,255,7"), (std::vector<int>{0, 255, 7}));
  for (const char* bad : {"", "256", "01", "1,,2", "1,", "a"})
    EXPECT_TRUE(byteList(bad).empty()) << bad;
}

TEST(NewShell, DrawsFreshSecretsAndPreparesThePreload) {
  testing_support::StandinCore standin;
  testing_support::TempDir home;
  nimbrel::Paths paths;
  paths.Home = home.path();
  paths.UserData = home.path() + "/data";
  ScopedEnv env({{"APPIMAGE", std::nullopt}});
  auto a = shell::newShell(standin.shared(), testing_support::builtBundle(),
                           {"id.test", "Brovik Dira", "dev"}, "HTTP://LocalHost:5180/start", paths);
  auto b = shell::newShell(standin.shared(), testing_support::builtBundle(),
                           {"id.test", "Brovik Dira", "dev"}, "HTTP://LocalHost:5180/start", paths);
  ASSERT_TRUE(a.ok() && b.ok());
  const shell::shell& s = **a;
  EXPECT_EQ(s.token.size(), 64u);
  EXPECT_TRUE(isLowerHex(s.token)) << s.token;
  EXPECT_EQ(byteList(s.webviewKey).size(), 32u) << s.webviewKey;
  EXPECT_NE(s.token, (*b)->token);
  EXPECT_NE(s.webviewKey, (*b)->webviewKey);
  EXPECT_EQ(s.origin, "http://localhost:5180");
  EXPECT_EQ(s.startPage, "HTTP://LocalHost:5180/start");
  EXPECT_NE(s.preload.find(shell::preloadConfigLiteral(s.origin, s.token)), std::string::npos);
  EXPECT_EQ(s.preload.find("__BK_DESKTOP_CONFIG__"), std::string::npos);
  EXPECT_EQ(s.exe.front(), '/');
  EXPECT_EQ(s.labels.Open, "Open Brovik Dira");

  env.set("APPIMAGE", "/opt/Brovik.AppImage");
  auto c = shell::newShell(standin.shared(), testing_support::builtBundle(),
                           {"id.test", "Brovik Dira", "dev"}, kTestOrigin, paths);
  ASSERT_TRUE(c.ok());
  EXPECT_EQ((*c)->exe, "/opt/Brovik.AppImage");
}

TEST(NewShell, FailsWithoutAUsablePreload) {
  testing_support::StandinCore standin;
  testing_support::TempDir bundle;
  nimbrel::BundlePaths paths{bundle.path() + "/MacOS", bundle.mkdir("Resources")};
  auto missing = shell::newShell(standin.shared(), paths, {"id", "N", "dev"}, kTestOrigin, {});
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().message,
            "the preload (views/preload/index.js) is missing from the bundle");
  bundle.write("Resources/views/preload/index.js", "const c = __BK_DESKTOP_CONFIG__;");
  auto bare = shell::newShell(standin.shared(), paths, {"id", "N", "dev"}, kTestOrigin, {});
  ASSERT_FALSE(bare.ok());
  EXPECT_EQ(bare.error().message, "the preload has no settings placeholder");
}

class StartTest : public testing_support::ShellTest {
 protected:
  shell::windowPtr mainWindow() {
    std::lock_guard lock(s->mu);
    return s->main;
  }
};

TEST_F(StartTest, ListsBeforeReadinessAreReplayedInOrder) {
  s->handleArgs({"brovik-work://inbox/1"});
  s->handleArgs({"--autostart"});
  s->handleArgs({"brovik-work://inbox/2"});
  s->start({"brovik-work://settings"});
  auto w = mainWindow();
  ASSERT_TRUE(w);
  EXPECT_EQ(callsOf("createWebview").back()[3], std::string(kTestOrigin) + "/settings");
  EXPECT_EQ(events(w, "bk:open"), (std::vector<json>{"/inbox/1", "/inbox/2"}));
  std::lock_guard lock(s->mu);
  EXPECT_TRUE(s->ready);
  EXPECT_TRUE(s->pending.empty());
}

TEST_F(StartTest, TheStartInstallsTheHandlersBeforeTheWindow) {
  standin.clearCalls();
  s->start({});
  std::vector<std::string> order = callNames();
  auto at = [&](const std::string& fn) {
    return std::find(order.begin(), order.end(), fn) - order.begin();
  };
  EXPECT_LT(at("configureWebviewRuntime"), at("setQuitRequestedHandler"));
  EXPECT_LT(at("setQuitRequestedHandler"), at("setAppReopenHandler"));
  EXPECT_LT(at("setAppReopenHandler"), at("setURLOpenHandler"));
  EXPECT_LT(at("setURLOpenHandler"), at("createWindow"));
  EXPECT_EQ(state()["exitOnLastWindowClosed"], false);
  EXPECT_EQ(callsOf("createWebview").back()[3], kTestOrigin);
}

TEST_F(StartTest, AnAutostartWithoutAPageStartsHidden) {
  s->start({"--autostart"});
  auto w = mainWindow();
  ASSERT_TRUE(w);
  EXPECT_EQ(coreWindow(w->id)["visible"], false);
  // Another login launch handed over leaves it as it is.
  s->handleArgs({"--autostart"});
  sync();
  EXPECT_EQ(coreWindow(w->id)["visible"], false);
  EXPECT_TRUE(callsOf("activateWindow").empty());
  // Handed a plain launch later, it comes to the front.
  s->handleArgs({});
  EXPECT_EQ(coreWindow(w->id)["visible"], true);
  EXPECT_EQ(callsOf("activateWindow").back(), json({w->id.load()}));
}

TEST_F(StartTest, AnAutostartWithAPageStartsShown) {
  s->start({"--autostart", "brovik-work:inbox"});
  auto w = mainWindow();
  ASSERT_TRUE(w);
  EXPECT_EQ(coreWindow(w->id)["visible"], true);
}

TEST_F(StartTest, AFailingRuntimeStopsTheLoopAndOpensNothing) {
  standin.failNext("configureWebviewRuntime", "no runtime");
  standin.clearCalls();
  testing::internal::CaptureStderr();
  s->start({});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "brovik-work: web view runtime: no runtime\n");
  EXPECT_FALSE(callsOf("stopEventLoop").empty());
  EXPECT_TRUE(callsOf("createWindow").empty());
  EXPECT_TRUE(callsOf("setQuitRequestedHandler").empty());
  EXPECT_TRUE(s->failedToStart());
}

TEST_F(StartTest, AFailingMainWindowStopsTheLoopAndStaysUnready) {
  standin.failNext("createWindow", "no window");
  s->handleArgs({"brovik-work:inbox"});
  testing::internal::CaptureStderr();
  s->start({});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "brovik-work: no window\n");
  EXPECT_FALSE(callsOf("stopEventLoop").empty());
  EXPECT_TRUE(s->failedToStart());
  std::lock_guard lock(s->mu);
  EXPECT_FALSE(s->ready);
  EXPECT_EQ(s->pending.size(), 1u);
}

TEST_F(StartTest, ACallbackLinkReachesTheOpenMainPageVerbatim) {
  s->start({});
  auto w = mainWindow();
  const std::string link = "work.brovik.dira://callback?code=1&state=%7Bx%7D#frag";
  s->handleArgs({"brovik-work://inbox", link, "--autostart"});
  EXPECT_EQ(events(w, "bk:auth"), (std::vector<json>{link}));
  EXPECT_TRUE(events(w, "bk:open").empty());
  EXPECT_EQ(callsOf("activateWindow").back(), json({w->id.load()}));
}

TEST_F(StartTest, WithoutAMainWindowALinkOpensOne) {
  {
    std::lock_guard lock(s->mu);
    s->ready = true;
  }
  s->handleArgs({"work.brovik.dira://callback?code=1"});
  auto w = mainWindow();
  ASSERT_TRUE(w);
  EXPECT_EQ(w->currentURL(), std::string(kTestOrigin) + "/callback?code=1");
  // A page that would leave the origin opens its root.
  {
    std::lock_guard lock(s->mu);
    s->main = nullptr;
  }
  s->openPage("//elsewhere.example/x");
  EXPECT_EQ(mainWindow()->currentURL(), std::string(kTestOrigin) + "/");
}

TEST_F(StartTest, LinksWithoutAPageOnlyShowTheMainWindow) {
  s->start({});
  auto w = mainWindow();
  ASSERT_TRUE(s->core->MinimizeWindow(w->id).ok());
  s->handleArgs({"work.brovik.dira:settings"});
  EXPECT_TRUE(events(w, "bk:open").empty());
  EXPECT_EQ(callsOf("restoreWindow").back(), json({w->id.load()}));
  EXPECT_EQ(callsOf("showWindow").back(), json({w->id.load(), true}));
  EXPECT_EQ(coreWindow(w->id)["minimized"], false);
}

TEST_F(StartTest, PreferencesReachEveryWindow) {
  s->start({});
  auto second = s->openWindow(std::string(kTestOrigin) + "/doc", true, false);
  ASSERT_TRUE(second.ok());
  s->prefsChanged({true, false, true});
  json want = json::parse(R"({"launchAtLogin":true,"closeToTray":false,"tray":true})");
  EXPECT_EQ(events(mainWindow(), "bk:prefs"), std::vector<json>{want});
  EXPECT_EQ(events(*second, "bk:prefs"), std::vector<json>{want});
}

// A reopen or a click that comes while start runs opens no window of its
// own: start's window is the main one, and it comes to the front after.
TEST_F(StartTest, ARequestToShowDuringStartWaitsForItsWindow) {
  s->showMain();
  s->openNotice("/inbox");
  EXPECT_TRUE(callsOf("createWindow").empty());
  s->start({"--autostart"});
  auto w = mainWindow();
  ASSERT_TRUE(w);
  EXPECT_EQ(callsOf("createWindow").size(), 1u);
  EXPECT_EQ(coreWindow(w->id)["visible"], true);
  EXPECT_EQ(callsOf("activateWindow").back(), json({w->id.load()}));
  sync();
  EXPECT_EQ(events(w, "bk:open"), std::vector<json>{"/inbox"});
}

// Requests that find the main window gone while another is opening it make
// no window of their own and do not wait for that one: the reopen handler
// runs on the core's callback thread, which the opening may need. The window
// comes up shown and then opens the pages asked for meanwhile.
TEST_F(StartTest, RequestsWhileTheMainWindowOpensNeitherWaitNorOpenAnother) {
  makeMain(nullptr);
  standin.clearCalls();
  command({{"cmd", "pause"}, {"fn", "createWindow"}});
  std::thread first([&] { s->showMain(); });
  command({{"cmd", "wait-paused"}, {"fn", "createWindow"}});
  auto others = std::async(std::launch::async, [&] {
    s->showMain();
    s->openPage("/inbox");
    s->openNotice("/inbox/7");
  });
  const bool returned = others.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  command({{"cmd", "resume"}, {"fn", "createWindow"}});
  first.join();
  others.wait();
  EXPECT_TRUE(returned) << "a request waited for the opening";
  auto w = mainWindow();
  ASSERT_TRUE(w);
  EXPECT_EQ(callsOf("createWindow").size(), 1u);
  EXPECT_EQ(coreWindow(w->id)["visible"], true);
  sync();
  EXPECT_EQ(events(w, "bk:open"), (std::vector<json>{"/inbox", "/inbox/7"}));
}

// An opening that fails drops what was asked meanwhile; the next request
// opens a window again.
TEST_F(StartTest, AFailedOpeningLeavesTheNextRequestToTryAgain) {
  makeMain(nullptr);
  standin.failNext("createWindow", "no window");
  s->openPage("/inbox");
  EXPECT_FALSE(mainWindow());
  s->showMain();
  auto w = mainWindow();
  ASSERT_TRUE(w);
  EXPECT_EQ(callsOf("createWebview").back()[3], kTestOrigin);
}

TEST_F(StartTest, QuitStopsTheLoopWithOrWithoutAMainWindow) {
  s->quit();
  EXPECT_EQ(callsOf("stopEventLoop").size(), 1u);
  std::lock_guard lock(s->mu);
  EXPECT_TRUE(s->quitting);
}

}  // namespace
