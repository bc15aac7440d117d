#include "shell/platform/process_args.h"

namespace shell::platform {
namespace {

std::vector<std::string>& savedArguments() {
  static std::vector<std::string> args;
  return args;
}

// glibc hands every initialiser the program's arguments before main runs, so
// the entry point needs no parameters of its own. They are copied at once:
// code that runs later may rearrange argv in place.
__attribute__((constructor)) void captureArguments(int argc, char** argv, char**) {
  for (int i = 1; i < argc; ++i) savedArguments().emplace_back(argv[i]);
}

}  // namespace

std::vector<std::string> commandLineArguments() {
  return savedArguments();
}

}  // namespace shell::platform
