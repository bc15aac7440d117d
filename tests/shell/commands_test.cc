// The bridge commands as a page sees them: their arguments, effects on the
// core, results and error texts.
#include "shell/commands.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/shell/shell_fixture.h"

namespace {

using nlohmann::json;

TEST(CommandArgs, DecodeWithTheCodecsRules) {
  auto args = shell::decodeCommandArgs(
      R"({"title":"T","SUBTITLE":"S","body":"B","target":"/x","sound":true,"count":-3,"id":0,)"
      R"("url":"u","origins":["a",null],"labels":{ "open" : "O" },"change":{"closeToTray":false},)"
      R"("step":"in","state":null,"action":[1, 2],"signal":"s","other":1})");
  ASSERT_TRUE(args.ok()) << args.error().message;
  EXPECT_EQ(args->Title, "T");
  EXPECT_EQ(args->Subtitle, "S");
  EXPECT_EQ(args->Body, "B");
  EXPECT_EQ(args->Target, "/x");
  EXPECT_TRUE(args->Sound);
  EXPECT_EQ(args->Count, -3);
  EXPECT_EQ(args->ID, 0);
  EXPECT_EQ(args->URL, "u");
  EXPECT_EQ(args->Origins, (std::vector<std::string>{"a", ""}));
  EXPECT_EQ(args->Labels.text, R"({ "open" : "O" })");
  EXPECT_EQ(args->Change.CloseToTray, false);
  EXPECT_FALSE(args->Change.LaunchAtLogin.has_value());
  EXPECT_EQ(args->Step, "in");
  EXPECT_EQ(args->State.text, "null");
  EXPECT_EQ(args->Action.text, "[1, 2]");
  EXPECT_EQ(args->Signal.text, R"("s")");
}

TEST(CommandArgs, EmptyAndNullGiveAnEmptyRecord) {
  for (const char* text : {"", "null", "{}"}) {
    auto args = shell::decodeCommandArgs(text);
    ASSERT_TRUE(args.ok()) << text;
    EXPECT_FALSE(args->ID.has_value()) << text;
    EXPECT_EQ(args->Count, 0) << text;
    EXPECT_TRUE(args->State.text.empty()) << text;
  }
}

TEST(CommandArgs, RefusedTexts) {
  for (const char* text : {R"([])", R"("null")", R"({"count":1.5})", R"({"count":"2"})",
                           R"({"id":1e2})", R"({"origins":"a"})", R"({"change":[]})",
                           R"({"sound":"yes"})", R"({} x)", R"({"title":)"}) {
    EXPECT_FALSE(shell::decodeCommandArgs(text).ok()) << text;
  }
}

class CommandTest : public testing_support::ShellTest {
 protected:
  void SetUp() override {
    auto opened = s->openWindow(testing_support::kTestOrigin, true, true);
    ASSERT_TRUE(opened.ok()) << opened.error().message;
    window = *opened;
  }

  // The reply's "result" text, or "error: ..." for a failure.
  std::string run(const std::string& cmd, const std::string& args = "") {
    shell::commandResult r = s->command(window, cmd, args);
    if (!r) return "error: " + r.error().message;
    return r->text;
  }

  shell::windowPtr window;
};

TEST_F(CommandTest, UnknownAndMisnamedCommands) {
  EXPECT_EQ(run("Zoom"), "error: unknown command: Zoom");
  EXPECT_EQ(run("no_such_thing", R"({"a":1})"), "error: unknown command: no_such_thing");
  // The arguments are looked at first, for every name.
  EXPECT_EQ(run("no_such_thing", "[1]"), "error: bad arguments for no_such_thing");
  EXPECT_EQ(run("set_badge_count", R"({"count":1.5})"), "error: bad arguments for set_badge_count");
  EXPECT_EQ(run("set_badge_count", R"("null")"), "error: bad arguments for set_badge_count");
}

TEST_F(CommandTest, SetTitleTrimsAndFallsBack) {
  struct Case {
    std::string args;
    std::string title;
  };
  const std::vector<Case> cases = {
      {R"({"title":"  Inbox \t"})", "Inbox"},
      {"{\"title\":\"\u00a0Inbox\u3000\"}", "Inbox"},
      {R"({"title":"   "})", "Brovik Dira"},
      {"", "Brovik Dira"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run("set_title", c.args), "") << c.args;
    EXPECT_EQ(callsOf("setWindowTitle").back(), json({window->id.load(), c.title})) << c.args;
  }
  standin.failNext("setWindowTitle", "no title today");
  EXPECT_EQ(run("set_title", R"({"title":"x"})"), "error: no title today");
}

TEST_F(CommandTest, WindowStateAndMaximize) {
  sync();
  EXPECT_EQ(run("window_state"), R"({"focused":true,"fullscreen":false,"maximized":false})");
  EXPECT_EQ(run("toggle_maximize"), "");
  EXPECT_EQ(run("window_state"), R"({"focused":true,"fullscreen":false,"maximized":true})");
  EXPECT_EQ(run("toggle_maximize"), "");
  EXPECT_EQ(callsOf("unmaximizeWindow").size(), 1u);
  EXPECT_EQ(run("minimize"), "");
  EXPECT_EQ(run("window_state"), R"({"focused":false,"fullscreen":false,"maximized":false})");
}

TEST_F(CommandTest, DownloadsAreFoundByTheirIndex) {
  EXPECT_EQ(run("show_download", R"({"id":0})"), "error: unknown download");
  {
    std::lock_guard lock(s->mu);
    s->downloads = {"/home/u/Downloads/a.pdf"};
  }
  for (const char* args : {R"({"id":-1})", R"({"id":1})", "", R"({"id":null})"}) {
    EXPECT_EQ(run("show_download", args), "error: unknown download") << args;
  }
  EXPECT_TRUE(callsOf("showItemInFolder").empty());
  EXPECT_EQ(run("show_download", R"({"id":0})"), "");
  EXPECT_EQ(callsOf("showItemInFolder"), json::array({json::array({"/home/u/Downloads/a.pdf"})}));
}

TEST_F(CommandTest, TheUnreadCountShowsInTheTrayTitleOncePerChange) {
  EXPECT_EQ(run("set_badge_count", R"({"count":4})"), "");
  EXPECT_TRUE(callsOf("setTrayTitle").empty()) << "no tray item yet";
  {
    std::lock_guard lock(s->mu);
    s->trayID = 9;
  }
  for (const char* args : {R"({"count":4})", R"({"count":5})", R"({"count":5})", R"({"count":-3})",
                           R"({"count":0})", ""}) {
    EXPECT_EQ(run("set_badge_count", args), "") << args;
  }
  EXPECT_EQ(callsOf("setTrayTitle"), json::parse(R"([[9,"5"],[9,""]])"));
}

TEST_F(CommandTest, DevtoolsOnlyInTheDevelopmentChannel) {
  EXPECT_EQ(run("devtools"), "");
  EXPECT_EQ(callsOf("webviewToggleDevTools"), json::array({json::array({window->view.load()})}));
  s->app.Channel = "beta";
  EXPECT_EQ(run("devtools"), "error: no devtools in this build");
  EXPECT_EQ(callsOf("webviewToggleDevTools").size(), 1u);
}

TEST_F(CommandTest, OnlyWebPagesOpenInTheBrowser) {
  EXPECT_EQ(run("open_in_browser", R"({"url":"mailto:a@example.org"})"),
            "error: only web pages open in the browser");
  EXPECT_EQ(run("open_in_browser", R"({"url":""})"), "error: only web pages open in the browser");
  command({{"cmd", "open-external-answer"}, {"answer", false}});
  EXPECT_EQ(run("open_in_browser", R"({"url":"HTTPS://Example.org/A"})"), "");
  json opened = state()["openedUrls"];
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0]["url"], "HTTPS://Example.org/A");
}

TEST_F(CommandTest, PreferencesAndPermission) {
  EXPECT_EQ(run("notification_permission"), R"("granted")");
  EXPECT_EQ(run("desktop_prefs"), R"({"launchAtLogin":false,"closeToTray":true,"tray":false})");
  EXPECT_EQ(run("set_desktop_prefs", R"({"change":{"closeToTray":false}})"),
            R"({"launchAtLogin":false,"closeToTray":false,"tray":false})");
  EXPECT_EQ(run("desktop_prefs"), R"({"launchAtLogin":false,"closeToTray":false,"tray":false})");
}

TEST_F(CommandTest, AFailedPreferenceChangeStillTellsThePages) {
  // The launch agent's directory cannot be made: a file stands in its way.
  home.write("Library/LaunchAgents", "not a directory");
  std::string reply = run("set_desktop_prefs", R"({"change":{"launchAtLogin":true}})");
  EXPECT_EQ(reply.rfind("error: ", 0), 0u) << reply;
  std::vector<json> told = events(window, "bk:prefs");
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0], json::parse(R"({"launchAtLogin":false,"closeToTray":true,"tray":false})"));
}

TEST_F(CommandTest, CloseAnswersAtOnceAndHidesTheMainWindow) {
  EXPECT_EQ(run("close"), "");
  EXPECT_TRUE(eventually([&] { return !callsOf("hideWindow").empty(); }));
  EXPECT_TRUE(callsOf("closeWindow").empty());
}

}  // namespace
