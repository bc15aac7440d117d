// The one way the support library starts a thread of its own. The system may
// refuse one (a user's process limit, or no memory for its stack): here that
// is an error value, never an exception.
#pragma once

#include <functional>

#include "support/result.h"

namespace support {

// Starts a detached thread that runs `body`; the error is the system's reason
// for refusing it. A refused `body` is dropped unrun.
Status startThread(std::function<void()> body);

}  // namespace support
