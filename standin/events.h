// The core's event thread. Every callback into the system runs on it, one at
// a time and in the order posted, never on the caller's thread and never
// while the stand-in's state lock is held (a callback may call the core
// again).
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "json_text.h"

namespace standin {

// One callback to make: what it is (for the delivery log) and how to run it.
// `callback` may be empty for internal work that is not a callback, such as
// a navigation that asks the page's decide-navigation callback first.
struct Delivery {
  std::string callback;
  json args;
  std::function<void()> run;
};
using Deliveries = std::vector<Delivery>;

// The event thread cannot be started: the system gives no more threads.
// Deliveries already queued are made once a later one can start it.
struct DeliveryError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Queues the deliveries and returns at once.
void deliverLater(Deliveries deliveries);
// Queues the deliveries and waits until they have run. On the event thread
// itself (a callback that sends a control command) they run inline. Throws
// DeliveryError when the thread cannot be started within a few seconds.
void deliverNow(Deliveries deliveries);
// Keeps the deliveries back until the calling thread makes its next core call
// or ends, or a control command runs. A window that takes the focus while
// `createWindow` runs reports it only after the system has registered the
// window's callbacks, which it does right after `createWindow` returns.
void holdForCaller(Deliveries deliveries);
// Releases what this thread holds back (called by every core call).
void releaseHeldDeliveries();
// Releases everything held back by any thread.
void releaseAllHeldDeliveries();
// Releases everything held and waits until every queued delivery has run.
// Returns at once on the event thread. Throws DeliveryError as deliverNow.
void drainDeliveries();
bool onEventThread();

// The log of callbacks made, oldest first.
json deliveryLog();
void clearDeliveryLog();

}  // namespace standin
