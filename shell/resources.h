// Looking into the application bundle: resource files and runtime settings.
#pragma once

#include <string>

namespace shell {

// The path of resource `rel` ("/"-separated) under `root`, or "" when none.
// root/app/rel and root/rel are tried first; otherwise the first file in a
// depth-first walk (names in byte order, links not followed) whose path ends
// in "/" + rel.
std::string findResource(const std::string& root, const std::string& rel);

// The string value of runtime setting `key` in dir/build.json, or "".
std::string runtimeSetting(const std::string& dir, const std::string& key);

}  // namespace shell
