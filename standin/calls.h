// Every exported core function starts with a `Call`: it records the call in
// the log, traces it, resets the calling thread's last-error text and applies
// an injected failure. The function then asks `refused()` and, when it is
// true, returns its failure result at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "json_text.h"

namespace standin {

class Call {
 public:
  enum class Kind {
    kPlain,
    // nimbrel_core_last_error: logged, but it reads the text instead of
    // resetting it, and it cannot be made to fail. Traced only when it has a
    // text to give, as the system reads it after most calls.
    kReadsLastError,
    // popNextQueuedHostMessage: the drain polls every few milliseconds, so an
    // empty poll is logged but not traced.
    kTraceOnlyWithResult,
  };

  Call(const char* fn, json args, Kind kind = Kind::kPlain);
  ~Call();
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  // An injected failure applies and the function must not do its work.
  bool refused() const { return injected_ && !perform_; }
  // The function's own failure: sets the calling thread's last-error text.
  void fail(const std::string& text);

  template <typename T>
  T ret(T value) {
    result_ = resultJson(value);
    hasResult_ = true;
    return value;
  }

 private:
  static json resultJson(bool v) { return v; }
  static json resultJson(uint32_t v) { return v; }
  static json resultJson(int32_t v) { return v; }
  static json resultJson(double v) { return v; }
  static json resultJson(const char* v) { return cText(v); }
  static json resultJson(char* v) { return cText(v); }
  static json resultJson(void* v) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(v)); }

  const char* fn_;  // the exported function's name: a literal
  json args_;       // moved to the log unless a trace still needs them
  Kind kind_;
  bool traced_ = false;
  uint64_t seq_ = 0;
  bool injected_ = false;
  bool perform_ = false;
  json result_;
  bool hasResult_ = false;
};

// The calling thread's last-error text: NULL after a success.
const char* lastErrorText();

// The call log, oldest first. `only` is empty for every call, else the names
// to keep.
json callLog(const std::vector<std::string>& only);
uint64_t droppedCalls();
void clearCallLog();

// Injected failures. `times` < 0 means every call until cleared; 0 clears.
// `error` absent makes nimbrel_core_last_error answer NULL.
struct InjectedFailure {
  std::optional<std::string> error;
  long times = 1;
  bool perform = false;
};
void injectFailure(const std::string& fn, const InjectedFailure& failure);
void clearInjectedFailures();
json injectedFailuresJson();

}  // namespace standin
