#include "dispatch_main_queue.h"

#include <dlfcn.h>

#include <cstddef>
#include <cstring>

#include "objc_objects.h"

namespace standin {

namespace {

using SetWakerFn = void (*)(void (*)());
using DrainFn = size_t (*)();

template <typename Fn>
Fn lookUp(const char* name) {
  // The dispatch library is one of the executable's own, so it is global.
  void* symbol = dlsym(RTLD_DEFAULT, name);
  Fn fn = nullptr;
  static_assert(sizeof fn == sizeof symbol);
  std::memcpy(&fn, &symbol, sizeof fn);
  return fn;
}

struct MainQueue {
  SetWakerFn setWaker = lookUp<SetWakerFn>("standin_dispatch_set_main_queue_waker");
  DrainFn drain = lookUp<DrainFn>("standin_dispatch_drain_main_queue");
};

const MainQueue& mainQueue() {
  static const MainQueue queue;
  return queue;
}

}  // namespace

void connectMainDispatchQueue(void (*wake)()) {
  if (mainQueue().setWaker) mainQueue().setWaker(wake);
}

bool serviceMainDispatchQueue() {
  bool ran = mainQueue().drain && mainQueue().drain() > 0;
  // The platform empties the main thread's autorelease pool at the end of
  // every turn of its loop; the objects its classes answered with go then.
  objc::releaseThreadObjects();
  return ran;
}

}  // namespace standin
