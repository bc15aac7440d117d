// The one URL parser of the system, with the semantics of Go's net/url: RFC
// 3986 syntax, the scheme lower-cased, the host kept as written (including a
// ":port"), the path decoded, the query kept raw. Links, origins, page
// addresses and the start page all go through it, so that they agree on what
// an address is.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "support/result.h"

namespace support::url {

struct Userinfo {
  std::string username;  // decoded
  std::string password;  // decoded
  bool passwordSet = false;

  bool operator==(const Userinfo&) const = default;
};

struct URL {
  std::string scheme;  // lower case
  // The rest of a URL whose scheme is followed by neither "/" nor "//"
  // ("mailto:x" has the opaque part "x"); the other fields stay empty then,
  // except for the query and the fragment.
  std::string opaque;
  std::optional<Userinfo> user;
  std::string host;  // as written, with ":port" when one is given
  std::string path;  // decoded
  // The path as written, kept only when it differs from the default escaping
  // of `path` (so "/a%2Fb" survives a round trip).
  std::string rawPath;
  bool omitHost = false;    // "scheme:/path": no "//" to write back
  bool forceQuery = false;  // a "?" with nothing after it
  std::string rawQuery;     // as written, without "?"
  std::string fragment;     // decoded, without "#"
  std::string rawFragment;  // as written, when it differs from the default escaping

  // The host without the port (and without the brackets of an IP literal).
  std::string hostname() const;
  // The port digits, or "".
  std::string port() const;
  std::string escapedPath() const;
  std::string escapedFragment() const;

  // The text form: scheme in lower case, the other parts as parsed, path and
  // fragment escaped where the syntax requires.
  std::string toString() const;

  // RFC 3986 reference resolution of `ref` against this URL, dot segments
  // removed. An empty reference gives this URL back.
  URL resolveReference(const URL& ref) const;

  bool operator==(const URL&) const = default;
};

// Parses an absolute URL or a relative reference. A bracketed host is an IP
// literal of RFC 3986: an IPv6 address (with an optional "%25" zone) or an
// IPvFuture ("[v1.fe]"); anything else in brackets is refused. Refused too:
// control bytes (below 0x20, and 0x7F), malformed percent-escapes in the host,
// path or fragment, a malformed host or port, a first character ":" and a
// colon in the first segment of a relative path.
Result<URL> parse(std::string_view text);

}  // namespace support::url
