// Running a program to read what it prints.
#pragma once

#include <string>
#include <vector>

#include "support/result.h"

namespace support {

struct CommandOutput {
  int status = -1;  // the exit status; -1 when a signal ended it
  std::string out;  // everything it wrote to standard output
};

// Starts `path` with `args` (argv[0] first), reads its standard output to the
// end and waits for it. Its standard error is the parent's.
Result<CommandOutput> runForOutput(const std::string& path, const std::vector<std::string>& args);

}  // namespace support
