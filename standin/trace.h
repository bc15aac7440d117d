// The readable trace on standard error: one line per core call or control
// command, each starting "nimbrel-standin: ", while tracing is on.
#pragma once

#include <string>

#include "json_text.h"

namespace standin {

bool traceOn();
void setTrace(bool on);
// Writes "nimbrel-standin: " + text + "\n" in one write, whether or not
// tracing is on (for the few messages that must always be seen).
void writeStderrLine(const std::string& text);
void traceLine(const std::string& text);
// "fn(arg, arg, ...)" with long strings shortened.
std::string formatCall(const std::string& fn, const json& args);

}  // namespace standin
