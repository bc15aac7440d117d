// Files are read whole and written whole.
#pragma once

#include <string>

#include "support/result.h"

namespace support {

// The whole file. The error reads "open <path>: <reason>" or "read <path>: <reason>".
Result<std::string> readFile(const std::string& path);

// Whether the file-system entry exists, following symbolic links.
bool pathExists(const std::string& path);

// Creates the directory and its missing parents with mode 0755.
Status makeDirs(const std::string& path);

// Replaces the file with `data` (mode 0644), creating its directory when
// missing. The text goes to a temporary file beside the target first and is
// renamed over it, so a crash leaves either the old or the new file, never a
// torn one.
Status writeFileAtomic(const std::string& path, const std::string& data);

}  // namespace support
