// "notify": the page's notification shown through the core and remembered,
// with its target filtered, also when showing fails.
#include <gtest/gtest.h>

#include "tests/shell/shell_fixture.h"

namespace {

using testing_support::ShellTest;

class Notify : public ShellTest {};

TEST_F(Notify, ShowsTheNotificationSilentWhenNoSoundIsAsked) {
  struct Case {
    bool sound;
    bool silent;
  } cases[] = {{false, true}, {true, false}};
  for (const Case& c : cases) {
    standin.clearCalls();
    ASSERT_TRUE(s->notify("Anna", "#general", "Lunch?", "/inbox/42", c.sound).ok());
    // The core takes the body before the subtitle.
    EXPECT_EQ(callsOf("showNotification"), json::array({{"Anna", "Lunch?", "#general", c.silent}}))
        << "sound " << c.sound;
  }
  EXPECT_EQ(s->notices.find("Anna", "#general", "Lunch?"), "/inbox/42");
}

TEST_F(Notify, RemembersATargetOnlyWhenItIsAnInAppPath) {
  for (const char* target : {"//evil.example/", "https://evil.example/", "inbox", "/a%zz"}) {
    ASSERT_TRUE(s->notify(target, "", "", target, true).ok());
    EXPECT_EQ(s->notices.find(target, "", ""), "") << target;
  }
  ASSERT_TRUE(s->notify("q", "", "", "/a?q=%zz", true).ok());
  EXPECT_EQ(s->notices.find("q", "", ""), "/a?q=%zz");
}

TEST_F(Notify, KeepsTheNoticeWhenShowingFails) {
  standin.failNext("showNotification", "notifications are off");
  auto status = s->notify("Anna", "", "Lunch?", "/inbox/42", true);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().message, "notifications are off");
  EXPECT_EQ(s->notices.find("Anna", "", "Lunch?"), "/inbox/42");

  // Refused before the core is asked: still remembered.
  standin.clearCalls();
  status = s->notify("Ben", std::string("sub\0title", 9), "", "/inbox/43", true);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().message, "notification subtitle contains an interior null byte");
  EXPECT_TRUE(callsOf("showNotification").empty());
  EXPECT_EQ(s->notices.find("Ben", "", "other"), "/inbox/43");
}

}  // namespace
