// The command-line arguments of this process, without the program name.
#pragma once

#include <string>
#include <vector>

namespace shell::platform {

std::vector<std::string> commandLineArguments();

}  // namespace shell::platform
