// The screen-sharing switch: every web view of every window of the
// application gets the engine's "UseSCContentSharingPicker" feature switched
// on, when the engine offers it, and nothing is touched when it does not.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "binding/webviews.h"
#include "binding/windows.h"
#include "shell/platform/platform_glue.h"
#include "tests/platform/platform_fixture.h"

namespace {

using testing_support::PlatformTest;

class ScreenPickerTest : public PlatformTest {
 protected:
  uint32_t openWindow() {
    auto id = standin.core().CreateWindow(nimbrel::NewWindowOptions("w", {0, 0, 800, 600}));
    EXPECT_TRUE(id.ok());
    return id.ok() ? *id : 0;
  }
  uint32_t openWebview(uint32_t window) {
    auto id = standin.core().CreateWebview(
        nimbrel::NewWebviewOptions(window, "http://127.0.0.1:5180/", {0, 0, 800, 600}));
    EXPECT_TRUE(id.ok());
    return id.ok() ? *id : 0;
  }

  // What the web views' preferences received, in order.
  json switched() { return platform()["features"]; }

  static json enabled(uint32_t window, uint32_t webview) {
    return {{"window", window},
            {"webview", webview},
            {"feature", "UseSCContentSharingPicker"},
            {"enabled", true}};
  }
};

TEST_F(ScreenPickerTest, EveryWebViewOfEveryWindowGetsThePicker) {
  uint32_t first = openWindow();
  uint32_t a = openWebview(first);
  uint32_t second = openWindow();
  uint32_t b = openWebview(second);
  uint32_t c = openWebview(second);
  uint32_t empty = openWindow();  // a window without a web view is walked and left alone
  (void)empty;

  bkEnableScreenPicker();
  EXPECT_EQ(switched(), json::array()) << "only queued for the main thread";
  runQueuedMainWork();
  EXPECT_EQ(switched(), json({enabled(first, a), enabled(second, b), enabled(second, c)}));
}

TEST_F(ScreenPickerTest, EachCallCoversTheWindowsOpenedBefore) {
  uint32_t first = openWindow();
  uint32_t a = openWebview(first);
  bkEnableScreenPicker();
  runQueuedMainWork();
  uint32_t second = openWindow();
  uint32_t b = openWebview(second);
  bkEnableScreenPicker();
  runQueuedMainWork();
  EXPECT_EQ(switched(), json({enabled(first, a), enabled(first, a), enabled(second, b)}));
}

TEST_F(ScreenPickerTest, HiddenWindowsAreCoveredToo) {
  uint32_t window = openWindow();
  uint32_t view = openWebview(window);
  ASSERT_TRUE(standin.core().HideWindow(window).ok());
  bkEnableScreenPicker();
  runQueuedMainWork();
  EXPECT_EQ(switched(), json({enabled(window, view)}));
}

TEST_F(ScreenPickerTest, WithoutTheFeatureNothingIsTouched) {
  uint32_t window = openWindow();
  openWebview(window);
  platform({{"screenPickerFeature", false}});
  bkEnableScreenPicker();
  runQueuedMainWork();
  EXPECT_EQ(switched(), json::array());
}

TEST_F(ScreenPickerTest, WithoutWindowsNothingIsTouched) {
  bkEnableScreenPicker();
  runQueuedMainWork();
  EXPECT_EQ(switched(), json::array());
}

}  // namespace
