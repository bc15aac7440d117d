// Time stamps for measurements: when chosen core functions were called (with
// their arguments) and when "post-many" posted each message, all on one
// monotonic clock in nanoseconds, so a test or benchmark can read back how
// long the system took from a page's post to its answer without timing the
// control channel.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "json_text.h"

namespace standin {

// Nanoseconds of the monotonic clock that every stamp uses: now, or at `at`.
int64_t monotonicNanos();
int64_t monotonicNanos(std::chrono::steady_clock::time_point at);

// Stamps the calls of `fns` from now on, and forgets the stamps so far. An
// empty list stops stamping.
void stampCalls(std::vector<std::string> fns);

// Called by every core call as it comes in.
void stampIfChosen(const char* fn, const json& args);

// The stamps from the `since`-th on, [{"fn","args","t"}] oldest first, and
// how many there are in all; `clear` then forgets every stamp.
json callStamps(size_t since, bool clear);

}  // namespace standin
