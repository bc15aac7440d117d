// The tray item, the application menu and their shared status-item slot,
// notifications, revealing files and opening addresses, against the stand-in.
#include <dlfcn.h>

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "binding/nm_helpers.h"
#include "tests/binding/core_fixture.h"

namespace {

using nlohmann::json;
using testing_support::addressOf;

class DesktopServicesTest : public testing_support::CoreTest {
 protected:
  // Who received which item pick, in order.
  nimbrel::StatusItemHandler recorder(const std::string& name) {
    return [this, name](uint32_t id, const std::string& action) {
      std::lock_guard lock(mu);
      picks.push_back(name + " " + std::to_string(id) + " " + action);
    };
  }
  std::vector<std::string> takePicks() {
    std::lock_guard lock(mu);
    return std::exchange(picks, {});
  }

  // The tray menu is set outside the binding (the shell's extension), so the
  // test reaches the core function directly.
  void setTrayMenu(uint32_t trayId, const std::string& menu) {
    auto fn = reinterpret_cast<void (*)(uint32_t, const char*)>(dlsym(core().lib(), "setTrayMenu"));
    ASSERT_NE(fn, nullptr);
    fn(trayId, menu.c_str());
  }

  uint32_t trayWithMenu(nimbrel::StatusItemHandler handler) {
    auto id = core().CreateTray("", "/bundle/tray.png", false, 18, 18, std::move(handler));
    EXPECT_TRUE(id.ok()) << id.error().message;
    if (!id.ok()) return 0;
    setTrayMenu(*id, R"([{"label":"Open","action":"tray:open"}])");
    return *id;
  }

  const std::string appMenu = R"([{"label":"View","submenu":[{"label":"In","action":"zoom:in"}]}])";
  std::mutex mu;
  std::vector<std::string> picks;
};

TEST_F(DesktopServicesTest, CreateTrayHandsItsValuesAndTheAdapterToTheCore) {
  standin.clearCalls();
  auto id = core().CreateTray("3", "/bundle/tray.png", true, 18, 22, recorder("tray"));
  ASSERT_TRUE(id.ok()) << id.error().message;
  EXPECT_NE(*id, 0u);
  EXPECT_EQ(lastArgs("createTray"),
            json({"3", "/bundle/tray.png", true, 18, 22, addressOf(&nm_status_item_cb)}));
  EXPECT_FALSE(called("nimbrel_core_last_error"));

  auto silent = core().CreateTray("", "", false, 18, 18, nullptr);
  ASSERT_TRUE(silent.ok());
  EXPECT_EQ(lastArgs("createTray"), json({"", "", false, 18, 18, 0}));
}

TEST_F(DesktopServicesTest, TrayAndApplicationMenuShareOneStatusItemSlot) {
  uint32_t tray = trayWithMenu(recorder("first"));
  command({{"cmd", "pick-tray"}, {"tray", tray}, {"action", "tray:open"}});
  EXPECT_EQ(takePicks(), std::vector<std::string>{"first " + std::to_string(tray) + " tray:open"});

  // The later call decides for both the tray and the menu.
  ASSERT_TRUE(core().SetApplicationMenuJSON(appMenu, recorder("menu")).ok());
  EXPECT_EQ(lastArgs("setApplicationMenu"), json({appMenu, addressOf(&nm_status_item_cb)}));
  command({{"cmd", "pick-tray"}, {"tray", tray}, {"action", "tray:open"}});
  command({{"cmd", "pick-menu"}, {"action", "zoom:in"}});
  EXPECT_EQ(takePicks(), (std::vector<std::string>{"menu " + std::to_string(tray) + " tray:open",
                                                   "menu 0 zoom:in"}));

  // A tray without a handler silences the application menu as well.
  auto silent = core().CreateTray("", "", false, 18, 18, nullptr);
  ASSERT_TRUE(silent.ok());
  command({{"cmd", "pick-menu"}, {"action", "zoom:in"}});
  command({{"cmd", "pick-tray"}, {"tray", tray}, {"action", "tray:open"}});
  EXPECT_TRUE(takePicks().empty());

  // And an application menu without one gives the core NULL.
  ASSERT_TRUE(core().SetApplicationMenuJSON(appMenu, recorder("again")).ok());
  ASSERT_TRUE(core().SetApplicationMenuJSON(appMenu, nullptr).ok());
  EXPECT_EQ(lastArgs("setApplicationMenu"), json({appMenu, 0}));
  command({{"cmd", "pick-tray"}, {"tray", tray}, {"action", "tray:open"}});
  EXPECT_TRUE(takePicks().empty());
}

TEST_F(DesktopServicesTest, TheSlotChangesEvenWhenTheCoreFails) {
  uint32_t tray = trayWithMenu(recorder("old"));

  standin.failNext("createTray", "");
  auto failed = core().CreateTray("", "", false, 18, 18, recorder("new tray"));
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().message, "");
  command({{"cmd", "pick-tray"}, {"tray", tray}, {"action", "tray:open"}});

  standin.failNext("setApplicationMenu", "menu refused");
  auto status = core().SetApplicationMenuJSON(appMenu, recorder("new menu"));
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().message, "menu refused");
  command({{"cmd", "pick-tray"}, {"tray", tray}, {"action", "tray:open"}});

  EXPECT_EQ(takePicks(),
            (std::vector<std::string>{"new tray " + std::to_string(tray) + " tray:open",
                                      "new menu " + std::to_string(tray) + " tray:open"}));
}

// A refused string leaves the core and the slot untouched.
TEST_F(DesktopServicesTest, AStringWithANulIsRefusedByTheFirstLabel) {
  uint32_t tray = trayWithMenu(recorder("kept"));
  const std::string nul("a\0b", 3);
  auto status = [](auto result) {
    return result.ok() ? support::Status() : support::Status(result.error());
  };
  struct Refusal {
    const char* what;
    support::Status status;
    const char* label;
  } refusals[] = {
      {"tray, both", status(core().CreateTray(nul, nul, false, 18, 18, nullptr)), "tray title"},
      {"tray image", status(core().CreateTray("t", nul, false, 18, 18, nullptr)), "tray image"},
      {"tray title", core().SetTrayTitle(tray, nul), "tray title"},
      {"menu", core().SetApplicationMenuJSON(nul, nullptr), "application menu json"},
      {"notification, all", core().ShowNotification(nul, nul, nul, false), "notification title"},
      {"notification body", core().ShowNotification("t", nul, nul, false), "notification body"},
      {"notification subtitle", core().ShowNotification("t", "b", nul, false),
       "notification subtitle"},
      {"reveal", core().ShowItemInFolder(nul), "path"},
      {"open", status(core().OpenExternal(nul)), "url"},
  };
  for (const auto& r : refusals) {
    ASSERT_FALSE(r.status.ok()) << r.what;
    EXPECT_EQ(r.status.error().message, std::string(r.label) + " contains an interior null byte")
        << r.what;
  }
  json state = standin.state();
  EXPECT_EQ(state["trays"].size(), 1u);
  EXPECT_EQ(state["trays"][0]["title"], "");
  EXPECT_TRUE(state["applicationMenu"].is_null());
  EXPECT_TRUE(state["notifications"].empty());
  EXPECT_TRUE(state["revealedFiles"].empty());
  EXPECT_TRUE(state["openedUrls"].empty());
  command({{"cmd", "pick-tray"}, {"tray", tray}, {"action", "tray:open"}});
  EXPECT_EQ(takePicks(), std::vector<std::string>{"kept " + std::to_string(tray) + " tray:open"});
}

TEST_F(DesktopServicesTest, ChangingOperationsFollowTheLastErrorText) {
  uint32_t tray = trayWithMenu(nullptr);
  expectFailsOnLastErrorText({
      {"setTrayTitle", [&] { return core().SetTrayTitle(tray, "12"); }, {tray, "12"}},
      {"showItemInFolder",
       [&] { return core().ShowItemInFolder("/Users/u/Downloads/a.pdf"); },
       {"/Users/u/Downloads/a.pdf"}},
      {"showNotification",
       [&] { return core().ShowNotification("Title", "Body", "Sub", true); },
       {"Title", "Body", "Sub", true}},
      {"setApplicationMenu",
       [&] { return core().SetApplicationMenuJSON(appMenu, nullptr); },
       {appMenu, 0}},
  });
  json state = standin.state();
  EXPECT_EQ(state["trays"][0]["title"], "12");
  EXPECT_EQ(state["revealedFiles"], json({"/Users/u/Downloads/a.pdf"}));
  // The body comes before the subtitle.
  EXPECT_EQ(state["notifications"],
            json({{{"title", "Title"}, {"body", "Body"}, {"subtitle", "Sub"}, {"silent", true}}}));
}

TEST_F(DesktopServicesTest, OpenExternalAnswersTheCoresBooleanAndNeverItsText) {
  auto opened = core().OpenExternal("https://example.com/a?b=c");
  ASSERT_TRUE(opened.ok());
  EXPECT_TRUE(*opened);

  command({{"cmd", "open-external-answer"}, {"answer", false}});
  opened = core().OpenExternal("mailto:x@example.com");
  ASSERT_TRUE(opened.ok());
  EXPECT_FALSE(*opened);

  standin.failNext("openExternal", "no handler for the scheme");
  standin.clearCalls();
  opened = core().OpenExternal("examplescheme://x");
  ASSERT_TRUE(opened.ok());
  EXPECT_FALSE(*opened);
  EXPECT_FALSE(called("nimbrel_core_last_error"));
  EXPECT_EQ(standin.state()["openedUrls"],
            json({{{"url", "https://example.com/a?b=c"}, {"answer", true}},
                  {{"url", "mailto:x@example.com"}, {"answer", false}}}));
}

}  // namespace
