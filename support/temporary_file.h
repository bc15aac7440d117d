// The temporary files that whole-file writes (writeFileAtomic) fill before
// renaming them over the file, and the clearing of those that a write killed
// midway left behind.
//
// A writer locks its temporary file (flock) as soon as it has made it and
// keeps the lock until the file has been renamed into place or removed; the
// lock goes with the writer's process. A temporary file that no one holds
// locked is therefore left over from a write that will never finish. The
// only moment a live writer's file is unlocked is between its creation and
// the lock: that is why a leftover must also be some seconds old, and why a
// writer checks, once it holds the lock, that its file still has its name.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace support {

// ".<base>.tmp-" and eight random letters or digits.
std::string temporaryName(std::string_view base);

// Whether `name` is one that temporaryName gives for `base`.
bool isTemporaryName(std::string_view name, std::string_view base);

// Locks the temporary file just made at `path` and open as `fd`, without
// waiting. False when the file is not this writer's to fill: a cleaner
// removed it first, or someone else holds its lock (a cleaner for a moment,
// or anyone who could open it, for good), and then it is removed here while
// the name is still its own. The writer then makes another. Where the file
// system has no such locks the file stays unlocked, and no cleaner can take
// it for dead there.
bool holdTemporary(int fd, const std::string& path);

// Leftovers are written at least this long ago: a live writer locks its file
// within moments of making it.
inline constexpr std::chrono::seconds kLeftoverAge{10};

// Removes from `dir` the temporary files for `base` that no writer holds,
// last written at least `minAge` ago. Only regular files of this user with
// one name are removed, and never through a symbolic link; anything else of
// that name, and every failure, is passed over without a word.
void removeLeftoverTemporaries(const std::string& dir, std::string_view base,
                               std::chrono::seconds minAge = kLeftoverAge);

}  // namespace support
