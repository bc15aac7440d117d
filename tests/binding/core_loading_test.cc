#include <dlfcn.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "binding/callbacks.h"
#include "binding/nimbrel.h"
#include "binding/nm_helpers.h"
#include "tests/binding/standin_fixture.h"
#include "tests/test_support.h"

namespace {

using nlohmann::json;
using testing_support::addressOf;
using testing_support::builtBundle;
using testing_support::StandinCore;
using testing_support::TempDir;

TEST(LoadCore, MissingLibraryNamesThePathAndTheLoadersText) {
  TempDir dir;
  auto core = nimbrel::loadCoreFromBundle({dir.path(), dir.path() + "/../Resources"});
  ASSERT_FALSE(core.ok());
  const std::string path = dir.path() + "/libNimbrelCore.dylib";
  EXPECT_EQ(core.error().message,
            "failed to open " + path + ": " + path +
                ": cannot open shared object file: No such file or directory");
}

TEST(LoadCore, EveryNameMustResolveEvenOnesNeverCalled) {
  TempDir dir;
  std::filesystem::copy_file(BK_BUILD_DIR "/standin-variants/libNimbrelCore_without_forceExit.so",
                             dir.path() + "/libNimbrelCore.dylib");
  auto core = nimbrel::loadCoreFromBundle({dir.path(), dir.path()});
  ASSERT_FALSE(core.ok());
  EXPECT_EQ(core.error().message, "missing core symbol forceExit");
}

TEST(LoadCore, ResolvesAll118NamesOnce) {
  StandinCore standin;
  std::set<std::string> names(std::begin(nimbrel::coreSymbolNames),
                              std::end(nimbrel::coreSymbolNames));
  EXPECT_EQ(names.size(), 118u);
  for (const std::string& name : names) {
    EXPECT_EQ(standin.core().symbol(name), dlsym(standin.core().lib(), name.c_str())) << name;
  }
}

// What the bundle's build.json tells the core about the last window.
TEST(LoadCore, ExitOnLastWindowClosedComesFromBuildJson) {
  struct Case {
    std::optional<std::string> buildJson;
    bool told;
  } cases[] = {
      {std::nullopt, true},
      {R"({"runtime":{"exitOnLastWindowClosed":false}})", false},
      {R"({"runtime":{"exitOnLastWindowClosed":true}})", true},
      {R"({"runtime":{"exitOnLastWindowClosed":null}})", true},
      {R"({"runtime":{"exitOnLastWindowClosed":"no"}})", true},
      {R"({"runtime":{}})", true},
      {R"({"runtime":null})", true},
      {R"({"RUNTIME":{"EXITONLASTWINDOWCLOSED":false}})", false},
      {R"({"Runtime":{"exitOnLastWindowClosed":true},"runtime":{"exitOnLastWindowClosed":false}})",
       false},
      {R"({"runtime":{"exitOnLastWindowClosed":false},"Runtime":{"exitOnLastWindowClosed":true}})",
       false},
      {R"({"runtime":{"exitOnLastWindowClosed":false}} x)", true},
      {R"({"runtime":{"exitOnLastWindowClosed":false},"appUrl":5})", false},
      {R"({"runtime":{"exitOnLastWindowClosed":false},"other":{"bad":[}})", true},
      {"[]", true},
  };
  StandinCore standin;
  for (const auto& c : cases) {
    TempDir resources;
    if (c.buildJson) resources.write("build.json", *c.buildJson);
    nimbrel::BundlePaths bundle{builtBundle().ExeDir, resources.path()};
    EXPECT_EQ(nimbrel::ExitOnLastWindowClosedFromBuildConfig(bundle), c.told)
        << c.buildJson.value_or("(none)");
    standin.clearCalls();
    ASSERT_TRUE(nimbrel::loadCoreFromBundle(bundle).ok());
    json calls = standin.callsOf("setExitOnLastWindowClosed");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0][0], c.told) << c.buildJson.value_or("(none)");
  }
}

TEST(LoadCore, ACoreErrorWhileConfiguringEndsLoading) {
  StandinCore standin;
  standin.failNext("setExitOnLastWindowClosed", "no application object");
  auto core = nimbrel::loadCoreFromBundle(builtBundle());
  ASSERT_FALSE(core.ok());
  EXPECT_EQ(core.error().message, "no application object");

  standin.failNext("setQuitRequestedHandler", "quit handler refused");
  core = nimbrel::loadCoreFromBundle(builtBundle());
  ASSERT_FALSE(core.ok());
  EXPECT_EQ(core.error().message, "quit handler refused");
}

TEST(LoadCore, InstallsTheDefaultQuitAdapter) {
  StandinCore standin;
  json calls = standin.callsOf("setQuitRequestedHandler");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0][0], addressOf(&nm_quit_requested_cb));
}

TEST(CString, RefusesInteriorNulByLabel) {
  auto ok = nimbrel::cString("plain", "window title");
  ASSERT_TRUE(ok.ok());
  EXPECT_STREQ(ok->c(), "plain");
  auto refused = nimbrel::cString(std::string("a\0b", 3), "window title");
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, "window title contains an interior null byte");
}

TEST(ErrorRules, RuleAFailsOnlyWithANonEmptyText) {
  StandinCore standin;
  EXPECT_TRUE(standin.core().SetExitOnLastWindowClosed(false).ok());
  standin.failNext("setExitOnLastWindowClosed", "");
  EXPECT_TRUE(standin.core().SetExitOnLastWindowClosed(false).ok());
  standin.failNext("stopEventLoop", "not running");
  auto stopped = standin.core().StopEventLoop();
  ASSERT_FALSE(stopped.ok());
  EXPECT_EQ(stopped.error().message, "not running");
  EXPECT_EQ(standin.core().LastError(), "not running");
  standin.command({{"cmd", "reset"}});
}

TEST(RunMainThread, RefusesANulBeforeCallingTheCore) {
  StandinCore standin;
  struct Case {
    std::string id, name, channel, label;
  } cases[] = {
      {std::string("x\0", 2), std::string("\0", 1), "dev", "app identifier"},
      {"x", std::string("N\0", 2), std::string("\0", 1), "app name"},
      {"x", "N", std::string("d\0ev", 4), "app channel"},
  };
  for (const auto& c : cases) {
    auto status = standin.core().RunMainThread(c.id, c.name, c.channel);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().message, c.label + " contains an interior null byte");
  }
  EXPECT_TRUE(standin.callsOf("nimbrel_core_run_main_thread").empty());
}

TEST(RunMainThread, ANonZeroStatusFailsEvenWithoutText) {
  StandinCore standin;
  standin.failNext("nimbrel_core_run_main_thread", "");
  auto status = standin.core().RunMainThread("x", "N", "dev");
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().message, "");
  json calls = standin.callsOf("nimbrel_core_run_main_thread");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], json({"x", "N", "dev", 0}));
}

TEST(RunMainThread, OffTheMainThreadTheCoresRefusalIsTheError) {
  StandinCore standin;
  support::Status status;
  std::thread other([&] { status = standin.core().RunMainThread("x", "N", "dev"); });
  other.join();
  ASSERT_FALSE(status.ok());
  EXPECT_FALSE(status.error().message.empty());
}

// gtest runs tests on the process's main thread, so the loop can run here.
TEST(RunMainThread, TheDefaultQuitHandlerEndsTheLoop) {
  StandinCore standin;
  std::thread requester([&] { standin.command({{"cmd", "quit"}}); });
  auto status = standin.core().RunMainThread("work.brovik.test", "Test", "dev");
  requester.join();
  EXPECT_TRUE(status.ok()) << status.error().message;
  EXPECT_EQ(standin.callsOf("stopEventLoop").size(), 1u);
}

TEST(RunMainThread, AnEmptyQuitHandlerStillStopsTheLoop) {
  StandinCore standin;
  ASSERT_TRUE(standin.core().SetQuitRequestedHandler(nullptr).ok());
  json calls = standin.callsOf("setQuitRequestedHandler");
  EXPECT_EQ(calls.back()[0], addressOf(&nm_quit_requested_cb));
  std::thread requester([&] { standin.command({{"cmd", "quit"}}); });
  auto status = standin.core().RunMainThread("x", "N", "dev");
  requester.join();
  EXPECT_TRUE(status.ok());
}

TEST(HandlerSetters, SlotChangesEvenWhenTheCoreRefuses) {
  StandinCore standin;
  std::atomic<int> opened = 0;
  standin.failNext("setURLOpenHandler", "cannot listen");
  auto status = standin.core().SetURLOpenHandler([&](const std::string&) { ++opened; });
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().message, "cannot listen");
  nimbrelURLOpenHandler("brovik-work://x");
  EXPECT_EQ(opened, 1);
  ASSERT_TRUE(standin.core().SetURLOpenHandler(nullptr).ok());
}

TEST(HandlerSetters, AnEmptyHandlerGivesTheCoreNullAndEventsGoNowhere) {
  StandinCore standin;
  std::atomic<int> reopened = 0;
  ASSERT_TRUE(standin.core().SetAppReopenHandler([&] { ++reopened; }).ok());
  standin.command({{"cmd", "reopen"}});
  EXPECT_EQ(reopened, 1);
  ASSERT_TRUE(standin.core().SetAppReopenHandler(nullptr).ok());
  ASSERT_TRUE(standin.core().SetURLOpenHandler(nullptr).ok());
  json reopen = standin.callsOf("setAppReopenHandler");
  EXPECT_EQ(reopen[0][0], addressOf(&nm_app_reopen_cb));
  EXPECT_EQ(reopen[1][0], 0);
  EXPECT_EQ(standin.callsOf("setURLOpenHandler").back()[0], 0);
  standin.command({{"cmd", "reopen"}});
  nimbrelAppReopenHandler();
  EXPECT_EQ(reopened, 1);
}

TEST(HandlerSetters, URLOpenEventsArriveOnACoreThreadWithNullAsEmpty) {
  StandinCore standin;
  std::vector<std::string> urls;
  std::thread::id seenOn;
  ASSERT_TRUE(standin.core()
                  .SetURLOpenHandler([&](const std::string& url) {
                    urls.push_back(url);
                    seenOn = std::this_thread::get_id();
                  })
                  .ok());
  standin.command({{"cmd", "open-url"}, {"url", "brovik-work://settings"}});
  standin.command({{"cmd", "open-url"}, {"url", nullptr}});
  EXPECT_EQ(urls, (std::vector<std::string>{"brovik-work://settings", ""}));
  EXPECT_NE(seenOn, std::this_thread::get_id());
  ASSERT_TRUE(standin.core().SetURLOpenHandler(nullptr).ok());
}

TEST(HandlerSetters, ACallbackMaySetSlotsWhileItRuns) {
  StandinCore standin;
  std::atomic<int> second = 0;
  const nimbrel::Core& core = standin.core();
  ASSERT_TRUE(core.SetAppReopenHandler([&] {
                    (void)core.SetAppReopenHandler([&] { ++second; });
                    (void)core.SetQuitRequestedHandler(nullptr);
                  })
                  .ok());
  standin.command({{"cmd", "reopen"}});
  standin.command({{"cmd", "reopen"}});
  EXPECT_EQ(second, 1);
  ASSERT_TRUE(core.SetAppReopenHandler(nullptr).ok());
}

// A handler replaced while an event calls it. Without the lock the call reads
// a function object half replaced, which a plain build shows only now and
// then as a crash and never as a wrong count; ThreadSanitizer, which reports
// the race itself, is this test's dependable judge. The count at the end
// shows that the last handler set is the one that runs.
TEST(HandlerSetters, ConcurrentEventsAndReplacementsAreSafe) {
  StandinCore standin;
  std::atomic<bool> stop = false;
  std::atomic<int> calls = 0;
  std::thread events([&] {
    while (!stop) nimbrelURLOpenHandler("x");
  });
  for (int i = 0; i < 200; ++i) {
    nimbrel::setURLOpenHandler([&](const std::string&) { ++calls; });
    nimbrel::setURLOpenHandler(nullptr);
  }
  stop = true;
  events.join();
  int before = calls;
  nimbrel::setURLOpenHandler([&](const std::string&) { ++calls; });
  nimbrelURLOpenHandler("y");
  EXPECT_EQ(calls, before + 1);
  nimbrel::setURLOpenHandler(nullptr);
}

}  // namespace
