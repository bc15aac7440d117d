#include <cstdlib>

#include <gtest/gtest.h>

#include "shell/instance.h"
#include "shell/platform/process_args.h"
#include "tests/test_support.h"

namespace {

using testing_support::ScopedEnv;

TEST(StartArgs, AppendsHandedOverArgumentsAndForgetsThem) {
  const std::vector<std::string> commandLine = shell::platform::commandLineArguments();
  struct Case {
    std::optional<std::string> passed;
    std::vector<std::string> extra;
    bool removed;
  } cases[] = {
      {R"(["brovik-work://inbox","--autostart"])", {"brovik-work://inbox", "--autostart"}, true},
      {"null", {}, true},
      {"[]", {}, true},
      {R"(["a",1])", {}, true},
      {R"(["a",null,"b"])", {"a", "", "b"}, true},
      {"not json", {}, true},
      {R"({"args":["a"]})", {}, true},
      {"", {}, false},
      {std::nullopt, {}, false},
  };
  for (const auto& c : cases) {
    ScopedEnv env({{"BK_DESKTOP_ARGS", c.passed}});
    std::vector<std::string> want = commandLine;
    want.insert(want.end(), c.extra.begin(), c.extra.end());
    EXPECT_EQ(shell::startArgs(), want) << c.passed.value_or("(unset)");
    const char* left = std::getenv("BK_DESKTOP_ARGS");
    EXPECT_EQ(left == nullptr, c.removed || !c.passed) << c.passed.value_or("(unset)");
  }
}

// The test runner strips its own flags from argv after start; the arguments
// as the process got them are kept all the same.
TEST(StartArgs, TheCommandLineComesWhole) {
  std::string cmdline = testing_support::readAll("/proc/self/cmdline");
  std::vector<std::string> asStarted;
  for (size_t pos = 0; pos < cmdline.size();) {
    size_t end = cmdline.find('\0', pos);
    asStarted.push_back(cmdline.substr(pos, end - pos));
    pos = end + 1;
  }
  asStarted.erase(asStarted.begin());  // the program name
  EXPECT_EQ(shell::platform::commandLineArguments(), asStarted);
}

}  // namespace
