#include "pause.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>

#include "trace.h"

namespace standin {

namespace {

struct Slot {
  bool armed = false;
  int paused = 0;         // calls stopped right now
  uint64_t releases = 0;  // counts resumes, so a stopped call sees its own
};

struct Pauses {
  std::mutex mu;
  std::condition_variable changed;
  std::map<std::string, Slot> slots;
  // Every core call asks; most runs arm nothing, so the common answer must
  // not take the lock.
  std::atomic<size_t> inUse{0};
};

Pauses& pauses() {
  static Pauses* p = new Pauses;
  return *p;
}

// Drops a slot nobody needs any more. Called with the lock held.
void forgetIfIdle(Pauses& p, std::map<std::string, Slot>::iterator it) {
  if (it->second.armed || it->second.paused > 0) return;
  p.slots.erase(it);
  p.inUse.store(p.slots.size(), std::memory_order_release);
}

}  // namespace

void armPause(const std::string& fn) {
  Pauses& p = pauses();
  std::lock_guard lock(p.mu);
  p.slots[fn].armed = true;
  p.inUse.store(p.slots.size(), std::memory_order_release);
}

Resumed resumePaused(const std::string& fn) {
  Pauses& p = pauses();
  std::lock_guard lock(p.mu);
  auto it = p.slots.find(fn);
  if (it == p.slots.end()) return Resumed::kNothing;
  Resumed what = Resumed::kArmedPause;
  if (it->second.paused > 0) {
    ++it->second.releases;
    what = Resumed::kPausedCall;
    p.changed.notify_all();
  } else {
    it->second.armed = false;
    forgetIfIdle(p, it);
  }
  return what;
}

bool waitUntilPaused(const std::string& fn, std::chrono::milliseconds guard) {
  Pauses& p = pauses();
  std::unique_lock lock(p.mu);
  return p.changed.wait_for(lock, guard, [&] {
    auto it = p.slots.find(fn);
    return it != p.slots.end() && it->second.paused > 0;
  });
}

void releaseAllPauses() {
  Pauses& p = pauses();
  std::lock_guard lock(p.mu);
  for (auto it = p.slots.begin(); it != p.slots.end();) {
    it->second.armed = false;
    if (it->second.paused > 0) {
      ++it->second.releases;
      ++it;
    } else {
      it = p.slots.erase(it);
    }
  }
  p.inUse.store(p.slots.size(), std::memory_order_release);
  p.changed.notify_all();
}

void pauseIfArmed(const char* name) {
  Pauses& p = pauses();
  if (p.inUse.load(std::memory_order_acquire) == 0) return;
  const std::string fn = name;
  std::unique_lock lock(p.mu);
  auto it = p.slots.find(fn);
  if (it == p.slots.end() || !it->second.armed) return;
  Slot& slot = it->second;
  slot.armed = false;
  ++slot.paused;
  uint64_t seen = slot.releases;
  p.changed.notify_all();
  traceLine(fn + " paused");
  // Map nodes stay put while other slots come and go, so `slot` stays valid;
  // this one is not erased while a call is stopped in it.
  p.changed.wait(lock, [&] { return slot.releases != seen; });
  --slot.paused;
  traceLine(fn + " resumed");
  forgetIfIdle(p, it);
}

json pausesJson() {
  Pauses& p = pauses();
  std::lock_guard lock(p.mu);
  json out = json::object();
  for (const auto& [fn, slot] : p.slots) {
    out[fn] = {{"armed", slot.armed}, {"paused", slot.paused}};
  }
  return out;
}

}  // namespace standin
