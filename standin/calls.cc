#include "calls.h"

#include <atomic>
#include <deque>
#include <map>
#include <mutex>

#include "events.h"
#include "pause.h"
#include "timeline.h"
#include "trace.h"

namespace standin {

namespace {

struct LastError {
  bool set = false;
  std::string text;
};

thread_local LastError tlsLastError;

// A long process run polls the host-message queue a hundred times a second;
// the log keeps the newest entries.
constexpr size_t kMaxLoggedCalls = 200000;

// One logged call. Kept as plain fields and made into JSON only when a test
// reads the log: every core call is logged, and most logs are never read.
struct LoggedCall {
  const char* fn = "";  // the exported function's name: a literal
  json args;
  bool failed = false;
  bool hasResult = false;
  json result;
  std::optional<std::string> error;
};

json entryJson(const LoggedCall& call) {
  json entry = {{"fn", call.fn}, {"args", call.args}};
  if (call.failed) entry["failed"] = true;
  if (call.hasResult) entry["result"] = call.result;
  if (call.error) entry["error"] = *call.error;
  return entry;
}

struct CallLogStore {
  std::mutex mu;
  std::deque<LoggedCall> entries;
  uint64_t firstSeq = 0;  // sequence number of entries.front()
  uint64_t nextSeq = 0;
  uint64_t dropped = 0;
};

CallLogStore& logStore() {
  static CallLogStore* store = new CallLogStore;
  return *store;
}

struct FailureStore {
  std::mutex mu;
  std::map<std::string, InjectedFailure, std::less<>> pending;
  // pending.size(): every core call asks, and most runs inject nothing.
  std::atomic<size_t> count{0};
};

FailureStore& failureStore() {
  static FailureStore* store = new FailureStore;
  return *store;
}

// Takes one use of the failure injected for `fn`, if any.
std::optional<InjectedFailure> takeFailure(std::string_view fn) {
  FailureStore& store = failureStore();
  if (store.count.load(std::memory_order_acquire) == 0) return std::nullopt;
  std::lock_guard lock(store.mu);
  auto it = store.pending.find(fn);
  if (it == store.pending.end()) return std::nullopt;
  InjectedFailure taken = it->second;
  if (it->second.times > 0 && --it->second.times == 0) {
    store.pending.erase(it);
    store.count.store(store.pending.size(), std::memory_order_release);
  }
  return taken;
}

void setLastError(const std::optional<std::string>& text) {
  tlsLastError.set = text.has_value();
  tlsLastError.text = text.value_or("");
}

}  // namespace

Call::Call(const char* fn, json args, Kind kind) : fn_(fn), args_(std::move(args)), kind_(kind) {
  stampIfChosen(fn, args_);
  // Events that an earlier call of this thread caused (a new window taking the
  // focus) are delivered once the thread has come back with a further call.
  releaseHeldDeliveries();

  std::optional<InjectedFailure> failure;
  if (kind_ != Kind::kReadsLastError) {
    setLastError(std::nullopt);
    failure = takeFailure(fn_);
    if (failure) {
      injected_ = true;
      perform_ = failure->perform;
      setLastError(failure->error);
    }
  }

  // The arguments go to the log; only a trace needs them here afterwards.
  traced_ = traceOn();
  if (kind_ == Kind::kPlain && traced_) {
    std::string line = formatCall(fn_, args_);
    if (injected_) line += " -> injected failure " + dumpJson(cText(lastErrorText()));
    traceLine(line);
  }
  LoggedCall entry;
  entry.fn = fn_;
  entry.args = traced_ ? args_ : std::move(args_);
  entry.failed = injected_;
  std::optional<LoggedCall> oldest;  // freed once the lock is released
  {
    CallLogStore& store = logStore();
    std::lock_guard lock(store.mu);
    seq_ = store.nextSeq++;
    store.entries.push_back(std::move(entry));
    if (store.entries.size() > kMaxLoggedCalls) {
      oldest = std::move(store.entries.front());
      store.entries.pop_front();
      ++store.firstSeq;
      ++store.dropped;
    }
  }
}

Call::~Call() {
  const char* error = kind_ == Kind::kReadsLastError ? nullptr : lastErrorText();
  if (hasResult_ || error) {
    CallLogStore& store = logStore();
    std::lock_guard lock(store.mu);
    if (seq_ >= store.firstSeq && seq_ - store.firstSeq < store.entries.size()) {
      LoggedCall& entry = store.entries[seq_ - store.firstSeq];
      if (hasResult_) {
        entry.hasResult = true;
        entry.result = result_;
      }
      if (error) entry.error = error;
    }
  }
  if (kind_ != Kind::kPlain && traced_ && traceOn() &&
      (injected_ || (hasResult_ && !result_.is_null()))) {
    traceLine(formatCall(fn_, args_) + " -> " + dumpJson(result_));
  }
  // The work is done and logged; a test may hold the call here, before it
  // returns to the system.
  pauseIfArmed(fn_);
}

void Call::fail(const std::string& text) {
  setLastError(text);
  if (traceOn()) traceLine(std::string(fn_) + " failed: " + dumpJson(text));
}

const char* lastErrorText() {
  return tlsLastError.set ? tlsLastError.text.c_str() : nullptr;
}

json callLog(const std::vector<std::string>& only) {
  CallLogStore& store = logStore();
  std::lock_guard lock(store.mu);
  json out = json::array();
  for (const LoggedCall& entry : store.entries) {
    if (!only.empty()) {
      bool wanted = false;
      for (const std::string& name : only) wanted = wanted || name == entry.fn;
      if (!wanted) continue;
    }
    out.push_back(entryJson(entry));
  }
  return out;
}

uint64_t droppedCalls() {
  CallLogStore& store = logStore();
  std::lock_guard lock(store.mu);
  return store.dropped;
}

void clearCallLog() {
  CallLogStore& store = logStore();
  std::lock_guard lock(store.mu);
  store.firstSeq += store.entries.size();
  store.entries.clear();
  store.dropped = 0;
}

void injectFailure(const std::string& fn, const InjectedFailure& failure) {
  FailureStore& store = failureStore();
  std::lock_guard lock(store.mu);
  if (failure.times == 0) {
    store.pending.erase(fn);
  } else {
    store.pending[fn] = failure;
  }
  store.count.store(store.pending.size(), std::memory_order_release);
}

void clearInjectedFailures() {
  FailureStore& store = failureStore();
  std::lock_guard lock(store.mu);
  store.pending.clear();
  store.count.store(0, std::memory_order_release);
}

json injectedFailuresJson() {
  FailureStore& store = failureStore();
  std::lock_guard lock(store.mu);
  json out = json::object();
  for (const auto& [fn, failure] : store.pending) {
    out[fn] = {{"error", failure.error ? json(*failure.error) : json(nullptr)},
               {"times", failure.times < 0 ? json("always") : json(failure.times)},
               {"perform", failure.perform}};
  }
  return out;
}

}  // namespace standin
