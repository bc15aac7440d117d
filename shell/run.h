// The start-up sequence of the process.
#pragma once

namespace shell {

// Puts the system together on the main thread and runs the native event loop
// until it stops. Returns the process's exit status: 0, or 1 after one
// "brovik-work: " line on standard error for an error of start-up or of the
// loop.
int run();

}  // namespace shell
