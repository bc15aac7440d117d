#include "shell/platform/process_args.h"

namespace shell::platform {
namespace {

int savedArgc = 0;
char** savedArgv = nullptr;

// glibc hands every initialiser the program's arguments before main runs, so
// the entry point needs no parameters of its own.
__attribute__((constructor)) void captureArguments(int argc, char** argv, char**) {
  savedArgc = argc;
  savedArgv = argv;
}

}  // namespace

std::vector<std::string> commandLineArguments() {
  std::vector<std::string> args;
  for (int i = 1; i < savedArgc; ++i) args.emplace_back(savedArgv[i]);
  return args;
}

}  // namespace shell::platform
