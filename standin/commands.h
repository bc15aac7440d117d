// Control commands: JSON objects {"cmd": NAME, ...} answered with
// {"ok": true, ...} or {"ok": false, "error": TEXT}. Each file of commands
// adds its own to the table; control.cc runs them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

#include "json_text.h"

namespace standin {

// A refused command; the text becomes the reply's "error". It never leaves
// the stand-in: control.cc turns it into the reply.
struct CommandError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A handler returns the reply's members besides "ok".
using CommandHandler = std::function<json(const json& cmd)>;
using CommandTable = std::map<std::string, CommandHandler>;

void addAppCommands(CommandTable& table);
void addWindowCommands(CommandTable& table);
void addWebviewCommands(CommandTable& table);
void addDesktopCommands(CommandTable& table);

// Runs one command; never throws.
json runCommand(const json& cmd);
std::string runCommandText(const std::string& text);

// Starts the control socket at `path`; false with `error` when it cannot.
bool startControlSocket(const std::string& path, std::string& error);
json controlSocketJson();

// Argument readers: a missing or mistyped member refuses the command.
uint32_t needU32(const json& cmd, const char* key);
double needNumber(const json& cmd, const char* key);
std::string needString(const json& cmd, const char* key);
std::optional<std::string> optString(const json& cmd, const char* key);
bool optBool(const json& cmd, const char* key, bool fallback);
double optNumber(const json& cmd, const char* key, double fallback);

}  // namespace standin
