// Holding a core call. A test arms a pause for one core function; the next
// call of it does its work and then stops inside the core, before it returns,
// until the test lets it go. Control commands, and the callbacks they make,
// go on meanwhile, so a test can show what a callback meets while the system
// is still inside that call (a handler it is installing, a window it is
// creating).
#pragma once

#include <chrono>
#include <string>

#include "json_text.h"

namespace standin {

// The next call of `fn` stops before it returns. Arming it again while
// armed changes nothing.
void armPause(const std::string& fn);

enum class Resumed { kPausedCall, kArmedPause, kNothing };
// Lets every paused call of `fn` return, or, when none is paused yet,
// withdraws the armed pause.
Resumed resumePaused(const std::string& fn);

// Waits until a call of `fn` is paused; false when none was within `guard`.
bool waitUntilPaused(const std::string& fn, std::chrono::milliseconds guard);

// Lets every paused call return and withdraws every armed pause.
void releaseAllPauses();

// Called by every core call as it returns: stops here while its pause holds.
void pauseIfArmed(const char* fn);

// {fn: {"armed": B, "paused": N}} for every function with a pause.
json pausesJson();

}  // namespace standin
