// Control commands for tests and benchmarks that drive the system from
// outside: holding core calls, and timing what the system does.
#pragma once

#include "commands.h"

namespace standin {

void addPauseCommands(CommandTable& table);     // commands_pause.cc
void addTimelineCommands(CommandTable& table);  // commands_timeline.cc

}  // namespace standin
