// Files are read whole and written whole.
#pragma once

#include <cstddef>
#include <limits>
#include <string>

#include "support/result.h"

namespace support {

// The whole file. The error reads "open <path>: <reason>" or "read <path>:
// <reason>". Only a regular file is read, at once: a directory fails with
// "Is a directory", a FIFO, device or socket with "not a regular file" or the
// system's reason, never waiting for a writer. A file longer than `limit`
// bytes is not read at all ("read <path>: file is larger than <limit>
// bytes"), so a small settings file that was replaced by something huge
// costs nothing.
Result<std::string> readFile(const std::string& path,
                             size_t limit = std::numeric_limits<size_t>::max());

// Whether the file-system entry exists, following symbolic links.
bool pathExists(const std::string& path);

// Whether the entry at `path`, not followed when it is a link, is the file
// open as `fd`: a file locked through `fd` may have been removed or replaced
// at its name meanwhile.
bool namesOpenFile(const std::string& path, int fd);

// Creates the directory and its missing parents with mode 0755.
Status makeDirs(const std::string& path);

// Replaces the file with `data`, creating its directory when missing. The
// text goes to a temporary file beside the file and is renamed over it, so a
// crash leaves either the old or the new file, never a torn one. The
// temporary files that earlier writes, killed midway, left beside the file
// are removed (support/temporary_file.h).
//
// What a user's setup relies on is kept: when `path` is a symbolic link (or a
// chain of them) the file it leads to is replaced and the link stays; an
// existing file keeps its permission bits and its group; a new one gets 0644
// less the process's file-creation mask. Where the writer cannot give the
// new file the old one's group (it is not in that group), the new file gets
// no group bits at all rather than pass them to the writer's group. A FIFO,
// socket or device at `path`, or anything but a regular file (or nothing
// yet) where a link leads, is not written over: the write fails with
// "open <target>: not a regular file" and changes nothing; <target> is
// `path`, or the end of the link chain. The name is looked at again just
// before the rename, so only something that appears in that very moment is
// replaced. Errors name `path`, or the file the link leads to, never the
// temporary file.
Status writeFileAtomic(const std::string& path, const std::string& data);

}  // namespace support
