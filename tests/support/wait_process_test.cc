// Waiting for a started process and reading how it ended.
#include <gtest/gtest.h>

#include "support/process.h"

namespace {

support::Result<int> runShell(const std::string& script) {
  support::SpawnRequest request;
  request.path = "/bin/sh";
  request.args = {"/bin/sh", "-c", script};
  auto pid = support::spawnProcess(request);
  if (!pid) return pid.error();
  return support::waitForProcess(*pid);
}

TEST(WaitForProcess, GivesTheExitStatusOr128PlusTheSignal) {
  struct Case {
    const char* script;
    int status;
  } cases[] = {
      {"exit 0", 0},
      {"exit 7", 7},
      {"exit 255", 255},
      {"kill -TERM $$", 128 + 15},
      {"kill -KILL $$", 128 + 9},
  };
  for (const auto& c : cases) {
    auto status = runShell(c.script);
    ASSERT_TRUE(status.ok()) << c.script << ": " << status.error().message;
    EXPECT_EQ(*status, c.status) << c.script;
  }
}

TEST(WaitForProcess, RefusesAProcessThatIsNoChild) {
  auto status = support::waitForProcess(1);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().message, "wait for process 1: No child processes");
}

}  // namespace
