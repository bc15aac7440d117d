// The event loop, the last-error text and the application-level handlers.
#include <cstdint>
#include <mutex>

#include "calls.h"
#include "export.h"
#include "main_loop.h"
#include "state.h"

using namespace standin;

STANDIN_EXPORT const char* nimbrel_core_last_error(void) {
  Call call("nimbrel_core_last_error", json::array(), Call::Kind::kReadsLastError);
  return call.ret(lastErrorText());
}

STANDIN_EXPORT int32_t nimbrel_core_run_main_thread(const char* identifier, const char* name,
                                                    const char* channel, int32_t reserved) {
  Call call("nimbrel_core_run_main_thread",
            json::array({cText(identifier), cText(name), cText(channel), reserved}));
  if (call.refused()) return call.ret(int32_t{1});
  std::string error;
  {
    std::lock_guard lock(model().mu);
    model().app = json{{"identifier", cText(identifier)},
                       {"name", cText(name)},
                       {"channel", cText(channel)},
                       {"reserved", reserved}};
  }
  if (!runMainLoop(error)) {
    call.fail(error);
    return call.ret(int32_t{1});
  }
  return call.ret(int32_t{0});
}

STANDIN_EXPORT void stopEventLoop(void) {
  Call call("stopEventLoop", json::array());
  if (call.refused()) return;
  requestLoopStop();
}

STANDIN_EXPORT void setExitOnLastWindowClosed(bool exit) {
  Call call("setExitOnLastWindowClosed", json::array({exit}));
  if (call.refused()) return;
  std::lock_guard lock(model().mu);
  model().exitOnLastWindowClosed = exit;
}

STANDIN_EXPORT void setURLOpenHandler(StringFn handler) {
  Call call("setURLOpenHandler", json::array({address(handler)}));
  if (call.refused()) return;
  std::lock_guard lock(model().mu);
  model().urlOpenHandler = handler;
}

STANDIN_EXPORT void setAppReopenHandler(VoidFn handler) {
  Call call("setAppReopenHandler", json::array({address(handler)}));
  if (call.refused()) return;
  std::lock_guard lock(model().mu);
  model().appReopenHandler = handler;
}

STANDIN_EXPORT void setQuitRequestedHandler(VoidFn handler) {
  Call call("setQuitRequestedHandler", json::array({address(handler)}));
  if (call.refused()) return;
  std::lock_guard lock(model().mu);
  model().quitRequestedHandler = handler;
}

// Nothing of the stand-in outlives the loop, so there is nothing to wait for.
STANDIN_EXPORT void waitForShutdownComplete(int32_t timeoutMilliseconds) {
  Call call("waitForShutdownComplete", json::array({timeoutMilliseconds}));
}

#ifndef STANDIN_OMIT_forceExit
// Recorded only: a test process must not be ended behind its back.
STANDIN_EXPORT void forceExit(int32_t status) {
  Call call("forceExit", json::array({status}));
}
#endif
