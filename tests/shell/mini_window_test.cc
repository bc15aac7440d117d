// The call pop-up's window: what the core is given, where it goes, and the
// file that remembers where the user left it.
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "shell/mini_window.h"
#include "support/file.h"
#include "tests/shell/shell_fixture.h"

namespace nimbrel {
// Frames read as frames in failure messages.
static void PrintTo(const Rect& r, std::ostream* out) {
  *out << "{" << r.X << ", " << r.Y << ", " << r.Width << ", " << r.Height << "}";
}
}  // namespace nimbrel

namespace {

using nimbrel::Rect;
using nlohmann::json;
using testing_support::kTestOrigin;

json rect(double x, double y, double w, double h) {
  return {{"x", x}, {"y", y}, {"width", w}, {"height", h}};
}

json display(int id, const json& bounds, const json& workArea, bool primary) {
  return {{"id", id},
          {"bounds", bounds},
          {"workArea", workArea},
          {"scaleFactor", 2},
          {"isPrimary", primary}};
}

// One display whose work area is the whole of it.
json onlyDisplay(double w, double h) {
  return json::array({display(1, rect(0, 0, w, h), rect(0, 0, w, h), true)});
}

class MiniWindowTest : public testing_support::ShellTest {
 protected:
  void TearDown() override {
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

  bool inTable(uint32_t id) {
    std::lock_guard lock(s->mu);
    return s->windows.count(id) != 0;
  }

  void saveFile(const std::string& text) {
    ASSERT_TRUE(support::writeFileAtomic(s->miniFile(), text).ok());
  }

  // The pop-up window as showMini makes it.
  shell::windowPtr openPopup() {
    auto opened = s->openMini();
    EXPECT_TRUE(opened.ok()) << opened.error().message;
    if (!opened) return nullptr;
    std::lock_guard lock(s->mini.mu);
    s->mini.win = *opened;
    s->mini.shown = true;
    return *opened;
  }

  std::optional<std::string> fileText() {
    auto text = support::readFile(s->miniFile());
    if (!text) return std::nullopt;
    return *text;
  }

  size_t frameQueries(uint32_t id) {
    size_t n = 0;
    for (const json& args : callsOf("getWindowFrame")) n += args[0] == id;
    return n;
  }
};

// ---- Placement -------------------------------------------------------------

struct placeCase {
  std::string name = "";
  json displays = nullptr;                          // null: the stand-in's own display
  bool noDisplayAnswers = false;                    // both display queries fail
  std::optional<std::string> saved = std::nullopt;  // the file's text
  bool savedIsDirectory = false;
  std::optional<json> mainAt = std::nullopt;  // moves the main window there
  bool noMain = false;
  std::optional<json> primaryAnswer = std::nullopt;  // getPrimaryDisplay's answer instead
  Rect want = {};
};

class MiniPlacement : public MiniWindowTest, public ::testing::WithParamInterface<placeCase> {};

TEST_P(MiniPlacement, FramesThePopup) {
  const placeCase& c = GetParam();
  if (!c.displays.is_null()) command({{"cmd", "set-displays"}, {"displays", c.displays}});
  if (c.saved) saveFile(*c.saved);
  if (c.savedIsDirectory) {
    ASSERT_TRUE(support::makeDirs(s->miniFile()).ok());
  }
  if (!c.noMain) {
    auto mainWindow = openMain();
    ASSERT_TRUE(mainWindow);
    if (c.mainAt) {
      command({{"cmd", "move-window"},
               {"window", mainWindow->id.load()},
               {"x", (*c.mainAt)[0]},
               {"y", (*c.mainAt)[1]}});
    }
  }
  if (c.noDisplayAnswers) {
    for (const char* fn : {"getPrimaryDisplay", "getAllDisplays"}) {
      command({{"cmd", "display-answer"}, {"fn", fn}, {"null", true}, {"error", "no screens"}});
    }
  }
  if (c.primaryAnswer) {
    command({{"cmd", "display-answer"},
             {"fn", "getPrimaryDisplay"},
             {"text", c.primaryAnswer->dump()}});
  }
  EXPECT_EQ(s->miniFrame(), c.want);
}

const json kTwoSideBySide =
    json::array({display(1, rect(0, 0, 1440, 900), rect(0, 25, 1440, 875), true),
                 display(2, rect(1440, 0, 1920, 1080), rect(1440, 0, 1920, 1080), false)});

INSTANTIATE_TEST_SUITE_P(
    Cases, MiniPlacement,
    ::testing::Values(
        placeCase{.name = "PrimaryCorner", .want = {1076, 476, 340, 400}},
        placeCase{
            .name = "NoDisplaysAtAll", .noDisplayAnswers = true, .want = {916, 376, 340, 400}},
        placeCase{.name = "AShortWorkArea",
                  .displays = onlyDisplay(1024, 400),
                  .want = {660, 24, 340, 352}},
        placeCase{.name = "MainOnTheSecondDisplay",
                  .displays = kTwoSideBySide,
                  .mainAt = json::array({2000, 100}),
                  .want = {2996, 656, 340, 400}},
        placeCase{.name = "NoMainWindow", .noMain = true, .want = {1076, 476, 340, 400}},
        placeCase{.name = "APrimaryOfNoWidth",
                  .noMain = true,
                  .primaryAnswer = display(1, rect(0, 0, 0, 0), rect(0, 0, 0, 900), true),
                  .want = {916, 376, 340, 400}},
        placeCase{.name = "APrimaryOfNoHeight",
                  .noMain = true,
                  .primaryAnswer = display(1, rect(0, 0, 0, 0), rect(0, 0, 1440, 0), true),
                  .want = {916, 376, 340, 400}},
        placeCase{.name = "SavedFrameRestored",
                  .displays = onlyDisplay(1440, 875),
                  .saved = R"({"Height":300,"Width":400,"X":1200,"Y":600})",
                  .want = {1040, 575, 400, 300}},
        placeCase{.name = "SavedLowerCaseKeys",
                  .displays = onlyDisplay(1440, 875),
                  .saved = R"({"x":1200,"y":600,"width":400,"height":300})",
                  .want = {1040, 575, 400, 300}},
        placeCase{.name = "SavedTooNarrow",
                  .displays = onlyDisplay(1440, 875),
                  .saved = R"({"X":100,"Y":100,"Width":219,"Height":300})",
                  .want = {1076, 451, 340, 400}},
        placeCase{.name = "SavedTooShort",
                  .displays = onlyDisplay(1440, 875),
                  .saved = R"({"X":100,"Y":100,"Width":300,"Height":179})",
                  .want = {1076, 451, 340, 400}},
        placeCase{.name = "SavedSmallestKept",
                  .displays = onlyDisplay(1440, 875),
                  .saved = R"({"X":100,"Y":100,"Width":220,"Height":180})",
                  .want = {100, 100, 220, 180}},
        placeCase{.name = "SavedCentreOnTheRightEdge",
                  .displays = onlyDisplay(1440, 875),
                  .saved = R"({"X":1330,"Y":100,"Width":220,"Height":180})",
                  .want = {1076, 451, 340, 400}},
        placeCase{.name = "SavedCentreOnTheBottomEdge",
                  .displays = onlyDisplay(1440, 875),
                  .saved = R"({"X":100,"Y":785,"Width":220,"Height":180})",
                  .want = {1076, 451, 340, 400}},
        placeCase{.name = "SavedCentreOnTheEdgeOfTheNextArea",
                  .displays = kTwoSideBySide,
                  .saved = R"({"X":1330,"Y":100,"Width":220,"Height":180})",
                  .want = {1440, 100, 220, 180}},
        placeCase{.name = "SavedLargerThanTheArea",
                  .displays = onlyDisplay(1440, 875),
                  .saved = R"({"X":0,"Y":0,"Width":2000,"Height":1000})",
                  .want = {0, 0, 1440, 875}},
        placeCase{.name = "SavedPushedInside",
                  .displays = onlyDisplay(1440, 875),
                  .saved = R"({"X":-100,"Y":-50,"Width":400,"Height":300})",
                  .want = {0, 0, 400, 300}},
        placeCase{.name = "SavedTextForANumber",
                  .displays = onlyDisplay(1440, 875),
                  .saved = R"({"X":"1200","Y":600,"Width":400,"Height":300})",
                  .want = {1076, 451, 340, 400}},
        placeCase{.name = "SavedNotJson",
                  .displays = onlyDisplay(1440, 875),
                  .saved = R"({X:1200,Y:600,Width:400,Height:300})",
                  .want = {1076, 451, 340, 400}},
        placeCase{.name = "SavedIsADirectory",
                  .displays = onlyDisplay(1440, 875),
                  .savedIsDirectory = true,
                  .want = {1076, 451, 340, 400}},
        placeCase{.name = "SavedOnTheStandinsDisplay",
                  .saved = R"({"X":1200,"Y":600,"Width":400,"Height":300})",
                  .want = {1040, 600, 400, 300}}),
    [](const ::testing::TestParamInfo<placeCase>& param) { return param.param.name; });

// The list query fails while the primary display answers.
TEST_F(MiniWindowTest, ASavedFrameWithoutTheDisplayListIsNotTrusted) {
  saveFile(R"({"X":1200,"Y":600,"Width":400,"Height":300})");
  ASSERT_TRUE(openMain());
  command({{"cmd", "display-answer"}, {"fn", "getAllDisplays"}, {"null", true}});
  EXPECT_EQ(s->miniFrame(), (Rect{1076, 476, 340, 400}));
}

TEST_F(MiniWindowTest, TheCoreIsAskedInItsOrder) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  auto asked = [&] {
    std::vector<std::string> out;
    for (const std::string& fn : callNames()) {
      if (fn == "getAllDisplays" || fn == "getPrimaryDisplay" || fn == "getWindowFrame") {
        out.push_back(fn);
      }
    }
    return out;
  };
  standin.clearCalls();
  (void)s->miniFrame();
  EXPECT_EQ(asked(),
            (std::vector<std::string>{"getPrimaryDisplay", "getWindowFrame", "getAllDisplays"}));

  saveFile(R"({"X":-5000,"Y":0,"Width":400,"Height":300})");  // on no display
  standin.clearCalls();
  (void)s->miniFrame();
  EXPECT_EQ(asked(), (std::vector<std::string>{"getAllDisplays", "getPrimaryDisplay",
                                               "getWindowFrame", "getAllDisplays"}));

  saveFile(R"({"X":100,"Y":100,"Width":400,"Height":300})");
  standin.clearCalls();
  EXPECT_EQ(s->miniFrame(), (Rect{100, 100, 400, 300}));
  EXPECT_EQ(asked(), std::vector<std::string>{"getAllDisplays"});
}

TEST(MiniPlace, KeepsThePopupInsideEvenATinyWorkArea) {
  struct Case {
    std::string name;
    Rect area;
    Rect want;
  };
  const std::vector<Case> cases = {
      {"the corner, 24 from either edge", {0, 25, 1440, 875}, {1076, 476, 340, 400}},
      {"48 left free below the greatest height", {0, 0, 1024, 400}, {660, 24, 340, 352}},
      {"a second display's area", {1440, 0, 1920, 1080}, {2996, 656, 340, 400}},
      {"just taller than the free part", {0, 0, 800, 49}, {436, 24, 340, 1}},
      {"no taller than the free part", {0, 0, 800, 48}, {436, 0, 340, 48}},
      {"lower still", {100, 200, 800, 30}, {536, 200, 340, 30}},
      {"no room for the right margin", {0, 0, 350, 600}, {0, 176, 340, 400}},
      {"narrower than the pop-up", {50, 0, 300, 600}, {50, 176, 300, 400}},
      {"both", {10, 20, 200, 40}, {10, 20, 200, 40}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Rect frame = shell::miniPlace(c.area);
    EXPECT_EQ(frame, c.want);
    EXPECT_GT(frame.Width, 0);
    EXPECT_GT(frame.Height, 0);
    EXPECT_GE(frame.X, c.area.X);
    EXPECT_GE(frame.Y, c.area.Y);
    EXPECT_LE(frame.X + frame.Width, c.area.X + c.area.Width);
    EXPECT_LE(frame.Y + frame.Height, c.area.Y + c.area.Height);
  }
}

TEST(MiniRestore, FitsTheFirstAreaThatHoldsTheCentre) {
  struct Case {
    std::string name;
    Rect saved;
    std::vector<Rect> areas;
    std::optional<Rect> want;
  };
  const std::vector<Rect> two = {{0, 0, 1000, 800}, {1000, 0, 500, 400}};
  const std::vector<Case> cases = {
      {"inside", {10, 20, 300, 200}, two, Rect{10, 20, 300, 200}},
      {"centre on the left edge of the second", {850, 0, 300, 200}, two, Rect{1000, 0, 300, 200}},
      {"shrunk to a small area",
       {1000, 0, 800, 600},
       {{1000, 0, 500, 400}},
       Rect{1000, 0, 500, 400}},
      {"pushed in from the right and bottom", {800, 650, 300, 200}, two, Rect{700, 600, 300, 200}},
      {"first in list order",
       {100, 100, 300, 200},
       {{0, 0, 800, 600}, {0, 0, 400, 400}},
       Rect{100, 100, 300, 200}},
      {"no area", {5000, 5000, 300, 200}, two, std::nullopt},
      {"no areas at all", {10, 20, 300, 200}, {}, std::nullopt},
      {"an area too small keeps it smaller than the least",
       {0, 0, 400, 300},
       {{0, 0, 250, 200}},
       Rect{0, 0, 250, 200}},
      {"219 wide", {10, 20, 219, 200}, two, std::nullopt},
      {"179 high", {10, 20, 300, 179}, two, std::nullopt},
      {"not a number", {10, 20, std::numeric_limits<double>::quiet_NaN(), 200}, two, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(shell::miniRestore(c.saved, c.areas), c.want) << c.name;
  }
}

// ---- The file ----------------------------------------------------------------

TEST(MiniFrameFile, IsWrittenInItsExactForm) {
  EXPECT_EQ(*shell::encodeMiniFrame({1076, 476, 340, 400}),
            R"({"Height":400,"Width":340,"X":1076,"Y":476})");
  EXPECT_EQ(*shell::encodeMiniFrame({-0.5, 1e21, 340.25, 0.1}),
            R"({"Height":0.1,"Width":340.25,"X":-0.5,"Y":1e+21})");
  EXPECT_FALSE(shell::encodeMiniFrame({0, 0, std::numeric_limits<double>::infinity(), 1}).ok());
  EXPECT_FALSE(shell::encodeMiniFrame({std::nan(""), 0, 340, 400}).ok());
}

TEST(MiniFrameFile, IsReadLeniently) {
  struct Case {
    std::string text;
    std::optional<Rect> want;
  };
  const std::vector<Case> cases = {
      {R"({"Height":400,"Width":340,"X":1076,"Y":476})", Rect{1076, 476, 340, 400}},
      {R"({"x":1,"y":2,"width":3,"height":4})", Rect{1, 2, 3, 4}},
      {R"({"X":1,"Width":null,"Other":"x"})", Rect{1, 0, 0, 0}},
      {" {} \n", Rect{}},
      {R"({"X":"1"})", std::nullopt},
      {R"({"X":true})", std::nullopt},
      {R"({"X":1e400})", std::nullopt},
      {"[1,2,3,4]", std::nullopt},
      {R"({"X":1} x)", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(shell::decodeMiniFrame(c.text), c.want) << c.text;
  }
}

TEST_F(MiniWindowTest, TheFileLivesInTheUserDataDirectory) {
  EXPECT_EQ(s->miniFile(), s->paths.UserData + "/call-mini.json");
  EXPECT_FALSE(s->savedMiniFrame());
  saveFile(std::string(70 * 1024, ' ') + R"({"X":1,"Y":2,"Width":300,"Height":200})");
  EXPECT_FALSE(s->savedMiniFrame()) << "far too large to be ours";
  saveFile(R"({"X":1,"Y":2,"Width":3,"Height":4})");
  EXPECT_EQ(s->savedMiniFrame(), (Rect{1, 2, 3, 4})) << "no size test when reading";
}

// ---- The window --------------------------------------------------------------

TEST_F(MiniWindowTest, OpeningHandsTheCoreEveryValue) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  standin.clearCalls();
  auto opened = s->openMini();
  ASSERT_TRUE(opened.ok()) << opened.error().message;
  auto w = *opened;
  EXPECT_EQ(callsOf("getWindowStyle").back(), json({true, false, true, false, true, false, false,
                                                    false, false, false, false, false}));
  json created = callsOf("createWindow").back();
  // Frame, style mask, title-bar style, Flag1, title, Flag2, Flag3, Flag4, numbers.
  EXPECT_EQ(json({created[0], created[1], created[2], created[3]}),
            json({1076.0, 476.0, 340.0, 400.0}));
  EXPECT_EQ(created[5], "hidden");
  EXPECT_EQ(created[6], false);
  EXPECT_EQ(created[7], "Brovik Dira");
  EXPECT_EQ(json({created[8], created[9], created[10]}), json({false, false, false}));
  EXPECT_EQ(json({created[11], created[12]}), json({0.0, 0.0}));
  EXPECT_EQ(callsOf("setWindowAlwaysOnTop"), json::array({json({w->id.load(), true})}));
  EXPECT_EQ(callsOf("setWindowVisibleOnAllWorkspaces"), json::array({json({w->id.load(), true})}));
  EXPECT_TRUE(callsOf("setWindowButtonPosition").empty());
  EXPECT_TRUE(callsOf("setWebviewNavigationRules").empty());
  EXPECT_EQ(callsOf("setNextWebviewAllowedProtocols").back(), json({false, false}));

  json view = callsOf("createWebview").back();
  EXPECT_EQ(view[0], w->id.load());
  EXPECT_EQ(view[1], 0);
  EXPECT_EQ(view[2], "native");
  EXPECT_EQ(view[3], std::string(kTestOrigin) + "/call-mini");
  EXPECT_EQ(json({view[4], view[5], view[6], view[7]}), json({0.0, 0.0, 340.0, 400.0}));
  EXPECT_EQ(view[8], true);
  EXPECT_EQ(view[9], "persist:brovik-work");
  EXPECT_EQ(view[15], s->webviewKey);
  EXPECT_EQ(view[16], s->preload);
  EXPECT_EQ(view[17], "");
  EXPECT_EQ(json({view[18], view[19], view[20], view[21]}), json({false, false, false, false}));

  const json core = coreWindow(w->id);
  EXPECT_EQ(core["visible"], true);
  EXPECT_EQ(core["alwaysOnTop"], true);
  EXPECT_EQ(core["visibleOnAllWorkspaces"], true);
  // No focus or blur: the pop-up never takes part in the main window's logic.
  EXPECT_EQ(core["callbacks"]["focus"], 0);
  EXPECT_EQ(core["callbacks"]["blur"], 0);
  EXPECT_EQ(core["callbacks"]["key"], 0);
  EXPECT_NE(core["callbacks"]["move"], 0);
  EXPECT_NE(core["callbacks"]["resize"], 0);
  EXPECT_NE(core["callbacks"]["close"], 0);
  EXPECT_NE(core["callbacks"]["shouldClose"], 0);
  EXPECT_NE(view[10], 0) << "decide-navigation";
  EXPECT_NE(view[11], 0) << "events";
  EXPECT_NE(view[12], 0) << "event bridge";
  EXPECT_NE(view[13], 0) << "host bridge";
  EXPECT_EQ(view[14], 0) << "internal bridge";

  EXPECT_FALSE(w->main);
  EXPECT_FALSE(w->isActive());
  EXPECT_TRUE(inTable(w->id));
}

TEST_F(MiniWindowTest, AFailedWindowOrWebviewLeavesNothingBehind) {
  standin.failNext("createWindow", "no window");
  auto opened = s->openMini();
  ASSERT_FALSE(opened.ok());
  EXPECT_EQ(opened.error().message, "no window");

  standin.failNext("createWebview", "no web view");
  opened = s->openMini();
  ASSERT_FALSE(opened.ok());
  EXPECT_EQ(opened.error().message, "no web view");
  EXPECT_EQ(callsOf("closeWindow").size(), 1u);
  sync();
  std::lock_guard lock(s->mu);
  EXPECT_TRUE(s->windows.empty());
}

TEST_F(MiniWindowTest, AFailedOpeningShowsNothing) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  {
    std::lock_guard lock(s->mini.mu);
    s->mini.active = true;
  }
  mainWindow->setActive(false);  // away, so the show goes as far as the window
  standin.clearCalls();
  standin.failNext("createWindow", "no window");
  s->showMini(mainWindow);
  sync();
  EXPECT_EQ(callsOf("createWindow").size(), 1u);
  EXPECT_TRUE(events(mainWindow, "bk:mini").empty());
  std::lock_guard lock(s->mini.mu);
  EXPECT_FALSE(s->mini.shown);
  EXPECT_EQ(s->mini.win, nullptr);
}

TEST_F(MiniWindowTest, MovesWithinTheDelayWriteTheFileOnce) {
  auto w = openPopup();
  ASSERT_TRUE(w);
  standin.clearCalls();
  for (int x : {100, 200, 300}) {
    command({{"cmd", "move-window"}, {"window", w->id.load()}, {"x", x}, {"y", 50.5}});
  }
  ASSERT_TRUE(eventually([&] { return fileText().has_value(); }));
  // Any save still pending would show here.
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  EXPECT_EQ(frameQueries(w->id), 1u);
  EXPECT_EQ(fileText(), R"({"Height":400,"Width":340,"X":300,"Y":50.5})");
  struct stat st {};
  ASSERT_EQ(::stat(s->miniFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  ASSERT_EQ(::stat(s->paths.UserData.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(MiniWindowTest, ASizeTooSmallWritesNothing) {
  saveFile(R"({"Height":400,"Width":340,"X":1,"Y":2})");
  auto w = openPopup();
  ASSERT_TRUE(w);
  standin.clearCalls();
  command({{"cmd", "resize-window"}, {"window", w->id.load()}, {"width", 219}, {"height", 400}});
  ASSERT_TRUE(eventually([&] { return frameQueries(w->id) == 1; }));
  sync();
  command({{"cmd", "resize-window"}, {"window", w->id.load()}, {"width", 220}, {"height", 179}});
  ASSERT_TRUE(eventually([&] { return frameQueries(w->id) == 2; }));
  // The save that looked at the frame has had its time to write.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(fileText(), R"({"Height":400,"Width":340,"X":1,"Y":2})");

  command({{"cmd", "resize-window"}, {"window", w->id.load()}, {"width", 220}, {"height", 180}});
  ASSERT_TRUE(eventually([&] {
    return fileText() == std::optional<std::string>(R"({"Height":180,"Width":220,"X":1,"Y":25})");
  }));
}

TEST_F(MiniWindowTest, TheCoreClosingAShownPopupTellsTheMainPage) {
  auto mainWindow = openMain();
  auto w = openPopup();
  ASSERT_TRUE(mainWindow && w);
  ASSERT_TRUE(s->core->CloseWindow(w->id).ok());
  ASSERT_TRUE(eventually([&] { return !inTable(w->id); }));
  sync();
  EXPECT_EQ(events(mainWindow, "bk:mini"), std::vector<json>{json({{"shown", false}})});
  std::lock_guard lock(s->mini.mu);
  EXPECT_EQ(s->mini.win, nullptr);
  EXPECT_FALSE(s->mini.shown);
}

TEST_F(MiniWindowTest, AClosedWindowThatIsNotThePopupChangesNothing) {
  auto mainWindow = openMain();
  ASSERT_TRUE(mainWindow);
  auto stray = s->openMini();  // made, never taken up as the pop-up
  auto w = openPopup();
  ASSERT_TRUE(stray.ok() && w);
  ASSERT_TRUE(s->core->CloseWindow((*stray)->id).ok());
  ASSERT_TRUE(eventually([&] { return !inTable((*stray)->id); }));
  sync();
  EXPECT_TRUE(events(mainWindow, "bk:mini").empty());
  std::lock_guard lock(s->mini.mu);
  EXPECT_EQ(s->mini.win, w);
  EXPECT_TRUE(s->mini.shown);
}

}  // namespace
