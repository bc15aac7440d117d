// What a link means and where a page lives. Deep links ("brovik-work:") name a
// page of the web application; sign-in callback links carry the application
// identifier as their scheme. Page addresses are resolved against the app
// origin and never lead off it.
//
// Every function here is pure and may run on any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shell {

// The in-app page of a deep link: the text after "brovik-work:" with its
// leading slashes replaced by one, query and fragment as written.
std::optional<std::string> deepLinkPath(std::string_view s);

// Whether the link is a sign-in callback: the application identifier's scheme
// with the path "/callback" (any host), or the host "callback" and no path.
bool isCallback(std::string_view s);

// "/callback" with the link's raw query, if it has one; the fragment is
// dropped.
std::string callbackPath(std::string_view s);

// Lower-case scheme "://" host (with its port, if written) of an http or https
// URL with a host, else "".
std::string originOf(std::string_view s);

// The URL to load for the in-app page `p`: resolved against `base`, or the
// root of `base` when the result would leave the origin of `base`. A base
// that does not parse comes back unchanged.
std::string pageURL(std::string_view base, std::string_view p);

// The arguments that are links (deep links or the application identifier's
// scheme), unchanged and in order.
std::vector<std::string> linksIn(const std::vector<std::string>& args);

// The page to open for the links: the first callback wins, else the first
// deep link.
std::optional<std::string> firstPage(const std::vector<std::string>& links);

}  // namespace shell
