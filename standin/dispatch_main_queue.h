// The platform's main dispatch queue, served by the event loop on the main
// thread as the platform's run loop serves it. The queue belongs to the
// dispatch library that the executable links (standin/dispatch); a process
// without it has no queue and nothing here does anything.
#pragma once

namespace standin {

// Lets work queued from any thread wake the loop.
void connectMainDispatchQueue(void (*wake)());
// Runs the work queued so far, then lets go of the objects made for this turn
// of the loop. Returns whether any work ran.
bool serviceMainDispatchQueue();

}  // namespace standin
