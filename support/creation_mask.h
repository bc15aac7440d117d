// The process's file-creation mask, for code that gives a file its final
// permission bits itself (support/file.h).
#pragma once

#include <sys/types.h>

namespace support {

// The mask as it is now, read without setting it: umask() can only tell it
// by changing it, which races with every other thread that makes a file
// meanwhile. When the system does not tell, 077: a file then ends up its
// owner's alone rather than open to more than the user meant.
mode_t fileCreationMask();

}  // namespace support
