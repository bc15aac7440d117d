// Window operations against the stand-in core: what the core receives, in
// which order, and how its failures come back.
#include "binding/windows.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "binding/nm_helpers.h"
#include "tests/binding/core_fixture.h"
#include "tests/binding/geometry_printers.h"

namespace {

using nimbrel::NewWindowOptions;
using nimbrel::Rect;
using nimbrel::WindowCallbacks;
using nimbrel::WindowOptions;
using nlohmann::json;
using testing_support::addressOf;

using WindowTest = testing_support::CoreTest;

uint32_t mustCreate(const nimbrel::Core& core, WindowOptions options) {
  auto id = core.CreateWindow(std::move(options));
  EXPECT_TRUE(id.ok()) << id.error().message;
  return id.ok() ? *id : 0;
}

TEST(WindowOptions, TheConstructorsDefaults) {
  nimbrel::WindowStyle standard = nimbrel::StandardWindowStyle();
  nimbrel::WindowStyle expected;
  expected.Flag2 = expected.Flag3 = expected.Flag4 = expected.Flag5 = true;
  EXPECT_EQ(standard, expected);

  WindowOptions o = NewWindowOptions("Brovik Dira", {1, 2, 3, 4});
  EXPECT_EQ(o.Title, "Brovik Dira");
  EXPECT_EQ(o.Frame, (Rect{1, 2, 3, 4}));
  EXPECT_EQ(o.Style, expected);
  EXPECT_EQ(o.TitleBarStyle, "default");
  EXPECT_FALSE(o.Flag1);
  EXPECT_FALSE(o.Flag2);
  EXPECT_TRUE(o.Flag3);
  EXPECT_FALSE(o.Flag4);
  EXPECT_EQ(o.Number1, 0);
  EXPECT_EQ(o.Number2, 0);
  EXPECT_FALSE(o.Callbacks.Close || o.Callbacks.ShouldClose || o.Callbacks.Move ||
               o.Callbacks.Resize || o.Callbacks.Focus || o.Callbacks.Blur || o.Callbacks.Key);
}

TEST_F(WindowTest, CreateWindowHandsEveryValueToTheCoreInItsOrder) {
  WindowOptions o = NewWindowOptions("Brovik Dira", {10, 20, 1280, 800});
  o.Style.Flag1 = true;
  o.Style.Flag5 = false;
  o.Style.Flag8 = true;
  o.Style.Flag12 = true;
  o.TitleBarStyle = "hiddenInset";
  o.Flag1 = true;
  o.Flag2 = false;
  o.Flag3 = false;
  o.Flag4 = false;
  o.Number1 = 1.5;
  o.Number2 = -2;
  standin.clearCalls();
  uint32_t id = mustCreate(core(), o);
  ASSERT_NE(id, 0u);

  json style = callRecords("getWindowStyle");
  ASSERT_EQ(style.size(), 1u);
  EXPECT_EQ(style[0]["args"],
            json({true, true, true, true, false, false, false, true, false, false, false, true}));
  json args = lastArgs("createWindow");
  ASSERT_EQ(args.size(), 20u);
  EXPECT_EQ(args, json({10,
                        20,
                        1280,
                        800,
                        style[0]["result"],
                        "hiddenInset",
                        true,
                        "Brovik Dira",
                        false,
                        false,
                        false,
                        1.5,
                        -2,
                        0,
                        0,
                        0,
                        0,
                        0,
                        0,
                        0}));
  EXPECT_EQ(window(id)["title"], "Brovik Dira");
  // A good id is not checked against the last-error text.
  EXPECT_FALSE(called("nimbrel_core_last_error"));
}

TEST_F(WindowTest, TheConstructorsRecordReachesTheCoreUnchanged) {
  ASSERT_NE(mustCreate(core(), NewWindowOptions("", {0, 0, 800, 600})), 0u);
  EXPECT_EQ(lastArgs("getWindowStyle"),
            json({false, true, true, true, true, false, false, false, false, false, false, false}));
  json args = lastArgs("createWindow");
  ASSERT_EQ(args.size(), 20u);
  // An empty title is an empty C string, not NULL and not an error.
  EXPECT_EQ(json(std::vector<json>(args.begin() + 5, args.end())),
            json({"default", false, "", false, true, false, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

// The core takes the callbacks in the order close, move, resize, focus, blur,
// key, should-close: not the field order of WindowCallbacks.
TEST_F(WindowTest, EachCallbackLandsInItsOwnParameter) {
  const uint64_t close = addressOf(&nm_window_close_cb), move = addressOf(&nm_window_move_cb),
                 resize = addressOf(&nm_window_resize_cb), focus = addressOf(&nm_window_focus_cb),
                 blur = addressOf(&nm_window_blur_cb), key = addressOf(&nm_window_key_cb),
                 shouldClose = addressOf(&nm_window_should_close_cb);
  struct Case {
    const char* name;
    std::function<void(WindowCallbacks&)> set;
    json slots14to20;
  } cases[] = {
      {"none", [](WindowCallbacks&) {}, json({0, 0, 0, 0, 0, 0, 0})},
      {"Close", [](WindowCallbacks& c) { c.Close = [](uint32_t) {}; },
       json({close, 0, 0, 0, 0, 0, 0})},
      {"ShouldClose", [](WindowCallbacks& c) { c.ShouldClose = [](uint32_t) {}; },
       json({0, 0, 0, 0, 0, 0, shouldClose})},
      {"Move", [](WindowCallbacks& c) { c.Move = [](uint32_t, double, double) {}; },
       json({0, move, 0, 0, 0, 0, 0})},
      {"Resize",
       [](WindowCallbacks& c) { c.Resize = [](uint32_t, double, double, double, double) {}; },
       json({0, 0, resize, 0, 0, 0, 0})},
      {"Focus", [](WindowCallbacks& c) { c.Focus = [](uint32_t) {}; },
       json({0, 0, 0, focus, 0, 0, 0})},
      {"Blur", [](WindowCallbacks& c) { c.Blur = [](uint32_t) {}; },
       json({0, 0, 0, 0, blur, 0, 0})},
      {"Key",
       [](WindowCallbacks& c) { c.Key = [](uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}; },
       json({0, 0, 0, 0, 0, key, 0})},
      {"all",
       [](WindowCallbacks& c) {
         c.Close = c.ShouldClose = c.Focus = c.Blur = [](uint32_t) {};
         c.Move = [](uint32_t, double, double) {};
         c.Resize = [](uint32_t, double, double, double, double) {};
         c.Key = [](uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {};
       },
       json({close, move, resize, focus, blur, key, shouldClose})},
  };
  for (const auto& c : cases) {
    WindowOptions o = NewWindowOptions(c.name, {0, 0, 100, 100});
    o.Flag3 = false;
    c.set(o.Callbacks);
    ASSERT_NE(mustCreate(core(), o), 0u) << c.name;
    json args = lastArgs("createWindow");
    ASSERT_EQ(args.size(), 20u);
    EXPECT_EQ(json(std::vector<json>(args.begin() + 13, args.end())), c.slots14to20) << c.name;
  }
}

TEST_F(WindowTest, CreatedWindowsReportTheirEventsToTheirOwnCallbacks) {
  std::mutex mu;
  std::vector<std::string> seen;
  auto record = [&](std::string what) {
    std::lock_guard lock(mu);
    seen.push_back(std::move(what));
  };
  auto callbacksFor = [&](const std::string& name) {
    WindowCallbacks c;
    c.Focus = [&, name](uint32_t) { record(name + " focus"); };
    c.Blur = [&, name](uint32_t) { record(name + " blur"); };
    c.ShouldClose = [&, name](uint32_t) { record(name + " should-close"); };
    c.Close = [&, name](uint32_t) { record(name + " close"); };
    c.Move = [&, name](uint32_t, double x, double y) {
      record(name + " move " + std::to_string(int(x)) + "," + std::to_string(int(y)));
    };
    return c;
  };
  WindowOptions a = NewWindowOptions("a", {0, 30, 400, 300});
  a.Callbacks = callbacksFor("a");
  WindowOptions b = NewWindowOptions("b", {0, 30, 400, 300});
  b.Callbacks = callbacksFor("b");
  b.Flag3 = false;  // shown, but it does not take the focus
  uint32_t idA = mustCreate(core(), a);
  uint32_t idB = mustCreate(core(), b);

  command({{"cmd", "focus"}, {"window", idB}});
  command({{"cmd", "move-window"}, {"window", idA}, {"x", 5}, {"y", 40}});
  // The close button only asks; the window stays open until CloseWindow.
  command({{"cmd", "click-close"}, {"window", idB}});
  EXPECT_FALSE(window(idB).is_null());
  ASSERT_TRUE(core().CloseWindow(idB).ok());
  sync();
  EXPECT_TRUE(window(idB).is_null());

  std::lock_guard lock(mu);
  EXPECT_EQ(seen, (std::vector<std::string>{"a focus", "a blur", "b focus", "a move 5,40",
                                            "b should-close", "b blur", "b close"}));
}

TEST_F(WindowTest, CallbacksRunOnTheCoresThread) {
  std::atomic<std::thread::id> ranOn;
  WindowOptions o = NewWindowOptions("t", {0, 30, 400, 300});
  o.Callbacks.ShouldClose = [&](uint32_t) { ranOn = std::this_thread::get_id(); };
  uint32_t id = mustCreate(core(), o);
  command({{"cmd", "click-close"}, {"window", id}});
  EXPECT_NE(ranOn.load(), std::thread::id());
  EXPECT_NE(ranOn.load(), std::this_thread::get_id());
}

TEST_F(WindowTest, AFocusCallbackMayCreateAWindow) {
  std::atomic<uint32_t> created = 0;
  std::atomic<int> secondFocused = 0;
  WindowOptions first = NewWindowOptions("first", {0, 30, 400, 300});
  first.Flag3 = false;
  first.Callbacks.Focus = [&](uint32_t) {
    if (created != 0) return;
    WindowOptions second = NewWindowOptions("second", {50, 60, 400, 300});
    second.Flag3 = false;
    second.Callbacks.Focus = [&](uint32_t) { ++secondFocused; };
    auto id = core().CreateWindow(second);
    created = id.ok() ? *id : 0;
  };
  uint32_t firstId = mustCreate(core(), first);
  command({{"cmd", "focus"}, {"window", firstId}});
  ASSERT_NE(created.load(), 0u);
  // The window made inside the callback is registered like any other.
  command({{"cmd", "focus"}, {"window", created.load()}});
  EXPECT_EQ(secondFocused, 1);
}

TEST_F(WindowTest, AFailedCreationIsTheCoresTextEvenWhenEmpty) {
  for (const std::string text : {"no screen", ""}) {
    std::atomic<int> focused = 0;
    WindowOptions o = NewWindowOptions("x", {0, 0, 1, 1});
    o.Callbacks.Focus = [&](uint32_t) { ++focused; };
    const uint32_t next = standin.state()["nextIds"]["window"].get<uint32_t>();
    standin.failNext("createWindow", text);
    auto id = core().CreateWindow(o);
    ASSERT_FALSE(id.ok());
    EXPECT_EQ(id.error().message, text);
    // Nothing was registered: not under the failure id 0, nor under the id
    // the core would have handed out.
    nimbrelWindowFocusHandler(0);
    nimbrelWindowFocusHandler(next);
    EXPECT_EQ(focused, 0);
  }
}

TEST_F(WindowTest, AStringWithANulIsRefusedByItsLabelBeforeTheCoreIsCalled) {
  const std::string nul("a\0b", 3);
  struct Case {
    std::string title, titleBarStyle, label;
  } cases[] = {
      {nul, nul, "window title"},
      {"ok", nul, "title bar style"},
  };
  for (const auto& c : cases) {
    WindowOptions o = NewWindowOptions(c.title, {0, 0, 1, 1});
    o.TitleBarStyle = c.titleBarStyle;
    auto id = core().CreateWindow(o);
    ASSERT_FALSE(id.ok());
    EXPECT_EQ(id.error().message, c.label + " contains an interior null byte");
  }
  uint32_t id = mustCreate(core(), NewWindowOptions("kept", {0, 0, 1, 1}));
  standin.clearCalls();
  auto status = core().SetWindowTitle(id, nul);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().message, "window title contains an interior null byte");
  EXPECT_FALSE(called("setWindowTitle"));
  EXPECT_FALSE(called("getWindowStyle"));
  EXPECT_FALSE(called("createWindow"));
  EXPECT_EQ(window(id)["title"], "kept");
}

// Every operation that changes a window fails exactly when the core leaves
// a last-error text, and sends the id and its arguments in the core's order.
TEST_F(WindowTest, ChangingOperationsFollowTheLastErrorText) {
  uint32_t id = mustCreate(core(), NewWindowOptions("w", {0, 30, 400, 300}));
  const nimbrel::Core& c = core();
  expectFailsOnLastErrorText({
      {"setWindowTitle", [&] { return c.SetWindowTitle(id, "T"); }, {id, "T"}},
      {"minimizeWindow", [&] { return c.MinimizeWindow(id); }, {id}},
      {"restoreWindow", [&] { return c.RestoreWindow(id); }, {id}},
      {"maximizeWindow", [&] { return c.MaximizeWindow(id); }, {id}},
      {"unmaximizeWindow", [&] { return c.UnmaximizeWindow(id); }, {id}},
      {"setWindowFullScreen", [&] { return c.SetWindowFullScreen(id, true); }, {id, true}},
      {"setWindowAlwaysOnTop", [&] { return c.SetWindowAlwaysOnTop(id, true); }, {id, true}},
      {"setWindowVisibleOnAllWorkspaces",
       [&] { return c.SetWindowVisibleOnAllWorkspaces(id, false); },
       {id, false}},
      {"showWindow", [&] { return c.ShowWindow(id, true); }, {id, true}},
      {"activateWindow", [&] { return c.ActivateWindow(id); }, {id}},
      {"hideWindow", [&] { return c.HideWindow(id); }, {id}},
      {"setWindowButtonPosition",
       [&] { return c.SetWindowButtonPosition(id, 12.5, 16); },
       {id, 12.5, 16}},
      {"getWindowFrame",
       [&] {
         auto frame = c.GetWindowFrame(id);
         return frame.ok() ? support::Status() : support::Status(frame.error());
       },
       nullptr},  // the rest are the addresses of the four results
      {"closeWindow", [&] { return c.CloseWindow(id); }, {id}},
  });
  EXPECT_EQ(lastArgs("getWindowFrame")[0], id);
}

// Queries pass the core's answer on and read no error.
TEST_F(WindowTest, QueriesAnswerWhatTheCoreAnswers) {
  uint32_t id = mustCreate(core(), NewWindowOptions("w", {0, 30, 400, 300}));
  EXPECT_TRUE(core().IsWindowVisible(id));
  EXPECT_FALSE(core().IsWindowMinimized(id));
  EXPECT_FALSE(core().IsWindowMaximized(id));
  EXPECT_FALSE(core().IsWindowFullScreen(id));

  ASSERT_TRUE(core().MinimizeWindow(id).ok());
  ASSERT_TRUE(core().SetWindowFullScreen(id, true).ok());
  EXPECT_TRUE(core().IsWindowMinimized(id));
  EXPECT_TRUE(core().IsWindowFullScreen(id));
  ASSERT_TRUE(core().RestoreWindow(id).ok());
  ASSERT_TRUE(core().SetWindowFullScreen(id, false).ok());
  ASSERT_TRUE(core().MaximizeWindow(id).ok());
  EXPECT_TRUE(core().IsWindowMaximized(id));
  ASSERT_TRUE(core().HideWindow(id).ok());
  EXPECT_FALSE(core().IsWindowVisible(id));

  // Queries never read the last-error text.
  standin.clearCalls();
  EXPECT_TRUE(core().IsWindowMaximized(id));
  EXPECT_FALSE(core().IsWindowVisible(id));
  EXPECT_EQ(lastArgs("isWindowMaximized"), json({id}));
  EXPECT_FALSE(called("nimbrel_core_last_error"));
}

TEST_F(WindowTest, GetWindowFrameReadsWhatTheCoreWrote) {
  WindowOptions o = NewWindowOptions("w", {-100.5, 40, 1280, 800});
  uint32_t id = mustCreate(core(), o);
  auto frame = core().GetWindowFrame(id);
  ASSERT_TRUE(frame.ok()) << frame.error().message;
  EXPECT_EQ(*frame, (Rect{-100.5, 40, 1280, 800}));

  command({{"cmd", "move-window"}, {"window", id}, {"x", 7}, {"y", 9}});
  frame = core().GetWindowFrame(id);
  ASSERT_TRUE(frame.ok());
  EXPECT_EQ(*frame, (Rect{7, 9, 1280, 800}));

  // A core that writes nothing and reports nothing gives a zero frame.
  standin.failNext("getWindowFrame", "");
  frame = core().GetWindowFrame(id);
  ASSERT_TRUE(frame.ok());
  EXPECT_EQ(*frame, Rect{});
}

TEST_F(WindowTest, TheModelShowsWhatTheOperationsSent) {
  uint32_t id = mustCreate(core(), NewWindowOptions("w", {0, 30, 400, 300}));
  ASSERT_TRUE(core().SetWindowTitle(id, "Renamed").ok());
  ASSERT_TRUE(core().SetWindowAlwaysOnTop(id, true).ok());
  ASSERT_TRUE(core().SetWindowVisibleOnAllWorkspaces(id, true).ok());
  ASSERT_TRUE(core().SetWindowButtonPosition(id, 14, 18).ok());
  json w = window(id);
  EXPECT_EQ(w["title"], "Renamed");
  EXPECT_EQ(w["alwaysOnTop"], true);
  EXPECT_EQ(w["visibleOnAllWorkspaces"], true);
  EXPECT_EQ(w["buttonPosition"], json({{"x", 14}, {"y", 18}}));
}

}  // namespace
