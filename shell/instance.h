// One running instance per user and channel, and what later launches hand it.
#pragma once

#include <string>
#include <vector>

namespace shell {

// The arguments of this launch: the command line without the program name,
// then those passed in BK_DESKTOP_ARGS (a JSON array of text), which is then
// removed from the environment.
std::vector<std::string> startArgs();

}  // namespace shell
