// The start sequence asks for the notification delegate every time it runs;
// the notification centres are given it once all the same.
#include <objc/runtime.h>

#include <gtest/gtest.h>

#include "tests/platform/platform_fixture.h"
#include "tests/shell/shell_fixture.h"

namespace {

constexpr const char* kDelegateClass = "BrovikWorkNotificationDelegate";

class StartDelegateTest : public testing_support::ShellTest {};

TEST_F(StartDelegateTest, HoweverOftenTheShellStartsEachCentreGetsOneDelegate) {
  // In a process of its own (as ctest runs it) this start installs the
  // delegate; after another test installed it, no start may install it again.
  const bool fresh = objc_getClass(kDelegateClass) == Nil;
  s->start({});
  s->start({});
  testing_support::runQueuedMainWork(standin.core());

  const json once = {{"class", kDelegateClass}, {"sets", fresh ? 1 : 0}};
  EXPECT_EQ(command({{"cmd", "platform"}})["platform"]["delegates"],
            json({{"user", once}, {"legacy", once}}));
}

}  // namespace
