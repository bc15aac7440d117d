// How every operation calls the core: C string copies, the error rules, the
// event loop and the application handler setters.
#include <string>

#include "binding/callbacks.h"
#include "binding/nimbrel.h"
#include "binding/nm_helpers.h"

namespace nimbrel {

support::Result<CString> cString(const std::string& s, const std::string& label) {
  if (s.find('\0') != std::string::npos) {
    return support::makeError(label + " contains an interior null byte");
  }
  return CString(s);
}

std::string Core::LastError() const {
  const char* text = nm_call_last_error(symbol("nimbrel_core_last_error"));
  return text ? text : "";
}

support::Status Core::ensureLastCallSucceeded() const {
  std::string text = LastError();
  if (!text.empty()) return support::makeError(text);
  return {};
}

support::Status Core::SetExitOnLastWindowClosed(bool exit) const {
  nm_call_bool(symbol("setExitOnLastWindowClosed"), cbool(exit));
  return ensureLastCallSucceeded();
}

support::Status Core::StopEventLoop() const {
  nm_call_void(symbol("stopEventLoop"));
  return ensureLastCallSucceeded();
}

// The loop must run on the process's main thread. Nothing has to pin it there:
// the entry point calls this from the thread that runs main, before any other
// work could claim that thread.
support::Status Core::RunMainThread(const std::string& identifier, const std::string& name,
                                    const std::string& channel) const {
  auto cIdentifier = cString(identifier, "app identifier");
  if (!cIdentifier) return cIdentifier.error();
  auto cName = cString(name, "app name");
  if (!cName) return cName.error();
  auto cChannel = cString(channel, "app channel");
  if (!cChannel) return cChannel.error();
  int32_t status = nm_call_run_main_thread(symbol("nimbrel_core_run_main_thread"), cIdentifier->c(),
                                           cName->c(), cChannel->c(), 0);
  if (status != 0) return lastCallFailed();
  return {};
}

support::Status Core::SetURLOpenHandler(URLOpenHandler handler) const {
  bool listen = static_cast<bool>(handler);
  setURLOpenHandler(std::move(handler));
  nm_call_set_url_open_handler(symbol("setURLOpenHandler"), cbool(listen));
  return ensureLastCallSucceeded();
}

support::Status Core::SetAppReopenHandler(AppReopenHandler handler) const {
  bool listen = static_cast<bool>(handler);
  setAppReopenHandler(std::move(handler));
  nm_call_set_app_reopen_handler(symbol("setAppReopenHandler"), cbool(listen));
  return ensureLastCallSucceeded();
}

support::Status Core::SetQuitRequestedHandler(QuitRequestedHandler handler) const {
  if (!handler) {
    // Without a handler of the caller's, a quit request still ends the loop.
    handler = [core = *this] { (void)core.StopEventLoop(); };
  }
  setQuitRequestedHandler(std::move(handler));
  nm_call_set_quit_requested_handler(symbol("setQuitRequestedHandler"), cbool(true));
  return ensureLastCallSucceeded();
}

}  // namespace nimbrel
