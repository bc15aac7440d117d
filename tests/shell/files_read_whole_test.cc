// Every file the application reads whole, found to be a FIFO: it is read as
// a file that cannot be read, at once, and start-up never waits on it.
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "binding/bundle_paths.h"
#include "binding/nimbrel.h"
#include "shell/prefs.h"
#include "shell/resources.h"
#include "tests/shell/shell_fixture.h"

namespace {

using testing_support::kTestOrigin;

class FilesReadWholeTest : public testing_support::ShellTest {
 protected:
  testing_support::TempDir resources;
};

TEST_F(FilesReadWholeTest, AFifoInPlaceOfAnyIsUnreadableAndNeverWaitedOn) {
  const nimbrel::BundlePaths bundle{s->bundle.ExeDir, resources.path()};
  s->bundle = bundle;
  const std::string desktop = s->paths.UserData + "/desktop.json";
  auto notRegular = [](const std::string& path) { return "read " + path + ": not a regular file"; };
  struct Case {
    std::string file;
    std::function<std::string()> read;  // what the application makes of it
    std::string want;
  };
  const std::vector<Case> cases = {
      {s->stateFile(),
       [&] {
         // The main window opens all the same, at the default frame, centred.
         auto opened = s->openWindow(kTestOrigin, false, true);
         if (!opened) return opened.error().message;
         const nlohmann::json created = callsOf("createWindow").back();
         return nlohmann::json({created[2], created[3], created[10]}).dump();
       },
       "[1280.0,820.0,true]"},
      {s->miniFile(), [&] { return std::string(s->savedMiniFrame() ? "a frame" : "no frame"); },
       "no frame"},
      {desktop,
       [&] {
         shell::prefs stored(desktop, s->exe, s->paths.Home);
         return std::string(stored.get().CloseToTray ? "close to tray" : "quit");
       },
       "close to tray"},
      {resources.path() + "/build.json",
       [&] { return "\"" + shell::runtimeSetting(resources.path(), "appUrl") + "\""; }, "\"\""},
      {resources.path() + "/build.json",
       [&] {
         return std::string(nimbrel::ExitOnLastWindowClosedFromBuildConfig(bundle) ? "exits"
                                                                                   : "stays");
       },
       "exits"},
      {resources.path() + "/version.json",
       [&] {
         auto info = nimbrel::ResolveAppInfoFromBundle(bundle);
         return info ? info->Identifier : info.error().message;
       },
       notRegular(resources.path() + "/version.json")},
      {resources.path() + "/preload-full.js",
       [&] {
         auto status = s->core->ConfigureWebviewRuntimeFromExecutableDir(bundle, 0);
         return status ? "configured" : status.error().message;
       },
       notRegular(resources.path() + "/preload-full.js")},
      {resources.path() + "/views/preload/index.js",
       [&] {
         auto preload = s->loadPreload();
         return preload ? *preload : preload.error().message;
       },
       notRegular(resources.path() + "/views/preload/index.js")},
  };
  resources.write("preload-sandboxed.js", "sandboxed");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::filesystem::create_directories(std::filesystem::path(c.file).parent_path());
    ASSERT_EQ(::mkfifo(c.file.c_str(), 0644), 0);
    bool waited = false;
    EXPECT_EQ(testing_support::readingWithoutWaiting(c.file, c.read, waited), c.want);
    EXPECT_FALSE(waited);
    std::filesystem::remove(c.file);
  }
}

}  // namespace
