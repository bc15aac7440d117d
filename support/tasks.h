// Background tasks. Each task runs concurrently with its caller and with
// every other task, and may block for as long as it likes: the pool behind
// them reuses idle threads and starts a new one whenever all are busy, so no
// task ever waits behind another.
#pragma once

#include <functional>

namespace support {

// Runs `task` on a thread of the process's pool and returns at once.
void runInBackground(std::function<void()> task);

}  // namespace support
