// The one way of building file-system paths: joined and cleaned as text, never
// looked up on disk, so symbolic links stay as they are.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace support {

// Lexically cleans a path: runs of "/" become one, "." elements go, ".." removes
// the element before it (and is dropped at the root), no trailing "/" except for
// the root. An empty path cleans to ".".
std::string cleanPath(std::string_view path);

// Joins the non-empty parts with "/" and cleans the result; "" when every part
// is empty.
std::string joinPath(std::initializer_list<std::string_view> parts);

// The path without its last element, cleaned ("." when nothing is left).
std::string dirName(std::string_view path);

}  // namespace support
