// The application's only diagnostics: lines on standard error.
#pragma once

#include <string_view>

namespace shell {

// Writes "brovik-work: " + message + "\n" as one write, so that lines of
// concurrent tasks never interleave.
void printLine(std::string_view message);

}  // namespace shell
