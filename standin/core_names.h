// The names of every function that the core exports to the system.
#pragma once

#include <string>
#include <vector>

namespace standin {

// The 118 functions that the system resolves at load time, then the two that
// the shell resolves on its own (setTrayMenu, setTrayImage).
const std::vector<std::string>& coreFunctionNames();
bool isCoreFunction(const std::string& name);

}  // namespace standin
