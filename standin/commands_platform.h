// Control commands about the platform around the core: its main bundle, the
// notification centres and clicks on notifications, and the web engine's
// screen-sharing feature.
#pragma once

#include "commands.h"

namespace standin {

// Also makes "reset" reset the platform: add after addAppCommands.
void addPlatformCommands(CommandTable& table);

}  // namespace standin
