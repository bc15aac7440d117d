// The native event loop on the process's main thread: it serves a queue of
// main-thread work and turns SIGINT and SIGTERM into quit requests until
// stopEventLoop ends it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "json_text.h"

namespace standin {

// Runs the loop on the calling thread. Returns false with `error` filled when
// it cannot run (off the main thread, or already running); otherwise returns
// true once the loop has been stopped.
bool runMainLoop(std::string& error);
// Ends the running loop, or the next one at once when none runs.
void requestLoopStop();
// Queues work for the loop; it runs when a loop runs.
void postToMainLoop(std::function<void()> work);
// Forgets a stop requested while no loop ran. The queued work stays.
void forgetPendingLoopStop();
json mainLoopJson();

// Asks the system to quit: the quit-requested callback, when one is set, on
// the event thread. `wait` makes the caller wait for it. Returns whether a
// callback was made.
bool requestQuit(const std::string& reason, bool wait);

}  // namespace standin
