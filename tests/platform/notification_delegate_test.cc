// The notification delegate on the process's object runtime: when it is
// installed, and what a click or a dismissal in either notification centre
// hands the shell.
//
// The delegate is installed at most once per process, so the two tests about
// installing come first and expect to find none installed yet (ctest runs
// every test in a process of its own).
#include <objc/runtime.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "shell/platform/platform_glue.h"
#include "tests/platform/platform_fixture.h"

namespace {

using testing::ElementsAre;
using testing_support::ClickRecorder;
using testing_support::PlatformTest;
using Click = ClickRecorder::Click;

constexpr const char* kDelegateClass = "BrovikWorkNotificationDelegate";

class NotificationDelegateTest : public PlatformTest {
 protected:
  json delegates() { return platform()["delegates"]; }

  void expectNoDelegate() {
    json d = delegates();
    EXPECT_EQ(d["user"]["class"], nullptr);
    EXPECT_EQ(d["legacy"]["class"], nullptr);
    EXPECT_EQ(d["user"]["sets"], 0);
    EXPECT_EQ(d["legacy"]["sets"], 0);
  }
};

TEST_F(NotificationDelegateTest, WithoutAMainBundleIdentifierNoDelegateIsInstalled) {
  ASSERT_EQ(objc_getClass(kDelegateClass), Nil)
      << "this test needs a process in which no delegate was installed yet";
  for (json settings : {json{{"bundleIdentifier", nullptr}}, json{{"mainBundle", false}}}) {
    platform(settings);
    bkInstallNotificationDelegate();
    runQueuedMainWork();
    expectNoDelegate();
    command({{"cmd", "reset"}});
  }
  // Nothing was made on the way: a later start may still install it.
  EXPECT_EQ(objc_getClass(kDelegateClass), Nil);
}

TEST_F(NotificationDelegateTest, IsInstalledOnceOnTheMainThreadHoweverOftenAsked) {
  ASSERT_EQ(delegates()["user"]["class"], nullptr)
      << "this test needs a process in which no delegate was installed yet";
  bkInstallNotificationDelegate();
  bkInstallNotificationDelegate();
  // Only queued: the main thread's loop has not run yet.
  expectNoDelegate();

  runQueuedMainWork();
  bkInstallNotificationDelegate();
  runQueuedMainWork();

  json d = delegates();
  EXPECT_EQ(d["user"], json({{"class", kDelegateClass}, {"sets", 1}}));
  EXPECT_EQ(d["legacy"], json({{"class", kDelegateClass}, {"sets", 1}}));

  Class cls = objc_getClass(kDelegateClass);
  ASSERT_NE(cls, Nil);
  EXPECT_STREQ(class_getName(class_getSuperclass(cls)), "NSObject");
  EXPECT_TRUE(class_respondsToSelector(
      cls, sel_registerName(
               "userNotificationCenter:didReceiveNotificationResponse:withCompletionHandler:")));
  EXPECT_TRUE(class_respondsToSelector(
      cls, sel_registerName("userNotificationCenter:didActivateNotification:")));
  // No will-present method: the platform's default applies in front.
  EXPECT_FALSE(class_respondsToSelector(
      cls,
      sel_registerName("userNotificationCenter:willPresentNotification:withCompletionHandler:")));
}

// Clicks, with the delegate in place (installed here unless an earlier test
// of this process did).
class NotificationClickTest : public NotificationDelegateTest {
 protected:
  void SetUp() override {
    bkInstallNotificationDelegate();
    runQueuedMainWork();
    ASSERT_EQ(delegates()["user"]["class"], kDelegateClass);
    recorder = ClickRecorder::published();
  }

  // A click that must reach the shell: the sentinel after one that must not.
  void clickSentinel() {
    json reply = click({{"title", "sentinel"}, {"subtitle", ""}, {"body", ""}});
    ASSERT_EQ(reply["delivered"], true);
  }

  std::shared_ptr<ClickRecorder> recorder;
};

TEST_F(NotificationClickTest, AClickInTheNewerCentreHandsOverItsTexts) {
  json reply = click({{"title", "Anna"}, {"subtitle", "#general"}, {"body", "Lunch?"}});
  EXPECT_EQ(reply["delivered"], true);
  EXPECT_EQ(reply["completed"], true);
  EXPECT_THAT(recorder->waitFor(1), ElementsAre(Click{"Anna", "#general", "Lunch?"}));
}

TEST_F(NotificationClickTest, AClickInTheOlderCentreTakesTheInformativeTextAsBody) {
  json reply = click(
      {{"center", "legacy"}, {"title", "Anna"}, {"subtitle", "#general"}, {"body", "Lunch?"}});
  EXPECT_EQ(reply["delivered"], true);
  EXPECT_EQ(reply["completed"], false);  // the older centre has no completion handler
  EXPECT_THAT(recorder->waitFor(1), ElementsAre(Click{"Anna", "#general", "Lunch?"}));
}

TEST_F(NotificationClickTest, ADismissalForwardsNothingAndStillCompletes) {
  json reply = click({{"title", "Anna"}, {"subtitle", "s"}, {"body", "b"}, {"action", "dismiss"}});
  EXPECT_EQ(reply["delivered"], true);
  EXPECT_EQ(reply["completed"], true);
  clickSentinel();
  EXPECT_THAT(recorder->waitFor(1), ElementsAre(Click{"sentinel", "", ""}));
}

TEST_F(NotificationClickTest, AnyOtherActionIsAClick) {
  struct Case {
    json action;
  } cases[] = {{"reply"}, {""}, {nullptr}, {"com.apple.UNNotificationDismissActionIdentifier "}};
  for (const Case& c : cases) {
    json reply = click({{"title", "t"}, {"subtitle", "s"}, {"body", "b"}, {"action", c.action}});
    EXPECT_EQ(reply["completed"], true) << c.action;
  }
  EXPECT_EQ(recorder->waitFor(std::size(cases)).size(), std::size(cases));
}

TEST_F(NotificationClickTest, NilTextsReadAsEmpty) {
  json reply = click({{"title", nullptr}, {"subtitle", "s"}});  // no body at all
  EXPECT_EQ(reply["completed"], true);
  click({{"center", "legacy"}, {"title", "t"}, {"subtitle", nullptr}, {"body", nullptr}});
  EXPECT_THAT(recorder->waitFor(2),
              testing::UnorderedElementsAre(Click{"", "s", ""}, Click{"t", "", ""}));
}

TEST_F(NotificationClickTest, ABrokenChainToTheContentGivesEmptyTexts) {
  for (const char* missing : {"response", "notification", "request", "content"}) {
    json reply = click({{"title", "t"}, {"subtitle", "s"}, {"body", "b"}, {"missing", missing}});
    EXPECT_EQ(reply["completed"], true) << missing;
  }
  click({{"center", "legacy"}, {"title", "t"}, {"missing", "notification"}});
  std::vector<Click> clicks = recorder->waitFor(5);
  ASSERT_EQ(clicks.size(), 5u);
  for (const Click& c : clicks) EXPECT_EQ(c, (Click{"", "", ""}));
}

TEST_F(NotificationClickTest, WithoutACompletionHandlerTheClickStillArrives) {
  json reply = click({{"title", "t"}, {"completionHandler", false}});
  EXPECT_EQ(reply["delivered"], true);
  EXPECT_EQ(reply["completed"], false);
  EXPECT_THAT(recorder->waitFor(1), ElementsAre(Click{"t", "", ""}));
}

TEST_F(NotificationClickTest, LongAndOddTextsArriveWhole) {
  std::string huge(1 << 20, 'x');
  std::string odd = "tab\there, 100% \\ //double \xc3\xa9";
  click({{"title", huge}, {"subtitle", odd}, {"body", "\x01\x7f"}});
  EXPECT_THAT(recorder->waitFor(1), ElementsAre(Click{huge, odd, "\x01\x7f"}));
}

TEST_F(NotificationClickTest, ACentreThatIsGoneDeliversNothing) {
  platform({{"userCenter", false}, {"legacyCenter", false}});
  EXPECT_EQ(click({{"title", "t"}})["delivered"], false);
  EXPECT_EQ(click({{"center", "legacy"}, {"title", "t"}})["delivered"], false);
  command({{"cmd", "reset"}});
  clickSentinel();
  EXPECT_THAT(recorder->waitFor(1), ElementsAre(Click{"sentinel", "", ""}));
}

}  // namespace
