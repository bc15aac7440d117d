// The tray item as the core sees it: created once with the bundle's icon and
// the shared menu handler, its menu text rebuilt from the labels and the
// preferences, and the labels that pages change.
#include <barrier>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "shell/shell.h"
#include "shell/tray.h"
#include "tests/shell/shell_fixture.h"

namespace {

using testing_support::ShellTest;
using testing_support::TempDir;

std::string menuText(const std::string& open, const std::string& launch, bool launchChecked,
                     const std::string& keep, bool keepChecked, const std::string& quit) {
  auto b = [](bool on) { return on ? std::string("true") : std::string("false"); };
  return R"([{"action":"tray:open","enabled":true,"label":")" + open +
         R"("},{"type":"divider"},{"action":"tray:launch","checked":)" + b(launchChecked) +
         R"(,"enabled":true,"label":")" + launch +
         R"(","type":"checkbox"},{"action":"tray:keep","checked":)" + b(keepChecked) +
         R"(,"enabled":true,"label":")" + keep +
         R"(","type":"checkbox"},{"type":"divider"},{"action":"tray:quit","enabled":true,"label":")" +
         quit + R"("}])";
}

std::string defaultMenu(bool launchAtLogin, bool closeToTray) {
  return menuText("Open Brovik Dira", "Open at login", launchAtLogin,
                  "Keep running when the window is closed", closeToTray, "Quit Brovik Dira");
}

TEST(TrayMenu, CarriesTheLabelsAndBothCheckMarks) {
  for (bool launch : {false, true}) {
    for (bool keep : {false, true}) {
      support::Result<std::string> text =
          shell::trayMenuJSON(shell::defaultTrayLabels, {launch, keep, true});
      ASSERT_TRUE(text.ok());
      EXPECT_EQ(*text, defaultMenu(launch, keep)) << launch << keep;
    }
  }
}

TEST(TrayMenu, EscapesMarkupInLabels) {
  shell::trayLabels labels = shell::defaultTrayLabels;
  labels.Open = "<b>Open</b> & \"go\"";
  support::Result<std::string> text = shell::trayMenuJSON(labels, {});
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text,
            menuText(R"(\u003cb\u003eOpen\u003c/b\u003e \u0026 \"go\")", "Open at login", false,
                     "Keep running when the window is closed", false, "Quit Brovik Dira"));
}

class TrayTest : public ShellTest {
 protected:
  TrayTest() {
    auto ext = shell::loadCoreExt(s->bundle.ExeDir);
    EXPECT_TRUE(ext.ok());
    if (ext) s->ext = *ext;
  }

  json tray() {
    json trays = state()["trays"];
    return trays.empty() ? json() : trays[0];
  }
  size_t menuCalls() { return callsOf("setTrayMenu").size(); }
  shell::trayLabels labels() {
    std::lock_guard lock(s->mu);
    return s->labels;
  }
  uint32_t trayID() {
    std::lock_guard lock(s->mu);
    return s->trayID;
  }
};

TEST_F(TrayTest, CreatingTheTrayGivesTheIconTheHandlerAndTheMenu) {
  testing::internal::CaptureStderr();
  s->createTray();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  json calls = callsOf("createTray");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0][0], "");
  EXPECT_EQ(calls[0][1], s->bundle.ResourcesDir + "/views/assets/tray.png");
  EXPECT_EQ(calls[0][2], false);
  EXPECT_EQ(calls[0][3], 18);
  EXPECT_EQ(calls[0][4], 18);
  EXPECT_NE(calls[0][5], 0);

  EXPECT_EQ(trayID(), tray()["id"]);
  EXPECT_TRUE(s->prefs->get().Tray);
  EXPECT_EQ(tray()["title"], "");
  EXPECT_EQ(tray()["menuText"], defaultMenu(false, true));
  EXPECT_EQ(callsOf("setTrayMenu"),
            json::array({json::array({trayID(), defaultMenu(false, true)})}));
}

TEST_F(TrayTest, PicksFromTheTrayMenuReachTheShell) {
  s->createTray();
  json reply = command({{"cmd", "pick-tray"}, {"action", "tray:keep"}});
  ASSERT_EQ(reply["delivered"], true);
  ASSERT_TRUE(eventually([&] { return !s->prefs->get().CloseToTray; }));
}

TEST_F(TrayTest, AMissingIconIsReportedAndTheItemStillRequested) {
  TempDir emptyResources;
  s->bundle.ResourcesDir = emptyResources.path();
  testing::internal::CaptureStderr();
  s->createTray();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "brovik-work: the tray icon isn't in the bundle (" + emptyResources.path() + ")\n");
  ASSERT_EQ(callsOf("createTray").size(), 1u);
  EXPECT_EQ(callsOf("createTray")[0][1], "");
  EXPECT_EQ(tray()["menuText"], defaultMenu(false, true));
}

TEST_F(TrayTest, AFailingTrayLeavesNoTrayButStillTakesLabels) {
  standin.failNext("createTray", "no status bar");
  testing::internal::CaptureStderr();
  s->createTray();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "brovik-work: no tray icon: no status bar\n");
  EXPECT_EQ(trayID(), 0u);
  EXPECT_FALSE(s->prefs->get().Tray);
  EXPECT_EQ(menuCalls(), 0u);

  standin.clearCalls();
  s->setTrayLabels({R"({"open": "Show"})"});
  s->syncTray();
  EXPECT_EQ(labels().Open, "Show");
  EXPECT_EQ(command({{"cmd", "calls"}})["calls"], json::array());
}

TEST_F(TrayTest, WithoutTheExtensionTheItemStillComesWithoutAMenu) {
  s->ext.reset();
  testing::internal::CaptureStderr();
  s->createTray();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_NE(trayID(), 0u);
  EXPECT_TRUE(tray()["menuText"].is_null());
  s->setTrayLabels({R"({"open": "Show"})"});
  EXPECT_EQ(menuCalls(), 0u);
}

TEST_F(TrayTest, PageLabelsMergeFieldByFieldOrNotAtAll) {
  struct Case {
    const char* raw;
    bool rebuilt;
    shell::trayLabels after;
  } cases[] = {
      {R"({"open": ""})", true, shell::defaultTrayLabels},
      {"null", true, shell::defaultTrayLabels},
      {R"({})", true, shell::defaultTrayLabels},
      {R"({"quit": 5})", false, shell::defaultTrayLabels},
      {R"({"open": "Show", "quit": 5})", false, shell::defaultTrayLabels},
      {R"({"open": "Show)", false, shell::defaultTrayLabels},
      {"not JSON", false, shell::defaultTrayLabels},
      {"", false, shell::defaultTrayLabels},
      {R"(["Show"])", false, shell::defaultTrayLabels},
      {R"("Show")", false, shell::defaultTrayLabels},
      {R"({"tooltip": "Brovik"})",
       true,
       {"Open Brovik Dira", "Open at login", "Keep running when the window is closed",
        "Quit Brovik Dira", "Brovik"}},
      {R"({"launchAtLogin": "Beim Anmelden öffnen"})",
       true,
       {"Open Brovik Dira", "Beim Anmelden öffnen", "Keep running when the window is closed",
        "Quit Brovik Dira", "Brovik Dira"}},
      {R"({"open": "Öffnen", "KEEPRUNNING": "Weiter", "quit": null, "other": 1})",
       true,
       {"Öffnen", "Open at login", "Weiter", "Quit Brovik Dira", "Brovik Dira"}},
  };
  s->createTray();
  for (const auto& c : cases) {
    {
      std::lock_guard lock(s->mu);
      s->labels = shell::defaultTrayLabels;
    }
    const size_t before = menuCalls();
    s->setTrayLabels({c.raw});
    const shell::trayLabels now = labels();
    EXPECT_EQ(now.Open, c.after.Open) << c.raw;
    EXPECT_EQ(now.LaunchAtLogin, c.after.LaunchAtLogin) << c.raw;
    EXPECT_EQ(now.KeepRunning, c.after.KeepRunning) << c.raw;
    EXPECT_EQ(now.Quit, c.after.Quit) << c.raw;
    EXPECT_EQ(now.Tooltip, c.after.Tooltip) << c.raw;
    EXPECT_EQ(menuCalls(), before + (c.rebuilt ? 1 : 0)) << c.raw;
    if (c.rebuilt) {
      EXPECT_EQ(tray()["menuText"], menuText(c.after.Open, c.after.LaunchAtLogin, false,
                                             c.after.KeepRunning, true, c.after.Quit))
          << c.raw;
    }
  }
}

TEST_F(TrayTest, ALabelWithMarkupReachesTheCoreEscaped) {
  s->createTray();
  s->setTrayLabels({R"({"quit": "Quit <now>"})"});
  EXPECT_EQ(tray()["menuText"],
            menuText("Open Brovik Dira", "Open at login", false,
                     "Keep running when the window is closed", true, R"(Quit \u003cnow\u003e)"));
  EXPECT_EQ(tray()["menu"][5]["label"], "Quit <now>");
}

TEST_F(TrayTest, RebuildsFollowThePreferences) {
  s->createTray();
  ASSERT_TRUE(s->prefs->set({std::nullopt, false}).status.ok());
  s->syncTray();
  EXPECT_EQ(tray()["menuText"], defaultMenu(false, false));
}

// Pages that change the labels at the same moment: whatever order their
// rebuilds reach the core in, the menu left showing is the one for the labels
// stored last.
TEST_F(TrayTest, ConcurrentRebuildsLeaveTheLatestLabels) {
  s->createTray();
  constexpr int kPages = 8;
  for (int round = 0; round < 100; ++round) {
    std::barrier together(kPages);
    std::vector<std::thread> pages;
    for (int page = 0; page < kPages; ++page) {
      pages.emplace_back([&, page] {
        const std::string label = std::to_string(round) + "." + std::to_string(page);
        together.arrive_and_wait();
        s->setTrayLabels({R"({"open": ")" + label + R"("})"});
      });
    }
    for (std::thread& t : pages) t.join();
    const shell::trayLabels last = labels();
    ASSERT_EQ(tray()["menuText"],
              menuText(last.Open, last.LaunchAtLogin, false, last.KeepRunning, true, last.Quit))
        << "round " << round;
  }
}

}  // namespace
