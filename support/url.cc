#include "support/url.h"

#include <algorithm>

namespace support::url {
namespace {

// Which part of a URL a text belongs to; each part allows other characters
// unescaped.
enum class Part { path, host, zone, userPassword, fragment };

bool isAlnum(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned char unhex(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned char>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned char>(c - 'a' + 10);
  return static_cast<unsigned char>(c - 'A' + 10);
}

bool in(std::string_view set, unsigned char c) {
  return set.find(static_cast<char>(c)) != set.npos;
}

bool shouldEscape(unsigned char c, Part part) {
  if (isAlnum(c)) return false;
  // Sub-delimiters belong to a registered name; ":" and "[ ]" because the
  // host carries the port and IPv6 literals. "< > \"" are the only other ASCII
  // bytes a host may hold, since it cannot escape ASCII.
  if ((part == Part::host || part == Part::zone) && in("!$&'()*+,;=:[]<>\"", c)) return false;
  if (in("-_.~", c)) return false;
  if (in("$&+,/:;=?@", c)) {
    switch (part) {
      case Part::path:
        // The path is handled as a whole, so only "?" would change its meaning.
        return c == '?';
      case Part::userPassword:
        // ":" separates the user from the password.
        return in("@/?:", c);
      case Part::fragment:
        return false;
      default:
        return true;
    }
  }
  return !(part == Part::fragment && in("!()*", c));
}

Error escapeError(std::string_view s) {
  return makeError("invalid URL escape \"" + std::string(s.substr(0, 3)) + "\"");
}

Result<std::string> unescape(std::string_view s, Part part) {
  bool any = false;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '%') {
      any = true;
      if (i + 2 >= s.size() || !isHex(s[i + 1]) || !isHex(s[i + 2])) {
        return escapeError(s.substr(i));
      }
      std::string_view escaped = s.substr(i, 3);
      // A host may escape only bytes outside ASCII, and "%25" for the "%"
      // that introduces an IPv6 zone.
      if (part == Part::host && unhex(s[i + 1]) < 8 && escaped != "%25") {
        return escapeError(escaped);
      }
      if (part == Part::zone) {
        // A zone may escape only what it could also write plainly, which
        // includes every byte outside ASCII (the text form escapes those).
        auto v = static_cast<unsigned char>(unhex(s[i + 1]) << 4 | unhex(s[i + 2]));
        if (escaped != "%25" && v != ' ' && v < 0x80 && shouldEscape(v, Part::host)) {
          return escapeError(escaped);
        }
      }
      i += 3;
      continue;
    }
    if ((part == Part::host || part == Part::zone) && c < 0x80 && shouldEscape(c, part)) {
      return makeError("invalid character \"" + std::string(1, static_cast<char>(c)) +
                       "\" in host name");
    }
    ++i;
  }
  if (!any) return std::string(s);
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%') {
      out += static_cast<char>(unhex(s[i + 1]) << 4 | unhex(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string escape(std::string_view s, Part part) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    if (shouldEscape(c, part)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

// Whether `s` is already a valid escaped form: a raw path or fragment may keep
// sub-delimiters that the default escaping would encode.
bool validEncoded(std::string_view s, Part part) {
  return std::all_of(s.begin(), s.end(), [part](char ch) {
    auto c = static_cast<unsigned char>(ch);
    return in("!$&'()*+,;=:@[]%", c) || !shouldEscape(c, part);
  });
}

bool validOptionalPort(std::string_view port) {
  if (port.empty()) return true;
  if (port[0] != ':') return false;
  return std::all_of(port.begin() + 1, port.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Four decimal octets of 0 to 255 without leading zeros (RFC 3986 dec-octet).
bool validIPv4(std::string_view s) {
  int octets = 0;
  size_t i = 0;
  while (true) {
    const size_t start = i;
    int value = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < 4) {
      value = value * 10 + (s[i] - '0');
      ++i;
    }
    const size_t length = i - start;
    if (length == 0 || length > 3 || (length > 1 && s[start] == '0') || value > 255) return false;
    ++octets;
    if (i == s.size()) return octets == 4;
    if (s[i] != '.' || octets == 4) return false;
    ++i;
  }
}

// Counts the 16-bit units of colon-separated groups of one to four hex digits
// (a dotted IPv4 address at the end counts as two). False when a group is
// malformed.
bool countIPv6Units(std::string_view groups, bool ipv4Allowed, int& units) {
  if (groups.empty()) return true;
  size_t pos = 0;
  while (true) {
    const size_t colon = groups.find(':', pos);
    const std::string_view group =
        groups.substr(pos, colon == std::string_view::npos ? std::string_view::npos : colon - pos);
    if (colon == std::string_view::npos && ipv4Allowed && group.find('.') != group.npos) {
      units += 2;
      return validIPv4(group);
    }
    if (group.empty() || group.size() > 4 || !std::all_of(group.begin(), group.end(), isHex)) {
      return false;
    }
    ++units;
    if (colon == std::string_view::npos) return true;
    pos = colon + 1;
  }
}

// The RFC 3986 IPv6address: eight units, or fewer with one "::" standing for
// at least one zero group.
bool validIPv6Literal(std::string_view address) {
  const size_t ellipsis = address.find("::");
  int units = 0;
  if (ellipsis == std::string_view::npos) return countIPv6Units(address, true, units) && units == 8;
  if (address.find("::", ellipsis + 1) != std::string_view::npos) return false;
  return countIPv6Units(address.substr(0, ellipsis), false, units) &&
         countIPv6Units(address.substr(ellipsis + 2), true, units) && units <= 7;
}

// The RFC 3986 IPvFuture: "v", a version in hex digits, ".", then one or more
// unreserved characters, sub-delimiters or colons. The "v" may be "V".
bool validIPvFuture(std::string_view address) {
  if (address.size() < 4 || (address[0] != 'v' && address[0] != 'V')) return false;
  const size_t dot = address.find('.');
  if (dot == std::string_view::npos || dot < 2 || dot + 1 == address.size()) return false;
  const std::string_view version = address.substr(1, dot - 1);
  const std::string_view rest = address.substr(dot + 1);
  return std::all_of(version.begin(), version.end(), isHex) &&
         std::all_of(rest.begin(), rest.end(), [](char ch) {
           auto c = static_cast<unsigned char>(ch);
           return isAlnum(c) || in("-._~!$&'()*+,;=:", c);
         });
}

Result<std::string> parseHost(std::string_view host) {
  if (!host.empty() && host[0] == '[') {
    size_t close = host.rfind(']');
    if (close == std::string_view::npos) return makeError("missing ']' in host");
    std::string_view colonPort = host.substr(close + 1);
    if (!validOptionalPort(colonPort)) {
      return makeError("invalid port \"" + std::string(colonPort) + "\" after host");
    }
    std::string_view inside = host.substr(1, close - 1);
    // A literal of a future address form; it has no zone and no escapes.
    if (!inside.empty() && (inside[0] == 'v' || inside[0] == 'V')) {
      if (!validIPvFuture(inside)) return makeError("invalid IPvFuture host");
      return std::string(host);
    }
    // An IPv6 literal, with an optional zone introduced by "%25" (RFC 6874).
    size_t zone = inside.find("%25");
    if (!validIPv6Literal(inside.substr(0, zone))) return makeError("invalid IPv6 host");
    if (zone != std::string_view::npos) {
      Result<std::string> zoneText = unescape(inside.substr(zone), Part::zone);
      if (!zoneText) return zoneText.error();
      return "[" + std::string(inside.substr(0, zone)) + *zoneText + "]" + std::string(colonPort);
    }
    return std::string(host);
  }
  size_t colon = host.rfind(':');
  if (colon != std::string_view::npos) {
    // Only the port may follow a colon: "host:80:80" and a bare "::1" are
    // malformed.
    if (host.substr(0, colon).find(':') != std::string_view::npos) {
      return makeError("invalid colon in host \"" + std::string(host) + "\"");
    }
    std::string_view colonPort = host.substr(colon);
    if (!validOptionalPort(colonPort)) {
      return makeError("invalid port \"" + std::string(colonPort) + "\" after host");
    }
  }
  if (host.find_first_of("[]") != std::string_view::npos) {
    return makeError("invalid bracket in host \"" + std::string(host) + "\"");
  }
  return unescape(host, Part::host);
}

bool validUserinfo(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char ch) {
    auto c = static_cast<unsigned char>(ch);
    return isAlnum(c) || in("-._:~!$&'()*+,;=%@", c);
  });
}

Status parseAuthority(std::string_view authority, URL& u) {
  size_t at = authority.rfind('@');
  Result<std::string> host =
      parseHost(at == std::string_view::npos ? authority : authority.substr(at + 1));
  if (!host) return host.error();
  u.host = std::move(*host);
  if (at == std::string_view::npos) return {};
  std::string_view userinfo = authority.substr(0, at);
  if (!validUserinfo(userinfo)) return makeError("invalid userinfo");
  size_t colon = userinfo.find(':');
  Userinfo user;
  Result<std::string> name = unescape(userinfo.substr(0, colon), Part::userPassword);
  if (!name) return name.error();
  user.username = std::move(*name);
  if (colon != std::string_view::npos) {
    Result<std::string> password = unescape(userinfo.substr(colon + 1), Part::userPassword);
    if (!password) return password.error();
    user.password = std::move(*password);
    user.passwordSet = true;
  }
  u.user = std::move(user);
  return {};
}

// Splits off a leading "scheme:". A text that does not start with a valid
// scheme has none; a text that starts with ":" is an error.
Status splitScheme(std::string_view text, std::string& scheme, std::string_view& rest) {
  rest = text;
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) continue;
    if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.') {
      if (i == 0) return {};
      continue;
    }
    if (c == ':') {
      if (i == 0) return makeError("missing protocol scheme");
      scheme.assign(text.substr(0, i));
      std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                     [](char ch) { return ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch; });
      rest = text.substr(i + 1);
    }
    return {};
  }
  return {};
}

Status setPath(URL& u, std::string_view written) {
  Result<std::string> path = unescape(written, Part::path);
  if (!path) return path.error();
  u.path = std::move(*path);
  u.rawPath = escape(u.path, Part::path) == written ? "" : std::string(written);
  return {};
}

Status setFragment(URL& u, std::string_view written) {
  Result<std::string> fragment = unescape(written, Part::fragment);
  if (!fragment) return fragment.error();
  u.fragment = std::move(*fragment);
  u.rawFragment = escape(u.fragment, Part::fragment) == written ? "" : std::string(written);
  return {};
}

Status parseBeforeFragment(std::string_view text, URL& u) {
  if (text == "*") {
    u.path = "*";
    return {};
  }
  std::string_view rest;
  if (Status s = splitScheme(text, u.scheme, rest); !s) return s;

  if (!rest.empty() && rest.back() == '?' && std::count(rest.begin(), rest.end(), '?') == 1) {
    u.forceQuery = true;
    rest.remove_suffix(1);
  } else if (size_t q = rest.find('?'); q != std::string_view::npos) {
    u.rawQuery.assign(rest.substr(q + 1));
    rest = rest.substr(0, q);
  }

  if (!rest.starts_with('/')) {
    if (!u.scheme.empty()) {
      // A rootless path after a scheme is opaque (RFC 3986 "path-rootless").
      u.opaque.assign(rest);
      return {};
    }
    // "cache_object:foo/bar" must not pass for a relative path.
    if (rest.substr(0, rest.find('/')).find(':') != std::string_view::npos) {
      return makeError("first path segment in URL cannot contain colon");
    }
  }

  if ((!u.scheme.empty() || !rest.starts_with("///")) && rest.starts_with("//")) {
    std::string_view authority = rest.substr(2);
    size_t slash = authority.find('/');
    rest = slash == std::string_view::npos ? std::string_view() : authority.substr(slash);
    authority = authority.substr(0, slash);
    if (Status s = parseAuthority(authority, u); !s) return s;
  } else if (!u.scheme.empty() && rest.starts_with('/')) {
    u.omitHost = true;
  }
  return setPath(u, rest);
}

// Merges a reference path into a base path and removes dot segments.
std::string resolvePath(std::string_view base, std::string_view ref) {
  std::string full;
  if (ref.empty()) {
    full = base;
  } else if (ref[0] != '/') {
    size_t slash = base.rfind('/');
    full = std::string(slash == std::string_view::npos ? std::string_view()
                                                       : base.substr(0, slash + 1));
    full += ref;
  } else {
    full = ref;
  }
  if (full.empty()) return "";

  std::string dst = "/";
  bool first = true;
  std::string_view remaining = full;
  std::string_view elem;
  bool found = true;
  while (found) {
    size_t slash = remaining.find('/');
    found = slash != std::string_view::npos;
    elem = remaining.substr(0, slash);
    remaining = found ? remaining.substr(slash + 1) : std::string_view();
    if (elem == ".") {
      first = false;
      continue;
    }
    if (elem == "..") {
      std::string kept = dst.substr(1);
      size_t last = kept.rfind('/');
      dst = "/";
      if (last == std::string::npos) {
        first = true;
      } else {
        dst += kept.substr(0, last);
      }
    } else {
      if (!first) dst += '/';
      dst += elem;
      first = false;
    }
  }
  if (elem == "." || elem == "..") dst += '/';
  // The leading "/" was written up front; never give two.
  if (dst.size() > 1 && dst[1] == '/') dst.erase(0, 1);
  return dst;
}

}  // namespace

Result<URL> parse(std::string_view text) {
  auto fail = [&](const Error& e) {
    return makeError("parse \"" + std::string(text) + "\": " + e.message);
  };
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7f) return fail(makeError("invalid control character in URL"));
  }
  size_t hash = text.find('#');
  URL u;
  if (Status s = parseBeforeFragment(text.substr(0, hash), u); !s) return fail(s.error());
  if (hash != std::string_view::npos && hash + 1 < text.size()) {
    if (Status s = setFragment(u, text.substr(hash + 1)); !s) return fail(s.error());
  }
  return u;
}

std::string URL::hostname() const {
  std::string_view h = host;
  size_t colon = h.rfind(':');
  if (colon != std::string_view::npos && validOptionalPort(h.substr(colon))) h = h.substr(0, colon);
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  return std::string(h);
}

std::string URL::port() const {
  size_t colon = host.rfind(':');
  if (colon == std::string::npos || !validOptionalPort(std::string_view(host).substr(colon)))
    return "";
  return host.substr(colon + 1);
}

std::string URL::escapedPath() const {
  if (!rawPath.empty() && validEncoded(rawPath, Part::path)) {
    Result<std::string> decoded = unescape(rawPath, Part::path);
    if (decoded && *decoded == path) return rawPath;
  }
  if (path == "*") return "*";
  return escape(path, Part::path);
}

std::string URL::escapedFragment() const {
  if (!rawFragment.empty() && validEncoded(rawFragment, Part::fragment)) {
    Result<std::string> decoded = unescape(rawFragment, Part::fragment);
    if (decoded && *decoded == fragment) return rawFragment;
  }
  return escape(fragment, Part::fragment);
}

std::string URL::toString() const {
  std::string out;
  if (!scheme.empty()) {
    out += scheme;
    out += ':';
  }
  if (!opaque.empty()) {
    out += opaque;
  } else {
    bool authority = false;  // whether "//" was written
    if (!scheme.empty() || !host.empty() || user) {
      if (!(omitHost && host.empty() && !user)) {
        authority = !host.empty() || !path.empty() || user;
        if (authority) out += "//";
        if (user) {
          out += escape(user->username, Part::userPassword);
          if (user->passwordSet) {
            out += ':';
            out += escape(user->password, Part::userPassword);
          }
          out += '@';
        }
        out += escape(host, Part::host);
      }
    }
    std::string p = escapedPath();
    if (!p.empty() && p[0] != '/' && !host.empty()) out += '/';
    // Without an authority, a path that begins with "//" would read back as
    // one (RFC 3986 3.3): a dot segment in front keeps it a path. A relative
    // reference that begins with "///" already reads back as a path.
    if (!authority && p.starts_with("//") && !(scheme.empty() && p.starts_with("///"))) {
      out += "/.";
    }
    if (out.empty()) {
      // "a:b" as a relative path would read back as a scheme (RFC 3986 4.2).
      if (p.substr(0, p.find('/')).find(':') != std::string::npos) out += "./";
    }
    out += p;
  }
  if (forceQuery || !rawQuery.empty()) {
    out += '?';
    out += rawQuery;
  }
  if (!fragment.empty()) {
    out += '#';
    out += escapedFragment();
  }
  return out;
}

URL URL::resolveReference(const URL& ref) const {
  URL out = ref;
  if (ref.scheme.empty()) out.scheme = scheme;
  // The results of setPath are ignored below: an escaped path always decodes.
  if (!ref.scheme.empty() || !ref.host.empty() || ref.user) {
    (void)setPath(out, resolvePath(ref.escapedPath(), ""));
    return out;
  }
  if (!ref.opaque.empty()) {
    out.user.reset();
    out.host.clear();
    out.path.clear();
    out.rawPath.clear();
    return out;
  }
  if (ref.path.empty() && !ref.forceQuery && ref.rawQuery.empty()) {
    out.rawQuery = rawQuery;
    out.forceQuery = forceQuery;
    if (ref.fragment.empty()) {
      out.fragment = fragment;
      out.rawFragment = rawFragment;
    }
  }
  if (ref.path.empty() && !opaque.empty()) {
    out.opaque = opaque;
    out.user.reset();
    out.host.clear();
    out.path.clear();
    out.rawPath.clear();
    return out;
  }
  out.host = host;
  out.user = user;
  (void)setPath(out, resolvePath(escapedPath(), ref.escapedPath()));
  return out;
}

}  // namespace support::url
