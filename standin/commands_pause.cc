// Holding a core call from the control channel: "pause", "wait-paused",
// "resume" and "pauses"; and holding the whole process: "stop-process".
#include <signal.h>

#include <chrono>

#include "core_names.h"
#include "harness_commands.h"
#include "pause.h"

namespace standin {

namespace {

std::string needCoreFunction(const json& cmd) {
  std::string fn = needString(cmd, "fn");
  if (!isCoreFunction(fn)) throw CommandError("unknown core function " + fn);
  return fn;
}

json pause(const json& cmd) {
  armPause(needCoreFunction(cmd));
  return json::object();
}

json waitPaused(const json& cmd) {
  std::string fn = needCoreFunction(cmd);
  double guard = optNumber(cmd, "timeout", 30000);
  if (guard < 0) throw CommandError("\"timeout\" must not be negative");
  if (!waitUntilPaused(fn, std::chrono::milliseconds(static_cast<long>(guard)))) {
    throw CommandError("no call of " + fn + " was paused");
  }
  return json::object();
}

json resume(const json& cmd) {
  switch (resumePaused(needCoreFunction(cmd))) {
    case Resumed::kPausedCall:
      return {{"resumed", "call"}};
    case Resumed::kArmedPause:
      return {{"resumed", "pause"}};
    case Resumed::kNothing:
      break;
  }
  return {{"resumed", nullptr}};
}

json listPauses(const json&) {
  return {{"pauses", pausesJson()}};
}

// Stops the process as a user's SIGSTOP would, until it is continued.
json stopProcess(const json&) {
  if (::raise(SIGSTOP) != 0) throw CommandError("the process could not be stopped");
  return json::object();
}

}  // namespace

void addPauseCommands(CommandTable& table) {
  table["pause"] = pause;
  table["wait-paused"] = waitPaused;
  table["resume"] = resume;
  table["pauses"] = listPauses;
  table["stop-process"] = stopProcess;
}

}  // namespace standin
