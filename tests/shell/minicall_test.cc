// The call pop-up's logic: when it shows and hides, its six commands, and
// what the main page and the pop-up page receive.
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "shell/minicall.h"
#include "support/tasks.h"
#include "support/timer.h"
#include "tests/shell/shell_fixture.h"

namespace {

using nlohmann::json;
using support::json::RawValue;
using testing_support::kTestOrigin;

// The pop-up's condition as the state table names it.
struct flags {
  bool active = false;
  bool dismissed = false;
  bool shown = false;
  bool window = false;
  bool operator==(const flags&) const = default;
};

std::ostream& operator<<(std::ostream& out, const flags& f) {
  return out << "{A " << f.active << ", D " << f.dismissed << ", S " << f.shown << ", W "
             << f.window << "}";
}

class MiniCallTest : public testing_support::ShellTest {
 protected:
  void TearDown() override {
    // No timer of this test may fire into the next one.
    {
      std::lock_guard lock(s->mini.mu);
      if (s->mini.timer) s->mini.timer->stop();
      if (s->mini.save) s->mini.save->stop();
    }
    ShellTest::TearDown();
  }

  // The main window, shown and in front. It is given the focus by hand: the
  // core's focus report would run the pop-up's logic at a time of its own.
  shell::windowPtr openMain() {
    auto opened = s->openWindow(kTestOrigin, false, true);
    EXPECT_TRUE(opened.ok()) << opened.error().message;
    if (!opened) return nullptr;
    shell::windowPtr w = *opened;
    EXPECT_TRUE(s->core->ShowWindow(w->id, false).ok());
    sync();
    w->setActive(true);
    makeMain(w);
    return w;
  }

  shell::windowPtr openSecondary() {
    auto opened = s->openWindow(std::string(kTestOrigin) + "/doc", true, false);
    EXPECT_TRUE(opened.ok());
    return opened ? *opened : nullptr;
  }

  // A bridge command as a page sends it: its arguments decoded as the
  // command table decodes them, then offered to the pop-up's commands.
  shell::commandResult run(const shell::windowPtr& from, const std::string& cmd,
                           const std::string& args = "") {
    auto decoded = shell::decodeCommandArgs(args);
    EXPECT_TRUE(decoded.ok()) << args;
    if (!decoded) return decoded.error();
    auto handled = s->miniCommand(from, cmd, decoded->State, decoded->Action, decoded->Signal);
    EXPECT_TRUE(handled.has_value()) << cmd;
    if (!handled) return support::makeError("not handled");
    return *handled;
  }

  void startCall(const shell::windowPtr& from, const std::string& state = R"({"active":true})") {
    auto r = run(from, "call_mini_state", R"({"state":)" + state + "}");
    ASSERT_TRUE(r.ok()) << r.error().message;
  }

  // The main window loses the focus and says so, as its blur handler does.
  // Driven here rather than through the core's focus callbacks, so that
  // nothing else runs the pop-up's logic behind the test's back.
  void leaveFront(const shell::windowPtr& mainWindow) {
    mainWindow->setActive(false);
    s->mainLeft();
  }

  // The main window takes the focus again, as its focus handler does.
  void comeBack(const shell::windowPtr& mainWindow) {
    mainWindow->setActive(true);
    s->mainBack();
  }

  shell::windowPtr popup() {
    std::lock_guard lock(s->mini.mu);
    return s->mini.win;
  }

  flags now() {
    std::lock_guard lock(s->mini.mu);
    return {s->mini.active, s->mini.dismissed, s->mini.shown, s->mini.win != nullptr};
  }

  // Whether a show is still to come: stops it, so only at the end of a test.
  bool timerPending() {
    std::lock_guard lock(s->mini.mu);
    return s->mini.timer && s->mini.timer->stop();
  }

  std::vector<bool> shownEvents(const shell::windowPtr& w) {
    std::vector<bool> out;
    for (const json& payload : events(w, "bk:mini")) out.push_back(payload.at("shown"));
    return out;
  }

  // The exact texts a page was handed.
  std::vector<std::string> scripts(const shell::windowPtr& w) {
    const json all = command({{"cmd", "scripts"}, {"webview", w->view.load()}});
    std::vector<std::string> out;
    for (const auto& text : all["scripts"]) out.push_back(text);
    return out;
  }

  static std::string delivered(const std::string& message) {
    return "window.__bkDesktopReceive&&window.__bkDesktopReceive(" + message + ")";
  }

  void waitShown(const shell::windowPtr& mainWindow) {
    ASSERT_TRUE(eventually([&] {
      auto e = shownEvents(mainWindow);
      return now().shown && !e.empty() && e.back();
    }));
  }

  // Lets a timer that must not fire have more than its chance.
  static void outwaitTimers() { std::this_thread::sleep_for(std::chrono::milliseconds(700)); }

  size_t callCount(const std::string& fn, const json& args) {
    size_t n = 0;
    for (const json& a : callsOf(fn)) n += a == args;
    return n;
  }
};

TEST(MiniState, ReadsOnlyWhetherTheCallIsActive) {
  struct Case {
    std::string state;
    std::optional<bool> want;
  };
  const std::vector<Case> cases = {
      {R"({"active":true})", true},
      {R"({"active":false})", false},
      {R"( {"peer":"Ann","active":true,"muted":[1,2]} )", true},
      {R"({"Active":true})", true},
      {R"({"active":null})", false},
      {"{}", false},
      {"null", false},
      {"", std::nullopt},
      {"[true]", std::nullopt},
      {R"("active")", std::nullopt},
      {"true", std::nullopt},
      {R"({"active":"yes"})", std::nullopt},
      {R"({"active":1})", std::nullopt},
      {R"({"active":true)", std::nullopt},
      {R"({"active":true} {})", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(shell::miniState(RawValue{c.state}), c.want) << c.state;
  }
}

enum step { callStarts, callEnds, mainLeaves, shownAfterDelay, mainReturns, dismissed };

struct stateCase {
  std::string name;
  std::vector<step> steps;
  flags want;
  bool pending;             // a show is still to come
  std::vector<bool> shown;  // the "bk:mini" payloads the main page got
};

// The case's name in place of its bytes when a test is listed or fails.
void PrintTo(const stateCase& c, std::ostream* out) {
  *out << c.name;
}

class MiniStateTable : public MiniCallTest, public ::testing::WithParamInterface<stateCase> {};

TEST_P(MiniStateTable, ReachedThroughEventsAndCommands) {
  const stateCase& c = GetParam();
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  for (step st : c.steps) {
    switch (st) {
      case callStarts:
        startCall(mainWindow);
        break;
      case callEnds:
        startCall(mainWindow, R"({"active":false})");
        break;
      case mainLeaves:
        leaveFront(mainWindow);
        break;
      case shownAfterDelay:
        waitShown(mainWindow);
        break;
      case mainReturns:
        comeBack(mainWindow);
        break;
      case dismissed:
        ASSERT_TRUE(popup());
        ASSERT_TRUE(run(popup(), "call_mini_close").ok());
        break;
    }
  }
  EXPECT_EQ(now(), c.want);
  EXPECT_EQ(timerPending(), c.pending);
  sync();
  EXPECT_EQ(shownEvents(mainWindow), c.shown);
  if (auto w = popup()) {
    EXPECT_EQ(coreWindow(w->id)["visible"], c.want.shown);
  }
}

INSTANTIATE_TEST_SUITE_P(
    States, MiniStateTable,
    ::testing::Values(
        stateCase{"NoCall", {mainLeaves}, {}, false, {}},
        stateCase{"CallMainInFront", {callStarts}, {true, false, false, false}, false, {}},
        stateCase{"CallWaiting", {callStarts, mainLeaves}, {true, false, false, false}, true, {}},
        stateCase{"CallShown",
                  {callStarts, mainLeaves, shownAfterDelay},
                  {true, false, true, true},
                  false,
                  {true}},
        stateCase{"CallDismissed",
                  {callStarts, mainLeaves, shownAfterDelay, dismissed, mainLeaves},
                  {true, true, false, true},
                  false,
                  {true, false}},
        stateCase{"MainBackClearsTheDismissal",
                  {callStarts, mainLeaves, shownAfterDelay, dismissed, mainReturns},
                  {true, false, false, true},
                  false,
                  {true, false}},
        stateCase{"CallEndedWhileShown",
                  {callStarts, mainLeaves, shownAfterDelay, callEnds},
                  {false, false, false, true},
                  false,
                  {true, false}},
        stateCase{"CallEndClearsTheDismissal",
                  {callStarts, mainLeaves, shownAfterDelay, dismissed, callEnds, mainLeaves},
                  {false, false, false, true},
                  false,
                  {true, false}},
        stateCase{"ACallStartedBehindTheMainWindowWaits",
                  {mainLeaves, callStarts},
                  {true, false, false, false},
                  true,
                  {}}),
    [](const ::testing::TestParamInfo<stateCase>& param) { return param.param.name; });

TEST_F(MiniCallTest, ShowingDeliversTheStoredStateAndTellsTheMainPage) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  const std::string state = R"({"active":true,"peer":{"name":"Ann"},"muted":false})";
  startCall(mainWindow, state);
  leaveFront(mainWindow);
  waitShown(mainWindow);
  auto w = popup();
  ASSERT_TRUE(w);
  EXPECT_EQ(w->currentURL(), std::string(kTestOrigin) + "/call-mini");
  // The state goes on whole, in the page's own key order.
  EXPECT_EQ(scripts(w), std::vector<std::string>{
                            delivered(R"({"event":"bk:mini-state","payload":)" + state + "}")});
  EXPECT_EQ(scripts(mainWindow).back(),
            delivered(R"({"event":"bk:mini","payload":{"shown":true}})"));

  // A new state while it is shown reaches it at once.
  const std::string next = R"({"active":true,"muted":true})";
  startCall(mainWindow, next);
  EXPECT_EQ(scripts(w).back(), delivered(R"({"event":"bk:mini-state","payload":)" + next + "}"));

  comeBack(mainWindow);
  EXPECT_EQ(shownEvents(mainWindow), (std::vector<bool>{true, false}));
  EXPECT_EQ(coreWindow(w->id)["visible"], false);
  EXPECT_FALSE(now().shown);
}

TEST_F(MiniCallTest, ABurstOfReportsGivesOneLook) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  startCall(mainWindow);  // the main window is in front: nothing waits
  sync();
  standin.clearCalls();
  // Blur, hiding to the tray and minimising, reported one after another
  // while the main window is in fact back in front by the time of the look.
  s->mainLeft();
  s->mainLeft();
  s->mainLeft();
  const json visible = json::array({mainWindow->id.load()});
  ASSERT_TRUE(eventually([&] { return callCount("isWindowVisible", visible) > 0; }));
  outwaitTimers();
  EXPECT_EQ(callCount("isWindowVisible", visible), 1u);
  EXPECT_TRUE(callsOf("createWindow").empty());
  EXPECT_TRUE(events(mainWindow, "bk:mini").empty());
}

TEST_F(MiniCallTest, AMainWindowBackBeforeTheDelayShowsNothing) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  startCall(mainWindow);
  leaveFront(mainWindow);
  comeBack(mainWindow);
  {
    std::lock_guard lock(s->mini.mu);
    EXPECT_EQ(s->mini.timer, nullptr);
  }
  outwaitTimers();
  sync();
  EXPECT_FALSE(popup());
  EXPECT_TRUE(events(mainWindow, "bk:mini").empty());
}

// A return of the main window at any time within the delay finds no pop-up
// to put away: none is made before the main window has been away that long.
TEST_F(MiniCallTest, NoPopupIsMadeBeforeTheWholeDelay) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  startCall(mainWindow);
  command({{"cmd", "stamp-calls"}, {"fn", "createWindow"}});
  const auto left = std::chrono::steady_clock::now();
  leaveFront(mainWindow);
  waitShown(mainWindow);
  const json stamps = command({{"cmd", "stamps"}})["stamps"];
  command({{"cmd", "stamp-calls"}, {"fn", nullptr}});
  ASSERT_EQ(stamps.size(), 1u);
  // The stand-in stamps its calls on this process's steady clock.
  const std::chrono::nanoseconds made{stamps[0]["t"].get<int64_t>()};
  EXPECT_GE(made - left.time_since_epoch(), std::chrono::milliseconds(250));
}

TEST_F(MiniCallTest, AShowStillToComeWhenTheMainWindowClosesMakesNoPopup) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  startCall(mainWindow);
  leaveFront(mainWindow);
  std::shared_ptr<support::OneShotTimer> show;
  {
    std::lock_guard lock(s->mini.mu);
    show = s->mini.timer;
  }
  ASSERT_TRUE(show);
  standin.clearCalls();
  command({{"cmd", "close-window"}, {"window", mainWindow->id.load()}});
  ASSERT_TRUE(eventually([&] {
    {
      std::lock_guard lock(s->mu);
      if (s->main) return false;
    }
    std::lock_guard lock(s->mini.mu);
    return s->mini.timer == nullptr;
  }));
  EXPECT_FALSE(show->stop()) << "the show is called off";
  // A show that had already begun runs on, and finds its main window gone.
  s->showMini(mainWindow);
  sync();
  EXPECT_FALSE(popup());
  EXPECT_TRUE(callsOf("createWindow").empty());
  EXPECT_EQ(now(), (flags{true, false, false, false}));
}

TEST_F(MiniCallTest, BackWithoutAnActionSendsTheDefaultAndRaisesTheMainWindow) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  startCall(mainWindow);
  leaveFront(mainWindow);
  waitShown(mainWindow);
  standin.clearCalls();
  const size_t before = scripts(mainWindow).size();
  ASSERT_TRUE(run(popup(), "call_mini_back").ok());
  sync();
  std::vector<std::string> told;
  const std::vector<std::string> seen = scripts(mainWindow);
  for (size_t i = before; i < seen.size(); ++i) {
    // The main window's own focus report follows in its time.
    if (seen[i].find("bk:window") == std::string::npos) told.push_back(seen[i]);
  }
  // The action first, then the pop-up's going.
  EXPECT_EQ(told, (std::vector<std::string>{
                      delivered(R"({"event":"bk:mini-action","payload":{"action":"back"}})"),
                      delivered(R"({"event":"bk:mini","payload":{"shown":false}})")}));
  EXPECT_EQ(callsOf("showWindow").back(), json({mainWindow->id.load(), true}));
  EXPECT_EQ(callsOf("hideWindow").front(), json({popup()->id.load()}));
  EXPECT_FALSE(now().shown);
}

TEST_F(MiniCallTest, ActionsAndSignalsAreRelayedVerbatim) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  startCall(mainWindow);
  leaveFront(mainWindow);
  waitShown(mainWindow);
  auto w = popup();
  struct Case {
    std::string cmd;
    std::string args;
    bool toPopup;  // else to the main page
    std::string message;
  };
  const std::vector<Case> cases = {
      {"call_mini_action", R"({"action":{"z":1, "a":[1.50, "\u00e9"]}})", false,
       R"({"event":"bk:mini-action","payload":{"z":1,"a":[1.50,"\u00e9"]}})"},
      {"call_mini_action", R"({"action":"mute"})", false,
       R"({"event":"bk:mini-action","payload":"mute"})"},
      {"call_mini_back", R"({"action": {"action":"back","to":"chat"}})", false,
       R"({"event":"bk:mini-action","payload":{"action":"back","to":"chat"}})"},
      {"call_mini_signal", R"({"signal":[1, 2, {"b":0,"a":1}]})", false,
       R"({"event":"bk:mini-signal","payload":[1,2,{"b":0,"a":1}]})"},
      {"call_mini_signal", R"({"signal":"</script>"})", true,
       R"({"event":"bk:mini-signal","payload":"\u003c/script\u003e"})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    // The signal to the pop-up comes from the main page.
    const bool fromMain = c.cmd == "call_mini_signal" && c.toPopup;
    ASSERT_TRUE(run(fromMain ? mainWindow : w, c.cmd, c.args).ok());
    const auto seen = scripts(c.toPopup ? w : mainWindow);
    bool found = false;
    for (const std::string& text : seen) found = found || text == delivered(c.message);
    EXPECT_TRUE(found);
  }
}

TEST_F(MiniCallTest, ASignalReachesAHiddenPopup) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  EXPECT_EQ(run(mainWindow, "call_mini_signal", R"({"signal":1})").error().message, "no pop-up");
  startCall(mainWindow);
  leaveFront(mainWindow);
  waitShown(mainWindow);
  comeBack(mainWindow);
  auto w = popup();
  ASSERT_TRUE(w);
  ASSERT_FALSE(now().shown);
  ASSERT_TRUE(run(mainWindow, "call_mini_signal", R"({"signal":{"ring":true}})").ok());
  EXPECT_EQ(scripts(w).back(), delivered(R"({"event":"bk:mini-signal","payload":{"ring":true}})"));
}

TEST_F(MiniCallTest, EveryCommandChecksInOrderAndChangesNothingWhenRefused) {
  auto mainWindow = openMain();
  auto secondary = openSecondary();
  ASSERT_TRUE(mainWindow && secondary);
  startCall(mainWindow);
  leaveFront(mainWindow);
  waitShown(mainWindow);
  auto w = popup();
  ASSERT_TRUE(w);
  enum from { mainPage, secondaryPage, popupPage };
  struct Case {
    std::string cmd;
    from who;
    std::string args;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"call_mini_state", popupPage, R"({"state":{"active":false}})",
       "only the main window has the call"},
      {"call_mini_state", popupPage, R"({"state":[1]})", "only the main window has the call"},
      {"call_mini_state", mainPage, R"({"state":[1]})", "bad call state"},
      {"call_mini_state", mainPage, "", "bad call state"},
      {"call_mini_state", mainPage, R"({"state":{"active":"yes"}})", "bad call state"},
      {"call_mini_state", secondaryPage, R"({"state":"on"})", "bad call state"},
      {"call_mini_back", mainPage, "", "only the call's pop-up"},
      {"call_mini_back", secondaryPage, R"({"action":1})", "only the call's pop-up"},
      {"call_mini_close", mainPage, "", "only the call's pop-up"},
      {"call_mini_close", secondaryPage, "", "only the call's pop-up"},
      {"call_mini_hello", mainPage, "", "only the call's pop-up"},
      {"call_mini_hello", secondaryPage, "", "only the call's pop-up"},
      {"call_mini_action", mainPage, "", "only the call's pop-up"},
      {"call_mini_action", secondaryPage, R"({"action":1})", "only the call's pop-up"},
      {"call_mini_action", popupPage, "", "no action"},
      {"call_mini_action", popupPage, R"({"action":null})", "no action"},
      {"call_mini_signal", secondaryPage, "", "no signal"},
      {"call_mini_signal", popupPage, R"({"signal":null})", "no signal"},
      {"call_mini_signal", mainPage, "", "no signal"},
      {"call_mini_signal", secondaryPage, R"({"signal":1})", "only the main window has the call"},
  };
  const flags before = now();
  RawValue stored;
  {
    std::lock_guard lock(s->mini.mu);
    stored = s->mini.state;
  }
  sync();
  const size_t mainSeen = scripts(mainWindow).size();
  const size_t popupSeen = scripts(w).size();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cmd + " " + c.args);
    const shell::windowPtr& who = c.who == mainPage    ? mainWindow
                                  : c.who == popupPage ? w
                                                       : secondary;
    auto r = run(who, c.cmd, c.args);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message, c.error);
    EXPECT_EQ(now(), before);
    std::lock_guard lock(s->mini.mu);
    EXPECT_EQ(s->mini.state, stored);
  }
  sync();
  EXPECT_EQ(scripts(mainWindow).size(), mainSeen);
  EXPECT_EQ(scripts(w).size(), popupSeen);
}

TEST_F(MiniCallTest, ASecondaryWindowMayTellTheCallState) {
  auto mainWindow = openMain();
  auto secondary = openSecondary();
  ASSERT_TRUE(mainWindow && secondary);
  ASSERT_TRUE(run(secondary, "call_mini_state", R"({"state":{"active":true}})").ok());
  EXPECT_TRUE(now().active);
}

TEST_F(MiniCallTest, OnlyTheSixExactNamesAreThePopupsOwn) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  for (const char* name : {"Call_Mini_State", "call_mini_statex", "call_mini", "zoom", ""}) {
    EXPECT_FALSE(s->miniCommand(mainWindow, name, RawValue{R"({"active":true})"}, {}, {})) << name;
  }
  EXPECT_FALSE(now().active);
}

TEST_F(MiniCallTest, HelloAnswersTheLastAcceptedState) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  startCall(mainWindow, R"({"active":true, "peer":"Ann"})");
  leaveFront(mainWindow);
  waitShown(mainWindow);
  auto w = popup();
  auto hello = run(w, "call_mini_hello");
  ASSERT_TRUE(hello.ok());
  EXPECT_EQ(hello->text, R"({"active":true, "peer":"Ann"})");
  // A state null ends the call and is what hello answers from then on.
  startCall(mainWindow, "null");
  EXPECT_FALSE(now().active);
  hello = run(w, "call_mini_hello");
  ASSERT_TRUE(hello.ok());
  EXPECT_EQ(hello->text, "null");
  // A refused state leaves the last one.
  EXPECT_FALSE(run(mainWindow, "call_mini_state", R"({"state":{"active":0}})").ok());
  EXPECT_EQ(run(w, "call_mini_hello")->text, "null");
}

TEST_F(MiniCallTest, HelloBeforeAnyStateAnswersNothing) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  // Shown without a stored state, the pop-up page is handed null.
  {
    std::lock_guard lock(s->mini.mu);
    s->mini.active = true;
  }
  leaveFront(mainWindow);
  waitShown(mainWindow);
  auto w = popup();
  EXPECT_EQ(scripts(w).back(), delivered(R"({"event":"bk:mini-state","payload":null})"));
  auto hello = run(w, "call_mini_hello");
  ASSERT_TRUE(hello.ok());
  EXPECT_EQ(hello->text, "");
}

TEST_F(MiniCallTest, TheCloseButtonDismissesUntilTheMainWindowIsBack) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  startCall(mainWindow);
  leaveFront(mainWindow);
  waitShown(mainWindow);
  auto w = popup();
  command({{"cmd", "click-close"}, {"window", w->id.load()}});
  ASSERT_TRUE(eventually([&] { return now().dismissed && !now().shown; }));
  sync();
  EXPECT_EQ(coreWindow(w->id)["visible"], false);
  EXPECT_TRUE(callsOf("closeWindow").empty());
  leaveFront(mainWindow);
  EXPECT_FALSE(timerPending());

  comeBack(mainWindow);
  standin.clearCalls();
  leaveFront(mainWindow);
  waitShown(mainWindow);
  // The same window comes back.
  EXPECT_EQ(popup(), w);
  EXPECT_EQ(callsOf("showWindow"), json::array({json::array({w->id.load(), false})}));
  EXPECT_TRUE(callsOf("createWindow").empty());
  EXPECT_EQ(shownEvents(mainWindow), (std::vector<bool>{true, false, true}));
}

TEST_F(MiniCallTest, ClosingTheMainWindowClosesThePopupWithoutAWord) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  startCall(mainWindow);
  leaveFront(mainWindow);
  waitShown(mainWindow);
  auto w = popup();
  const size_t seen = scripts(mainWindow).size();
  s->closeMini();
  EXPECT_EQ(now(), (flags{true, false, false, false}));
  ASSERT_TRUE(eventually([&] {
    std::lock_guard lock(s->mu);
    return s->windows.count(w->id) == 0;
  }));
  sync();
  EXPECT_EQ(callsOf("closeWindow"), json::array({json::array({w->id.load()})}));
  EXPECT_EQ(scripts(mainWindow).size(), seen);
}

TEST_F(MiniCallTest, APopupClosedByTheCoreIsMadeAnewNextTime) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  startCall(mainWindow);
  leaveFront(mainWindow);
  waitShown(mainWindow);
  auto w = popup();
  ASSERT_TRUE(s->core->CloseWindow(w->id).ok());
  ASSERT_TRUE(eventually([&] {
    std::lock_guard lock(s->mu);
    return s->windows.count(w->id) == 0;
  }));
  EXPECT_EQ(now(), (flags{true, false, false, false}));
  EXPECT_EQ(shownEvents(mainWindow), (std::vector<bool>{true, false}));

  s->mainLeft();
  ASSERT_TRUE(eventually([&] { return now().shown; }));
  EXPECT_NE(popup(), w);
  EXPECT_NE(popup()->id, w->id);
}

TEST_F(MiniCallTest, ThePopupsPageKeepsItsAddressAndOpensLinks) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  startCall(mainWindow);
  leaveFront(mainWindow);
  waitShown(mainWindow);
  auto w = popup();
  ASSERT_TRUE(w->firstDelivery(7));
  const std::string moved = std::string(kTestOrigin) + "/call-mini?v=2";
  command({{"cmd", "navigate"}, {"webview", w->view.load()}, {"url", moved}});
  EXPECT_EQ(w->currentURL(), moved);
  EXPECT_TRUE(w->firstDelivery(7)) << "a new page starts with no delivered ids";

  standin.clearCalls();
  const std::string doc = std::string(kTestOrigin) + "/doc/1";
  command({{"cmd", "new-window"}, {"webview", w->view.load()}, {"url", doc}});
  ASSERT_TRUE(eventually([&] { return !callsOf("createWebview").empty(); }));
  EXPECT_EQ(callsOf("createWebview").back()[3], doc);

  // A download in the pop-up is not its page's business.
  command({{"cmd", "download"},
           {"webview", w->view.load()},
           {"success", true},
           {"destinationPath", "/tmp/a.txt"}});
  sync();
  EXPECT_TRUE(events(w, "bk:download").empty());
  std::lock_guard lock(s->mu);
  EXPECT_TRUE(s->downloads.empty());
}

// A show takes a while when it creates the window. What happens meanwhile
// wins over it.
class MiniShowRaceTest : public MiniCallTest {
 protected:
  // The call has started behind the main window; the show is held inside
  // the core's createWindow.
  void holdTheShow(const shell::windowPtr& mainWindow) {
    leaveFront(mainWindow);
    standin.clearCalls();
    command({{"cmd", "pause"}, {"fn", "createWindow"}});
    startCall(mainWindow);
    command({{"cmd", "wait-paused"}, {"fn", "createWindow"}});
  }
  void letItGo() { command({{"cmd", "resume"}, {"fn", "createWindow"}}); }
  uint32_t lastCreatedId() {
    const json log = command({{"cmd", "calls"}, {"fn", "createWindow"}});
    return log["calls"].back()["result"];
  }
};

TEST_F(MiniShowRaceTest, TheMainWindowBackMeanwhileKeepsThePopupHidden) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  holdTheShow(mainWindow);
  comeBack(mainWindow);
  letItGo();
  ASSERT_TRUE(eventually([&] { return popup() != nullptr; }));
  auto w = popup();
  ASSERT_TRUE(eventually([&] { return coreWindow(w->id)["visible"] == false; }));
  sync();
  EXPECT_FALSE(now().shown);
  EXPECT_TRUE(events(mainWindow, "bk:mini").empty());
  EXPECT_TRUE(scripts(w).empty());
  // Kept for the next show.
  leaveFront(mainWindow);
  waitShown(mainWindow);
  EXPECT_EQ(popup(), w);
}

// While a show makes the window, the main window is minimised and moved (a
// second show comes due and finds it away), then reopened before the first
// show is done. The second show, which waited behind the first, must not
// bring the pop-up up over the main window.
TEST_F(MiniShowRaceTest, AShowThatWaitedSeesTheMainWindowBack) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  startCall(mainWindow);
  const uint32_t mainId = mainWindow->id;
  const json ofMain = json::array({mainId});
  // Minimised while the shell still counts it active (no blur comes from the
  // core here), so each look at it asks the core whether it is visible: a
  // call the test can hold.
  command({{"cmd", "pause"}, {"fn", "createWebview"}});
  ASSERT_TRUE(s->core->MinimizeWindow(mainId).ok());
  s->mainLeft();
  command({{"cmd", "wait-paused"}, {"fn", "createWebview"}});

  // Moved while minimised: the second show looks, and is held while it does.
  command({{"cmd", "pause"}, {"fn", "isWindowVisible"}});
  s->mainLeft();
  command({{"cmd", "wait-paused"}, {"fn", "isWindowVisible"}});

  // Reopened: back in front, and its focus report has run.
  ASSERT_TRUE(s->core->RestoreWindow(mainId).ok());
  comeBack(mainWindow);
  standin.clearCalls();
  command({{"cmd", "resume"}, {"fn", "isWindowVisible"}});
  command({{"cmd", "resume"}, {"fn", "createWebview"}});

  // The second show ends by looking at the main window again, or by showing.
  ASSERT_TRUE(eventually([&] {
    return callCount("isWindowMinimized", ofMain) > 0 || !events(mainWindow, "bk:mini").empty();
  }));
  sync();
  auto w = popup();
  ASSERT_TRUE(w);
  EXPECT_EQ(coreWindow(w->id)["visible"], false);
  EXPECT_EQ(now(), (flags{true, false, false, true}));
  EXPECT_TRUE(events(mainWindow, "bk:mini").empty());
  EXPECT_TRUE(scripts(w).empty());
}

TEST_F(MiniShowRaceTest, TheMainWindowClosedMeanwhileTakesThePopupAlong) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  holdTheShow(mainWindow);
  const uint32_t held = lastCreatedId();
  s->closeMini();
  letItGo();
  ASSERT_TRUE(eventually([&] { return callCount("closeWindow", json::array({held})) == 1; }));
  ASSERT_TRUE(eventually([&] {
    std::lock_guard lock(s->mu);
    return s->windows.count(held) == 0;
  }));
  EXPECT_FALSE(popup());
  EXPECT_TRUE(events(mainWindow, "bk:mini").empty());
}

TEST_F(MiniShowRaceTest, TwoShowsMakeOneWindow) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  holdTheShow(mainWindow);
  std::atomic<bool> secondDone{false};
  support::runInBackground([&] {
    s->showMini(mainWindow);
    secondDone = true;
  });
  // Gives a second show its chance to make a window of its own.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  letItGo();
  ASSERT_TRUE(eventually([&] { return secondDone.load() && now().shown; }));
  sync();
  EXPECT_EQ(callsOf("createWindow").size(), 1u);
  EXPECT_EQ(shownEvents(mainWindow), std::vector<bool>{true});
}

}  // namespace
