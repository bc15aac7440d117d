// The main window reopens where the user left it: moving or resizing it is
// written to window-state.json a moment later, quitting writes it too, and
// the next start in the same home opens the window there.
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "tests/process/app_session.h"
#include "tests/test_support.h"

namespace {

using nlohmann::json;
using testing_support::AppSession;
using testing_support::Exit;

std::optional<std::string> textOf(const std::string& file) {
  if (!std::filesystem::is_regular_file(file)) return std::nullopt;
  return testing_support::readAll(file);
}

// The flag of createWindow that asks the core to centre the window.
bool openedCentred(AppSession& app) {
  const json created = app.calls("createWindow");
  return !created.empty() && created[0]["args"][10].get<bool>();
}

void quit(AppSession& app) {
  ASSERT_TRUE(app.requestQuit());
  Exit exit = app.wait();
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.err, "");
}

TEST(WindowFrame, AMovedWindowIsRememberedAndTheNextStartOpensThere) {
  AppSession first;
  ASSERT_TRUE(first.start());
  const std::string file = first.userDataDir() + "/window-state.json";
  first.move(first.window(), 200, 120);
  first.resize(first.window(), 1100.5, 760);
  const std::string saved = R"({"X":200,"Y":120,"Width":1100.5,"Height":760,"Maximized":false})";
  ASSERT_TRUE(first.waitUntil([&] { return textOf(file) == saved; })) << textOf(file).value_or("");
  ASSERT_NO_FATAL_FAILURE(quit(first));
  EXPECT_EQ(textOf(file), saved);

  AppSession next;
  next.process().env()["HOME"] = first.process().env()["HOME"];
  next.process().env()["TMPDIR"] = first.process().env()["TMPDIR"];
  ASSERT_TRUE(next.start());
  const json window = next.windowRecord(next.window());
  EXPECT_EQ(window["frame"], json({{"x", 200}, {"y", 120}, {"width", 1100.5}, {"height", 760}}));
  EXPECT_EQ(window["visible"], true);
  EXPECT_EQ(window["maximized"], false);
  EXPECT_FALSE(openedCentred(next)) << "a frame on the display is kept where it was";
  const json view = next.webviewRecord(next.webview());
  EXPECT_EQ(view["url"], "http://127.0.0.1:5180");
}

TEST(WindowFrame, QuittingWritesTheFrameTheWindowHasThen) {
  AppSession app;
  ASSERT_TRUE(app.start());
  const std::string file = app.userDataDir() + "/window-state.json";
  app.sync();
  EXPECT_FALSE(std::filesystem::exists(file)) << "an untouched window writes nothing on its own";
  EXPECT_TRUE(openedCentred(app)) << "no saved frame: the default, centred";
  ASSERT_NO_FATAL_FAILURE(quit(app));
  // 1280 x 820, centred on the work area of 1440 x 875 below the menu bar.
  EXPECT_EQ(textOf(file), R"({"X":80,"Y":52.5,"Width":1280,"Height":820,"Maximized":false})");
}

}  // namespace
