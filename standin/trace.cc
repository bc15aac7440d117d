#include "trace.h"

#include <unistd.h>

#include <atomic>

namespace standin {

namespace {

std::atomic<bool>& traceFlag() {
  static std::atomic<bool> flag{false};
  return flag;
}

// Preload scripts and menus can be long; the trace keeps lines readable.
constexpr size_t kMaxTracedString = 160;

std::string formatArg(const json& arg) {
  if (arg.is_string()) {
    const std::string& s = arg.get_ref<const std::string&>();
    if (s.size() > kMaxTracedString) {
      return dumpJson(s.substr(0, kMaxTracedString)) + "...(" + std::to_string(s.size()) +
             " bytes)";
    }
  }
  return dumpJson(arg);
}

}  // namespace

bool traceOn() {
  return traceFlag().load(std::memory_order_relaxed);
}

void setTrace(bool on) {
  traceFlag().store(on, std::memory_order_relaxed);
}

void writeStderrLine(const std::string& text) {
  std::string line = "nimbrel-standin: " + text + "\n";
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = write(STDERR_FILENO, p, left);
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

void traceLine(const std::string& text) {
  if (traceOn()) writeStderrLine(text);
}

std::string formatCall(const std::string& fn, const json& args) {
  std::string out = fn + "(";
  bool first = true;
  for (const auto& arg : args) {
    if (!first) out += ", ";
    first = false;
    out += formatArg(arg);
  }
  return out + ")";
}

}  // namespace standin
