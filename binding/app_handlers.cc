// The application-level handler slots and their exported entry points.
#include <mutex>
#include <string>
#include <utility>

#include "binding/callbacks.h"
#include "binding/nm_helpers.h"

namespace nimbrel {
namespace {

struct Slots {
  StatusItemHandler statusItem;
  std::function<void(const std::string&)> globalShortcut;  // no setter: always empty
  URLOpenHandler urlOpen;
  AppReopenHandler appReopen;
  QuitRequestedHandler quitRequested;
};

// Never destroyed: a core thread may still report an event while the process
// exits.
Slots& slots() {
  static Slots* s = new Slots;
  return *s;
}

// The replaced handler is destroyed only after the lock is released: what it
// captured may itself call into the binding when it goes.
template <typename Handler>
void store(Handler Slots::*slot, Handler handler) {
  Handler previous;
  std::unique_lock lock(callbacksMu());
  previous = std::exchange(slots().*slot, std::move(handler));
}

template <typename Handler>
Handler load(Handler Slots::*slot) {
  std::shared_lock lock(callbacksMu());
  return slots().*slot;
}

}  // namespace

std::shared_mutex& callbacksMu() {
  static std::shared_mutex* mu = new std::shared_mutex;  // never destroyed, as the slots
  return *mu;
}

void setStatusItemHandler(StatusItemHandler handler) {
  store(&Slots::statusItem, std::move(handler));
}
void setURLOpenHandler(URLOpenHandler handler) {
  store(&Slots::urlOpen, std::move(handler));
}
void setAppReopenHandler(AppReopenHandler handler) {
  store(&Slots::appReopen, std::move(handler));
}
void setQuitRequestedHandler(QuitRequestedHandler handler) {
  store(&Slots::quitRequested, std::move(handler));
}

}  // namespace nimbrel

using nimbrel::Slots;

extern "C" {

void nimbrelStatusItemHandler(uint32_t id, const char* action) {
  auto handler = nimbrel::load(&Slots::statusItem);
  if (handler) handler(id, nimbrel::copyCoreString(action));
}

void nimbrelGlobalShortcutHandler(const char* accelerator) {
  auto handler = nimbrel::load(&Slots::globalShortcut);
  if (handler) handler(nimbrel::copyCoreString(accelerator));
}

void nimbrelURLOpenHandler(const char* url) {
  auto handler = nimbrel::load(&Slots::urlOpen);
  if (handler) handler(nimbrel::copyCoreString(url));
}

void nimbrelAppReopenHandler(void) {
  auto handler = nimbrel::load(&Slots::appReopen);
  if (handler) handler();
}

void nimbrelQuitRequestedHandler(void) {
  auto handler = nimbrel::load(&Slots::quitRequested);
  if (handler) handler();
}

}  // extern "C"
