// The page the main window opens first.
#pragma once

#include <string>

#include "binding/bundle_paths.h"

namespace shell {

// Where the web application is served from in production.
inline constexpr const char* kProductionAppOrigin = "https://dira.brovik.work";
// The web application's development server.
inline constexpr const char* kDevelopmentAppOrigin = "http://127.0.0.1:5180";

// The bundle's "appUrl" setting when it is an http(s) address with a host,
// else the channel's default.
std::string startURL(const nimbrel::BundlePaths& bundle, const nimbrel::AppInfo& info);

}  // namespace shell
