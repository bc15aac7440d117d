// The registry of per-web-view callbacks and the entry points through which
// the core reports navigations, web-view events and page messages.
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
std::unordered_map<uint32_t, WebviewCallbacks>& webviewCallbacks() {
  static auto* registry = new std::unordered_map<uint32_t, WebviewCallbacks>();
  return *registry;
}

// VeskBridge has no slot in the core, so it does not count here.
bool allAbsent(const WebviewCallbacks& c) {
  return !c.DecideNavigation && !c.Event && !c.EventBridge && !c.HostBridge && !c.InternalBridge;
}

// Copies one callback out under the read lock; the caller runs it after the
// lock is gone.
template <typename Handler>
Handler webviewCallback(uint32_t webviewId, Handler WebviewCallbacks::*field) {
  std::shared_lock lock(callbacksMu());
  const auto& registry = webviewCallbacks();
  auto entry = registry.find(webviewId);
  if (entry == registry.end()) return {};
  return entry->second.*field;
}

}  // namespace

void registerWebviewCallbacks(uint32_t webviewId, WebviewCallbacks callbacks) {
  if (allAbsent(callbacks)) return;
  // The replaced set is destroyed after the lock is released, since what its
  // callbacks captured may call into the binding when it goes.
  WebviewCallbacks previous;
  std::unique_lock lock(callbacksMu());
  WebviewCallbacks& entry = webviewCallbacks()[webviewId];
  previous = std::exchange(entry, std::move(callbacks));
}

}  // namespace nimbrel

using nimbrel::copyCoreString;
using nimbrel::webviewCallback;
using nimbrel::WebviewCallbacks;

extern "C" {

// Without a callback every navigation is allowed, also those the core asks
// about while the web view is still being created.
uint32_t nimbrelDecideNavigationHandler(uint32_t id, const char* url) {
  auto handler = webviewCallback(id, &WebviewCallbacks::DecideNavigation);
  if (!handler) return 1;
  return handler(id, copyCoreString(url));
}

void nimbrelWebviewEventHandler(uint32_t id, const char* name, const char* detail) {
  if (auto handler = webviewCallback(id, &WebviewCallbacks::Event)) {
    handler(id, copyCoreString(name), copyCoreString(detail));
  }
}

void nimbrelWebviewEventBridgeHandler(uint32_t id, const char* message) {
  if (auto handler = webviewCallback(id, &WebviewCallbacks::EventBridge)) {
    handler(id, copyCoreString(message));
  }
}

void nimbrelWebviewHostBridgeHandler(uint32_t id, const char* message) {
  if (auto handler = webviewCallback(id, &WebviewCallbacks::HostBridge)) {
    handler(id, copyCoreString(message));
  }
}

void nimbrelWebviewInternalBridgeHandler(uint32_t id, const char* message) {
  if (auto handler = webviewCallback(id, &WebviewCallbacks::InternalBridge)) {
    handler(id, copyCoreString(message));
  }
}

}  // extern "C"
