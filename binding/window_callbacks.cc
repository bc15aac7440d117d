// The registry of per-window callbacks and the entry points through which the
// core reports window events.
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <utility>

#include "binding/callbacks.h"
#include "binding/nm_helpers.h"

namespace nimbrel {
namespace {

// Never destroyed: a core thread may still report an event while the process
// is exiting.
std::unordered_map<uint32_t, WindowCallbacks>& windowCallbacks() {
  static auto* registry = new std::unordered_map<uint32_t, WindowCallbacks>();
  return *registry;
}

bool allAbsent(const WindowCallbacks& c) {
  return !c.Close && !c.ShouldClose && !c.Move && !c.Resize && !c.Focus && !c.Blur && !c.Key;
}

// Copies one callback out under the read lock; the caller runs it after the
// lock is gone, so the callback may register windows itself.
template <typename Handler>
Handler windowCallback(uint32_t windowId, Handler WindowCallbacks::*field) {
  std::shared_lock lock(callbacksMu());
  const auto& registry = windowCallbacks();
  auto entry = registry.find(windowId);
  if (entry == registry.end()) return {};
  return entry->second.*field;
}

}  // namespace

void registerWindowCallbacks(uint32_t windowId, WindowCallbacks callbacks) {
  if (allAbsent(callbacks)) return;
  // The replaced set is destroyed after the lock is released, since what its
  // callbacks captured may call into the binding when it goes.
  WindowCallbacks previous;
  std::unique_lock lock(callbacksMu());
  WindowCallbacks& entry = windowCallbacks()[windowId];
  previous = std::exchange(entry, std::move(callbacks));
}

}  // namespace nimbrel

using nimbrel::windowCallback;
using nimbrel::WindowCallbacks;

extern "C" {

void nimbrelWindowCloseHandler(uint32_t id) {
  if (auto handler = windowCallback(id, &WindowCallbacks::Close)) handler(id);
}

void nimbrelWindowMoveHandler(uint32_t id, double x, double y) {
  if (auto handler = windowCallback(id, &WindowCallbacks::Move)) handler(id, x, y);
}

void nimbrelWindowResizeHandler(uint32_t id, double x, double y, double width, double height) {
  if (auto handler = windowCallback(id, &WindowCallbacks::Resize)) handler(id, x, y, width, height);
}

void nimbrelWindowFocusHandler(uint32_t id) {
  if (auto handler = windowCallback(id, &WindowCallbacks::Focus)) handler(id);
}

void nimbrelWindowBlurHandler(uint32_t id) {
  if (auto handler = windowCallback(id, &WindowCallbacks::Blur)) handler(id);
}

void nimbrelWindowKeyHandler(uint32_t id, uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  if (auto handler = windowCallback(id, &WindowCallbacks::Key)) handler(id, a, b, c, d);
}

void nimbrelWindowShouldCloseHandler(uint32_t id) {
  if (auto handler = windowCallback(id, &WindowCallbacks::ShouldClose)) handler(id);
}

}  // extern "C"
