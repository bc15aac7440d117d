// Launch at login: a launch agent file in the user's LaunchAgents directory
// that starts the application with "--autostart". The agent is not submitted
// to the service manager; it takes effect at the next login.
#pragma once

#include <string>
#include <string_view>

#include "support/result.h"

namespace shell {

// home/Library/LaunchAgents/<application identifier>.plist; relative to the
// working directory when `home` is empty.
std::string launchAgent(std::string_view home);

// Whether a file of the agent's name exists; its content is not examined.
bool loginItemEnabled(std::string_view home);

// XML character data for the UTF-8 text `s`: markup characters, quotes and
// the white-space controls as references; characters outside the XML range
// and bytes that are not UTF-8 as U+FFFD.
std::string xmlText(std::string_view s);

// Writes the launch agent for `exe` (on) or removes it (off; an agent that
// does not exist is no error). Errors are the file system's own texts.
support::Status setLoginItem(std::string_view home, std::string_view exe, bool on);

// The user's choice for a double click on a window's title bar
// ("AppleActionOnDoubleClick"), as `defaultsProgram` (the system's
// "/usr/bin/defaults") prints it, white space trimmed; "" when the program
// cannot run or fails. Read afresh at every call.
std::string titleBarDoubleClickAction(const std::string& defaultsProgram);

}  // namespace shell
