// The application identifier as the program itself knows it: the scheme of
// sign-in callback links and the name of the login launch agent. It is fixed
// here, unlike the identifier of the bundle's version.json.
#pragma once

#include <string_view>

namespace shell {

inline constexpr std::string_view kAppIdentifier = "work.brovik.dira";

}  // namespace shell
