// The end of a process that cannot go on, such as one that gets no thread to
// run its work on.
#pragma once

#include <string_view>

namespace support {

// How the process says why it ends: the application gives its one writer of
// diagnostic lines, first thing in main, before any thread starts. Until
// then the message goes to standard error as a bare line.
using FatalReport = void (*)(std::string_view message);
void setFatalReport(FatalReport report);

// Says `message` and ends the process with status 1 at once.
[[noreturn]] void endProcess(std::string_view message);

}  // namespace support
