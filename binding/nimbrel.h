// The loaded native core library and the typed operations on it. Every native
// call of the system goes through a `Core`: the binding adds no lock and no
// change of thread to these calls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/bundle_paths.h"
#include "binding/geometry.h"
#include "support/result.h"

namespace nimbrel {

using StatusItemHandler = std::function<void(uint32_t id, const std::string& action)>;
using URLOpenHandler = std::function<void(const std::string& url)>;
using AppReopenHandler = std::function<void()>;
using QuitRequestedHandler = std::function<void()>;

// Defined in binding/windows.h and binding/webviews.h.
struct WindowOptions;
struct WebviewOptions;
struct HostMessage;

// The 118 core functions that must all be present when the library loads.
extern const char* const coreSymbolNames[118];

// A NUL-terminated copy of a string, made for one core call and released when
// it goes out of scope.
class CString {
 public:
  explicit CString(std::string s) : text_(std::move(s)) {}
  const char* c() const { return text_.c_str(); }

 private:
  std::string text_;
};

// Refuses a string with an embedded NUL byte, naming it by `label`.
support::Result<CString> cString(const std::string& s, const std::string& label);
inline bool cbool(bool b) {
  return b;
}

class Core {
 public:
  Core(void* lib, std::unordered_map<std::string, void*> symbols)
      : lib_(lib), symbols_(std::move(symbols)) {}

  void* lib() const { return lib_; }
  // The entry point of a core function; every name is present after loading.
  void* symbol(const std::string& name) const { return symbols_.at(name); }

  std::string LastError() const;
  support::Status SetExitOnLastWindowClosed(bool exit) const;
  support::Status StopEventLoop() const;
  // Runs the native event loop on the calling thread, which must be the
  // process's main thread, until the loop is stopped.
  support::Status RunMainThread(const std::string& identifier, const std::string& name,
                                const std::string& channel) const;
  support::Status SetURLOpenHandler(URLOpenHandler handler) const;
  support::Status SetAppReopenHandler(AppReopenHandler handler) const;
  // An empty handler installs the default one, which stops the event loop.
  support::Status SetQuitRequestedHandler(QuitRequestedHandler handler) const;

  // Windows (binding/windows.h). Setters follow rule A, the queries rule C.
  // Creates the window and registers its callbacks under the new id.
  support::Result<uint32_t> CreateWindow(WindowOptions options) const;
  support::Status SetWindowTitle(uint32_t windowId, const std::string& title) const;
  support::Status MinimizeWindow(uint32_t windowId) const;
  support::Status RestoreWindow(uint32_t windowId) const;
  bool IsWindowMinimized(uint32_t windowId) const;
  support::Status MaximizeWindow(uint32_t windowId) const;
  support::Status UnmaximizeWindow(uint32_t windowId) const;
  bool IsWindowMaximized(uint32_t windowId) const;
  support::Status SetWindowFullScreen(uint32_t windowId, bool fullScreen) const;
  bool IsWindowFullScreen(uint32_t windowId) const;
  support::Status SetWindowAlwaysOnTop(uint32_t windowId, bool alwaysOnTop) const;
  support::Status SetWindowVisibleOnAllWorkspaces(uint32_t windowId, bool visible) const;
  support::Status ShowWindow(uint32_t windowId, bool flag) const;
  support::Status ActivateWindow(uint32_t windowId) const;
  support::Status HideWindow(uint32_t windowId) const;
  bool IsWindowVisible(uint32_t windowId) const;
  support::Status SetWindowButtonPosition(uint32_t windowId, double x, double y) const;
  support::Result<Rect> GetWindowFrame(uint32_t windowId) const;
  // Only asks the core; the window's callbacks stay registered.
  support::Status CloseWindow(uint32_t windowId) const;

  // Web views (binding/webviews.h).
  // Hands the bundle's preload-full.js and preload-sandboxed.js to the core.
  support::Status ConfigureWebviewRuntimeFromExecutableDir(const BundlePaths& paths,
                                                           uint32_t number) const;
  // Creates the web view and registers its callbacks under the new id.
  support::Result<uint32_t> CreateWebview(WebviewOptions options) const;
  support::Status ReloadWebview(uint32_t webviewId) const;
  support::Status SetWebviewNavigationRules(uint32_t webviewId, const std::string& rulesJSON) const;
  support::Status ToggleWebviewDevtools(uint32_t webviewId) const;
  support::Status SetWebviewPageZoom(uint32_t webviewId, double zoom) const;
  double GetWebviewPageZoom(uint32_t webviewId) const;
  support::Status EvaluateJavaScriptWithNoCompletion(uint32_t webviewId,
                                                     const std::string& script) const;
  // The next message that a page posted, or nothing when the queue is empty.
  std::optional<HostMessage> PopNextQueuedHostMessageString() const;

  // Tray, displays, notifications, menus and desktop services. The tray and
  // the application menu share one status-item slot: the last of CreateTray
  // and SetApplicationMenuJSON decides who receives item picks from both.
  support::Result<uint32_t> CreateTray(const std::string& title, const std::string& image,
                                       bool option, uint32_t width, uint32_t height,
                                       StatusItemHandler handler) const;
  support::Status SetTrayTitle(uint32_t trayId, const std::string& title) const;
  // Members of the core's text that do not decode are left zero.
  support::Result<Display> GetPrimaryDisplay() const;
  support::Result<std::vector<Display>> GetAllDisplays() const;
  support::Status ShowItemInFolder(const std::string& path) const;
  // Whether the system opened the address; only a NUL byte in it is an error.
  support::Result<bool> OpenExternal(const std::string& url) const;
  support::Status ShowNotification(const std::string& title, const std::string& body,
                                   const std::string& subtitle, bool silent) const;
  support::Status SetApplicationMenuJSON(const std::string& menuJSON,
                                         StatusItemHandler handler) const;

  // Rule A: a non-empty last-error text after a call that changes something.
  support::Status ensureLastCallSucceeded() const;
  // Rule B: a failure result always fails, with whatever the text is.
  support::Error lastCallFailed() const { return support::makeError(LastError()); }

 private:
  void* lib_;
  std::unordered_map<std::string, void*> symbols_;
};

// Opens libNimbrelCore.dylib beside the executable and resolves all of its
// functions, applies the bundle's exit-on-last-window-closed setting and
// installs the default quit handler.
support::Result<std::shared_ptr<Core>> LoadCore();
// The same for the bundle at `bundle` (LoadCore resolves it from the process).
support::Result<std::shared_ptr<Core>> loadCoreFromBundle(const BundlePaths& bundle);

bool ExitOnLastWindowClosedFromBuildConfig(const BundlePaths& bundle);

}  // namespace nimbrel
