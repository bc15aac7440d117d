// The main window's remembered frame: the file's form, what counts as a
// usable saved frame, and what a save writes from the live window.
#include "shell/window_state.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "binding/windows.h"
#include "support/file.h"
#include "support/timer.h"
#include "tests/shell/shell_fixture.h"

namespace {

using nlohmann::json;
using testing_support::kTestOrigin;

constexpr const char* kSaved = R"({"X":100,"Y":50,"Width":1280,"Height":820,"Maximized":false})";

TEST(SavedStateFile, IsWrittenInItsExactForm) {
  struct Case {
    shell::savedState state;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{100, 50, 1280, 820, false, false}, kSaved},
      {{1280.5, -23, 420, 560, true, true},
       R"({"X":1280.5,"Y":-23,"Width":420,"Height":560,"Maximized":true})"},
      {{0.1, 1e21, 1e-7, 600.25, false, false},
       R"({"X":0.1,"Y":1e+21,"Width":1e-7,"Height":600.25,"Maximized":false})"},
  };
  for (const Case& c : cases) {
    auto text = shell::encodeSavedState(c.state);
    ASSERT_TRUE(text.ok()) << c.text;
    EXPECT_EQ(*text, c.text);
  }
}

TEST(SavedStateFile, AValueThatIsNotANumberWritesNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(shell::encodeSavedState({nan, 0, 1280, 820, false, false}).ok());
  EXPECT_FALSE(shell::encodeSavedState({0, 0, inf, 820, false, false}).ok());
  // A live frame whose size is not a number is never taken for a usable one.
  EXPECT_FALSE(shell::usableStateSize(nan, 820));
  EXPECT_FALSE(shell::usableStateSize(1280, nan));
  EXPECT_TRUE(shell::usableStateSize(420, 560));
}

TEST(SavedStateFile, ReadsOnlyAUsableRecord) {
  struct Case {
    std::string text;
    std::optional<std::vector<double>> frame;  // X, Y, Width, Height
    bool maximized = false;
  };
  const std::vector<Case> cases = {
      {kSaved, std::vector<double>{100, 50, 1280, 820}},
      {R"({"X":-5.5,"Y":0,"Width":420,"Height":560,"Maximized":true})",
       std::vector<double>{-5.5, 0, 420, 560}, true},
      // Keys match without regard to case; an exact match wins; others are ignored.
      {R"({"x":1,"y":2,"WIDTH":500,"height":600,"maximized":true,"extra":"x"})",
       std::vector<double>{1, 2, 500, 600}, true},
      {R"({"width":300,"Width":700,"Height":600})", std::vector<double>{0, 0, 700, 600}},
      {R"({"Width":1280,"Height":820})", std::vector<double>{0, 0, 1280, 820}},
      {R"({"X":null,"Width":1280,"Height":820,"Maximized":null})",
       std::vector<double>{0, 0, 1280, 820}},
      {R"({"Width":419,"Height":820})", std::nullopt},
      {R"({"Width":1280,"Height":559})", std::nullopt},
      {R"({"Width":1280})", std::nullopt},
      {R"({"X":"100","Y":50,"Width":1280,"Height":820})", std::nullopt},
      {R"({"X":100,"Y":50,"Width":1280,"Height":820,"Maximized":"yes"})", std::nullopt},
      {R"({"X":100,"Y":50,"Width":1280,"Height":820)", std::nullopt},
      {R"([100,50,1280,820])", std::nullopt},
      {"null", std::nullopt},
      {"not json", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    std::optional<shell::savedState> state = shell::decodeSavedState(c.text);
    ASSERT_EQ(state.has_value(), c.frame.has_value()) << c.text;
    if (!state) continue;
    EXPECT_EQ(std::vector<double>({state->X, state->Y, state->Width, state->Height}), *c.frame)
        << c.text;
    EXPECT_EQ(state->Maximized, c.maximized) << c.text;
    EXPECT_FALSE(state->positioned) << c.text;
  }
}

TEST(SavedStateFile, OverlapIsStrictOnEverySide) {
  // One work area of 1000 x 800 at (0, 0), one of 800 x 600 at (1000, 0).
  std::vector<nimbrel::Display> displays(2);
  displays[0].WorkArea = {0, 0, 1000, 800};
  displays[1].WorkArea = {1000, 0, 800, 600};
  struct Case {
    std::string name;
    double x, y;
    bool overlaps;
  };
  const std::vector<Case> cases = {
      {"inside the first", 0, 0, true},
      {"one pixel of the second", 1799, 0, true},
      {"on the second's right edge", 1800, 0, false},
      {"on the first's left edge", -500, 0, false},
      {"one pixel past the left edge", -499, 0, true},
      {"on the first's bottom edge", 0, 800, false},
      {"on the top edge", 0, -600, false},
      {"one pixel of the second's bottom", 1000, 599, true},
      {"below the second, right of the first", 1100, 600, false},
      {"one pixel of the first's bottom right corner", 999, 799, true},
  };
  for (const Case& c : cases) {
    shell::savedState s{c.x, c.y, 500, 600, false, false};
    EXPECT_EQ(shell::overlapsAnyWorkArea(s, displays), c.overlaps) << c.name;
  }
  EXPECT_FALSE(shell::overlapsAnyWorkArea({0, 0, 500, 600, false, false}, {}));
}

class WindowStateTest : public testing_support::ShellTest {
 protected:
  // A main window straight from the core, without callbacks, so that nothing
  // but the test saves its frame.
  shell::windowPtr mainWindow(const nimbrel::Rect& frame) {
    auto id = s->core->CreateWindow(nimbrel::NewWindowOptions("main", frame));
    EXPECT_TRUE(id.ok());
    auto w = std::make_shared<shell::appWindow>(true, kTestOrigin, true);
    w->id = id.ok() ? *id : 0;
    return w;
  }

  void writeState(const std::string& text) {
    ASSERT_TRUE(support::writeFileAtomic(s->stateFile(), text).ok());
  }

  std::optional<std::string> stateText() const {
    auto text = support::readFile(s->stateFile());
    if (!text) return std::nullopt;
    return *text;
  }
};

TEST_F(WindowStateTest, TheFileLivesInTheUserDataDirectory) {
  EXPECT_EQ(s->stateFile(), home.path() +
                                "/Library/Application Support/work.brovik.dira.test/dev/"
                                "window-state.json");
}

TEST_F(WindowStateTest, ReadingChecksTheFileAndTheDisplays) {
  // The default display: 1440 x 900, its work area (0, 25) to (1440, 900).
  struct Case {
    std::string name;
    std::optional<std::string> file;  // nothing: no file
    bool valid;
    bool positioned = false;
  };
  const std::vector<Case> cases = {
      {"no file", std::nullopt, false},
      {"on the display", kSaved, true, true},
      {"419 wide", R"({"X":100,"Y":50,"Width":419,"Height":820,"Maximized":false})", false},
      {"right of every display", R"({"X":1440,"Y":50,"Width":1280,"Height":820,"Maximized":true})",
       true, false},
      {"above the work area", R"({"X":0,"Y":-535,"Width":1280,"Height":560})", true, false},
      {"one pixel on it", R"({"X":-1279,"Y":-534,"Width":1280,"Height":560})", true, true},
      {"text for a number", R"({"X":"100","Y":50,"Width":1280,"Height":820})", false},
      {"not json", "{\"X\":", false},
      {"empty", "", false},
      {"huge", std::string(kSaved) + std::string(shell::kMaxStateFileBytes, ' '), false},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(s->stateFile());
    if (c.file) writeState(*c.file);
    std::optional<shell::savedState> state = s->savedState();
    ASSERT_EQ(state.has_value(), c.valid) << c.name;
    if (state) {
      EXPECT_EQ(state->positioned, c.positioned) << c.name;
    }
  }
}

TEST_F(WindowStateTest, ADirectoryInPlaceOfTheFileIsNoState) {
  std::filesystem::create_directories(s->stateFile());
  EXPECT_FALSE(s->savedState().has_value());
}

TEST_F(WindowStateTest, AFrameOnASecondDisplayIsPositioned) {
  command({{"cmd", "set-displays"},
           {"displays",
            {{{"id", 1},
              {"bounds", {{"x", 0}, {"y", 0}, {"width", 1440}, {"height", 900}}},
              {"workArea", {{"x", 0}, {"y", 25}, {"width", 1440}, {"height", 875}}},
              {"scaleFactor", 2},
              {"isPrimary", true}},
             {{"id", 2},
              {"bounds", {{"x", 1440}, {"y", 0}, {"width", 1920}, {"height", 1080}}},
              {"workArea", {{"x", 1440}, {"y", 0}, {"width", 1920}, {"height", 1080}}},
              {"scaleFactor", 1},
              {"isPrimary", false}}}}});
  writeState(R"({"X":2000,"Y":100,"Width":1280,"Height":820,"Maximized":false})");
  std::optional<shell::savedState> state = s->savedState();
  ASSERT_TRUE(state);
  EXPECT_TRUE(state->positioned);
  EXPECT_EQ(state->X, 2000);
  EXPECT_EQ(state->Width, 1280);
}

TEST_F(WindowStateTest, AFailedDisplayQueryTrustsTheSavedPosition) {
  writeState(R"({"X":5000,"Y":5000,"Width":1280,"Height":820,"Maximized":true})");
  command({{"cmd", "display-answer"}, {"fn", "getAllDisplays"}, {"null", true}, {"error", "gone"}});
  std::optional<shell::savedState> state = s->savedState();
  ASSERT_TRUE(state);
  EXPECT_TRUE(state->positioned) << "a window whose displays are unknown is not moved";
  EXPECT_EQ(state->X, 5000);
  EXPECT_TRUE(state->Maximized);

  // Displays that do not decode are as good as none known.
  command({{"cmd", "display-answer"}, {"fn", "getAllDisplays"}, {"text", "{\"id\":1}"}});
  state = s->savedState();
  ASSERT_TRUE(state);
  EXPECT_TRUE(state->positioned);
}

TEST_F(WindowStateTest, AMainWindowOpensAtTheSavedFrame) {
  // The default display's work area is (0, 25) to (1440, 900).
  enum opening { mainWindow, mainWithoutDisplays, secondary };
  enum placing { centred, kept, maximised };
  struct Case {
    std::string name;
    std::optional<std::string> file;
    opening open;
    std::vector<double> asked;  // the frame createWindow is given
    placing how;
    std::vector<double> frame;  // where the core has the window then
  };
  const std::vector<double> kDefault = {0, 0, 1280, 820};
  const std::vector<double> kCentredDefault = {80, 52.5, 1280, 820};
  const std::vector<Case> cases = {
      {"no file", std::nullopt, mainWindow, kDefault, centred, kCentredDefault},
      {"on the display", kSaved, mainWindow, {100, 50, 1280, 820}, kept, {100, 50, 1280, 820}},
      // As large as the work area, so that maximising moves nothing and no
      // save follows behind the test's back.
      {"maximised",
       R"({"X":0,"Y":25,"Width":1440,"Height":875,"Maximized":true})",
       mainWindow,
       {0, 25, 1440, 875},
       maximised,
       {0, 25, 1440, 875}},
      {"on no display",
       R"({"X":1440,"Y":50,"Width":1000,"Height":700,"Maximized":false})",
       mainWindow,
       {1440, 50, 1000, 700},
       centred,
       {220, 112.5, 1000, 700}},
      {"419 wide", R"({"X":100,"Y":50,"Width":419,"Height":820,"Maximized":false})", mainWindow,
       kDefault, centred, kCentredDefault},
      {"displays unknown",
       R"({"X":5000,"Y":5000,"Width":1280,"Height":820})",
       mainWithoutDisplays,
       {5000, 5000, 1280, 820},
       kept,
       {5000, 5000, 1280, 820}},
      {"a secondary window", kSaved, secondary, kDefault, centred, kCentredDefault},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(s->stateFile());
    if (c.file) writeState(*c.file);
    if (c.open == mainWithoutDisplays) {
      command({{"cmd", "display-answer"}, {"fn", "getAllDisplays"}, {"null", true}});
    }
    standin.clearCalls();
    auto opened = s->openWindow(kTestOrigin, false, c.open != secondary);
    ASSERT_TRUE(opened.ok()) << opened.error().message;
    const uint32_t id = (*opened)->id;
    const json created = callsOf("createWindow").back();
    EXPECT_EQ(std::vector<double>({created[0], created[1], created[2], created[3]}), c.asked);
    EXPECT_EQ(created[10], c.how == centred);
    const json view = callsOf("createWebview").back();
    EXPECT_EQ(view[6], c.asked[2]) << "the web view fills the window";
    EXPECT_EQ(view[7], c.asked[3]);
    EXPECT_EQ(callsOf("maximizeWindow"),
              c.how == maximised ? json::array({json::array({id})}) : json::array());
    const json core = coreWindow(id);
    EXPECT_EQ(std::vector<double>({core["frame"]["x"], core["frame"]["y"], core["frame"]["width"],
                                   core["frame"]["height"]}),
              c.frame);
    EXPECT_EQ(core["maximized"], c.how == maximised);
    if (c.open == mainWithoutDisplays) {
      command({{"cmd", "display-answer"}, {"fn", "getAllDisplays"}});
    }
    ASSERT_TRUE(s->core->CloseWindow(id).ok());
    sync();
  }
}

TEST_F(WindowStateTest, SavingWritesTheLiveFrame) {
  auto w = mainWindow({120, 80, 1300.5, 840});
  s->saveState(w);
  EXPECT_EQ(stateText(), R"({"X":120,"Y":80,"Width":1300.5,"Height":840,"Maximized":false})");

  // A later frame replaces the file whole.
  command({{"cmd", "move-window"}, {"window", w->id.load()}, {"x", -23}, {"y", 40}});
  s->saveState(w);
  EXPECT_EQ(stateText(), R"({"X":-23,"Y":40,"Width":1300.5,"Height":840,"Maximized":false})");
}

TEST_F(WindowStateTest, SavingFollowsTheWindowsState) {
  constexpr const char* kEarlierMaximized =
      R"({"X":100,"Y":50,"Width":1280,"Height":820,"Maximized":true})";
  struct Case {
    std::string name;
    std::optional<std::string> earlier;  // the file before the save
    std::string setup;                   // "maximize", "fullscreen", "narrow", "no frame" or ""
    std::optional<std::string> after;    // nothing: no file
  };
  const std::vector<Case> cases = {
      {"plain, no file", std::nullopt, "",
       R"({"X":200,"Y":100,"Width":1000,"Height":700,"Maximized":false})"},
      {"maximised keeps the earlier frame", kSaved, "maximize", kEarlierMaximized},
      {"maximised without an earlier file", std::nullopt, "maximize", std::nullopt},
      {"maximised over an unusable file",
       R"({"X":100,"Y":50,"Width":419,"Height":820,"Maximized":false})", "maximize",
       R"({"X":100,"Y":50,"Width":419,"Height":820,"Maximized":false})"},
      {"full screen keeps the earlier frame, not maximised", kEarlierMaximized, "fullscreen",
       kSaved},
      {"full screen without an earlier file", std::nullopt, "fullscreen", std::nullopt},
      {"a 400-wide frame leaves the file", kEarlierMaximized, "narrow", kEarlierMaximized},
      {"a frame 559 high leaves the file", kSaved, "short", kSaved},
      {"a failed frame query leaves the file", kSaved, "no frame", kSaved},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(s->stateFile());
    if (c.earlier) writeState(*c.earlier);
    auto w = mainWindow({200, 100, 1000, 700});
    const uint32_t id = w->id;
    if (c.setup == "maximize") {
      ASSERT_TRUE(s->core->MaximizeWindow(id).ok());
    }
    if (c.setup == "fullscreen") {
      ASSERT_TRUE(s->core->SetWindowFullScreen(id, true).ok());
    }
    if (c.setup == "narrow") {
      command({{"cmd", "resize-window"}, {"window", id}, {"width", 400}, {"height", 700}});
    }
    if (c.setup == "short") {
      command({{"cmd", "resize-window"}, {"window", id}, {"width", 1000}, {"height", 559}});
    }
    if (c.setup == "no frame") standin.failNext("getWindowFrame", "no frame");
    s->saveState(w);
    EXPECT_EQ(stateText(), c.after) << c.name;
  }
}

TEST_F(WindowStateTest, ALinkedStateFileStaysALink) {
  std::string real = home.write("dotfiles/window-state.json", kSaved);
  std::filesystem::create_directories(std::filesystem::path(s->stateFile()).parent_path());
  std::filesystem::create_symlink(real, s->stateFile());
  auto w = mainWindow({300, 200, 1100, 760});
  s->saveState(w);
  EXPECT_TRUE(std::filesystem::is_symlink(s->stateFile()));
  EXPECT_EQ(testing_support::readAll(real),
            R"({"X":300,"Y":200,"Width":1100,"Height":760,"Maximized":false})");
}

// Saves as the windows move, with the timers' time in the test's hands.
class FrameSaveTest : public testing_support::ShellTest {
 protected:
  shell::windowPtr open(bool isMain) {
    auto opened = s->openWindow(kTestOrigin, true, isMain);
    EXPECT_TRUE(opened.ok()) << opened.error().message;
    return opened.ok() ? *opened : nullptr;
  }

  // The core reports the move, and the window's callbacks have run.
  void move(const shell::windowPtr& w, double x, double y) {
    command({{"cmd", "move-window"}, {"window", w->id.load()}, {"x", x}, {"y", y}});
    sync();
  }

  // Only a save asks for a window's frame.
  size_t saves(const shell::windowPtr& w) {
    size_t n = 0;
    for (const json& args : callsOf("getWindowFrame")) n += args[0] == w->id.load();
    return n;
  }

  std::optional<std::string> stateText() const {
    auto text = support::readFile(s->stateFile());
    if (!text) return std::nullopt;
    return *text;
  }

  // Whatever opening the windows set off has come and gone.
  void settle() {
    sync();
    clock.advance(std::chrono::hours(1));
    std::filesystem::remove(s->stateFile());
    standin.clearCalls();
  }

  support::TimerTestClock clock;
};

TEST_F(FrameSaveTest, ABurstOfMovesIsWrittenOnceHalfASecondAfterTheLast) {
  auto w = open(true);
  ASSERT_TRUE(w);
  settle();
  move(w, 100, 100);
  clock.advance(std::chrono::milliseconds(300));
  move(w, 200, 150);
  clock.advance(std::chrono::milliseconds(300));
  move(w, 300, 200);
  clock.advance(std::chrono::milliseconds(499));
  EXPECT_EQ(saves(w), 0u);
  EXPECT_EQ(stateText(), std::nullopt);

  clock.advance(std::chrono::milliseconds(1));
  EXPECT_EQ(saves(w), 1u);
  EXPECT_EQ(stateText(), R"({"X":300,"Y":200,"Width":1280,"Height":820,"Maximized":false})");
  clock.advance(std::chrono::hours(1));
  EXPECT_EQ(saves(w), 1u) << "the earlier moves' saves were called off";
}

TEST_F(FrameSaveTest, ASecondaryWindowsMovesNeverWriteTheState) {
  auto mainWindow = open(true);
  auto secondary = open(false);
  ASSERT_TRUE(mainWindow && secondary);
  settle();
  move(secondary, 100, 100);
  command({{"cmd", "resize-window"},
           {"window", secondary->id.load()},
           {"width", 900},
           {"height", 700}});
  sync();
  move(secondary, 300, 200);
  clock.advance(std::chrono::hours(1));
  EXPECT_EQ(saves(secondary), 0u);
  EXPECT_EQ(stateText(), std::nullopt);

  // The main window's move alongside is written, and only its frame.
  move(mainWindow, 40, 60);
  move(secondary, 500, 400);
  clock.advance(std::chrono::hours(1));
  EXPECT_EQ(saves(secondary), 0u);
  EXPECT_EQ(stateText(), R"({"X":40,"Y":60,"Width":1280,"Height":820,"Maximized":false})");
}

}  // namespace
