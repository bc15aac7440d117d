#include <cstdlib>

#include "shell/instance.h"
#include "shell/platform/process_args.h"
#include "support/json.h"

namespace shell {

std::vector<std::string> startArgs() {
  std::vector<std::string> args = platform::commandLineArguments();
  const char* passed = std::getenv("BK_DESKTOP_ARGS");
  if (passed == nullptr || *passed == '\0') return args;
  // Arguments handed over by the process that relaunched us through the
  // launcher; they count once, so the variable goes.
  auto list = support::json::parse(passed);
  if (list && list->is_array()) {
    std::vector<std::string> extra;
    bool allText = true;
    for (const auto& element : *list) {
      // A null element is an empty argument, as everywhere a list of text is read.
      if (element.is_null()) {
        extra.emplace_back();
        continue;
      }
      if (!element.is_string()) {
        allText = false;
        break;
      }
      extra.push_back(element.get<std::string>());
    }
    if (allText) args.insert(args.end(), extra.begin(), extra.end());
  }
  unsetenv("BK_DESKTOP_ARGS");
  return args;
}

}  // namespace shell
