#include "shell/links.h"

#include <algorithm>

#include "shell/app_id.h"
#include "support/lower_case.h"
#include "support/url.h"

namespace shell {
namespace {

constexpr std::string_view kDeepLinkScheme = "brovik-work:";

std::string originOfParsed(const support::url::URL& u) {
  if ((u.scheme != "http" && u.scheme != "https") || u.host.empty()) return "";
  return support::toLowerUnicode(u.scheme + "://" + u.host);
}

}  // namespace

std::optional<std::string> deepLinkPath(std::string_view s) {
  if (s.size() < kDeepLinkScheme.size() ||
      !support::equalsIgnoringASCIICase(s.substr(0, kDeepLinkScheme.size()), kDeepLinkScheme)) {
    return std::nullopt;
  }
  if (!support::url::parse(s).ok()) return std::nullopt;
  std::string_view rest = s.substr(kDeepLinkScheme.size());
  rest.remove_prefix(std::min(rest.find_first_not_of('/'), rest.size()));
  return "/" + std::string(rest);
}

bool isCallback(std::string_view s) {
  auto u = support::url::parse(s);
  if (!u.ok() || !support::equalsIgnoringASCIICase(u->scheme, kAppIdentifier)) return false;
  if (u->path == "/callback") return true;
  return u->host == "callback" && (u->path.empty() || u->path == "/");
}

std::string callbackPath(std::string_view s) {
  auto u = support::url::parse(s);
  if (!u.ok() || u->rawQuery.empty()) return "/callback";
  return "/callback?" + u->rawQuery;
}

std::string originOf(std::string_view s) {
  auto u = support::url::parse(s);
  return u.ok() ? originOfParsed(*u) : "";
}

std::string pageURL(std::string_view base, std::string_view p) {
  auto b = support::url::parse(base);
  if (!b.ok()) return std::string(base);
  support::url::URL root = *b;
  root.path = "/";
  root.rawPath.clear();
  root.forceQuery = false;
  root.rawQuery.clear();
  root.fragment.clear();
  root.rawFragment.clear();

  auto ref = support::url::parse(p);
  if (!ref.ok()) return root.toString();
  std::string resolved = b->resolveReference(*ref).toString();
  if (originOf(resolved) == originOfParsed(*b)) return resolved;
  return root.toString();
}

std::vector<std::string> linksIn(const std::vector<std::string>& args) {
  const std::string callbackScheme = std::string(kAppIdentifier) + ":";
  std::vector<std::string> links;
  for (const std::string& arg : args) {
    // Unicode lower-casing: "BROVİK-WORK:" counts as a deep link too.
    std::string lower = support::toLowerUnicode(arg);
    if (lower.starts_with(kDeepLinkScheme) || lower.starts_with(callbackScheme)) {
      links.push_back(arg);
    }
  }
  return links;
}

std::optional<std::string> firstPage(const std::vector<std::string>& links) {
  for (const std::string& link : links) {
    if (isCallback(link)) return callbackPath(link);
  }
  for (const std::string& link : links) {
    if (auto page = deepLinkPath(link)) return page;
  }
  return std::nullopt;
}

}  // namespace shell
