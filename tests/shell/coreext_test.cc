// The core opened a second time for the tray menu: what it finds in the
// library, what it reports when the library falls short, and the call it makes.
#include <dlfcn.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "shell/coreext.h"
#include "tests/binding/standin_fixture.h"
#include "tests/test_support.h"

namespace {

using nlohmann::json;
using testing_support::builtBundle;
using testing_support::StandinCore;
using testing_support::TempDir;

// The bundle's stand-in is loaded first, so that a variant opened beside it
// never stands in for the one the test drives.
class CoreExtTest : public ::testing::Test {
 protected:
  // A directory holding `variant` under the core's file name.
  std::string dirWith(const std::string& variant) {
    std::filesystem::copy_file(std::string(BK_BUILD_DIR "/standin-variants/") + variant,
                               dir.path() + "/libNimbrelCore.dylib");
    return dir.path();
  }

  StandinCore standin;
  TempDir dir;
};

TEST_F(CoreExtTest, FindsBothTrayFunctionsInTheBundlesCore) {
  support::Result<shell::coreExt> ext = shell::loadCoreExt(builtBundle().ExeDir);
  ASSERT_TRUE(ext.ok()) << ext.error().message;
  EXPECT_EQ(ext->setTrayMenu, dlsym(standin.core().lib(), "setTrayMenu"));
  EXPECT_EQ(ext->setTrayImage, dlsym(standin.core().lib(), "setTrayImage"));
  EXPECT_NE(ext->setTrayMenu, nullptr);
}

TEST_F(CoreExtTest, ALibraryThatCannotBeOpenedIsNamedPlainly) {
  for (const std::string& where : {dir.path(), dir.path() + "/missing"}) {
    support::Result<shell::coreExt> ext = shell::loadCoreExt(where);
    ASSERT_FALSE(ext.ok()) << where;
    EXPECT_EQ(ext.error().message, "can't open Nimbrel's core");
  }
  dir.write("libNimbrelCore.dylib", "not a library");
  support::Result<shell::coreExt> ext = shell::loadCoreExt(dir.path());
  ASSERT_FALSE(ext.ok());
  EXPECT_EQ(ext.error().message, "can't open Nimbrel's core");
}

TEST_F(CoreExtTest, TheTrayMenuFunctionIsRequired) {
  support::Result<shell::coreExt> ext =
      shell::loadCoreExt(dirWith("libNimbrelCore_without_setTrayMenu.so"));
  ASSERT_FALSE(ext.ok());
  EXPECT_EQ(ext.error().message, "Nimbrel's core has no setTrayMenu");
}

TEST_F(CoreExtTest, TheTrayImageFunctionIsNot) {
  support::Result<shell::coreExt> ext =
      shell::loadCoreExt(dirWith("libNimbrelCore_without_setTrayImage.so"));
  ASSERT_TRUE(ext.ok()) << ext.error().message;
  EXPECT_NE(ext->setTrayMenu, nullptr);
  EXPECT_EQ(ext->setTrayImage, nullptr);
}

TEST_F(CoreExtTest, SetTrayMenuHandsTheTextToTheCore) {
  support::Result<shell::coreExt> ext = shell::loadCoreExt(builtBundle().ExeDir);
  ASSERT_TRUE(ext.ok());
  support::Result<uint32_t> tray = standin.core().CreateTray("", "", false, 18, 18, nullptr);
  ASSERT_TRUE(tray.ok());
  ext->SetTrayMenu(*tray, R"([{"label":"A","action":"a:b"}])");
  json trays = standin.state()["trays"];
  ASSERT_EQ(trays.size(), 1u);
  EXPECT_EQ(trays[0]["menuText"], R"([{"label":"A","action":"a:b"}])");
  EXPECT_EQ(standin.callsOf("setTrayMenu"),
            json::array({json::array({*tray, R"([{"label":"A","action":"a:b"}])"})}));
}

TEST_F(CoreExtTest, WithoutTheFunctionSetTrayMenuDoesNothing) {
  shell::coreExt ext;
  ext.SetTrayMenu(1, "[]");
  EXPECT_EQ(standin.callsOf("setTrayMenu"), json::array());
}

}  // namespace
