// The start-up sequence of the process.
#pragma once

#include "support/result.h"

namespace shell {

// Puts the system together on the main thread and runs the native event loop
// until it stops. Returns the first error of start-up or of the loop.
support::Status run();

}  // namespace shell
