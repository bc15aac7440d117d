// Opening the core library and resolving every one of its functions.
#include <string>

#include "binding/nimbrel.h"
#include "binding/nm_helpers.h"
#include "support/file.h"
#include "support/json.h"
#include "support/path.h"

namespace nimbrel {

const char* const coreSymbolNames[118] = {
    "nimbrel_core_last_error",
    "nimbrel_core_run_main_thread",
    "configureWebviewRuntime",
    "getWindowStyle",
    "createWindow",
    "createWebview",
    "setNextWebviewAllowedProtocols",
    "createWGPUView",
    "setWindowTitle",
    "minimizeWindow",
    "restoreWindow",
    "isWindowMinimized",
    "maximizeWindow",
    "unmaximizeWindow",
    "isWindowMaximized",
    "setWindowFullScreen",
    "isWindowFullScreen",
    "setWindowAlwaysOnTop",
    "isWindowAlwaysOnTop",
    "setWindowVisibleOnAllWorkspaces",
    "isWindowVisibleOnAllWorkspaces",
    "showWindow",
    "activateWindow",
    "hideWindow",
    "isWindowVisible",
    "setWindowButtonPosition",
    "getWindowButtonPosition",
    "setWindowPosition",
    "centerWindow",
    "setWindowSize",
    "setWindowFrame",
    "getWindowFrame",
    "closeWindow",
    "requestWindowClose",
    "resizeWebview",
    "loadURLInWebView",
    "loadHTMLInWebView",
    "webviewCanGoBack",
    "webviewCanGoForward",
    "webviewGoBack",
    "webviewGoForward",
    "webviewReload",
    "webviewRemove",
    "setWebviewHTMLContent",
    "webviewSetTransparent",
    "webviewSetPassthrough",
    "webviewSetHidden",
    "webviewSetSpellCheck",
    "setWebviewNavigationRules",
    "webviewFindInPage",
    "webviewStopFind",
    "webviewOpenDevTools",
    "webviewCloseDevTools",
    "webviewToggleDevTools",
    "webviewSetPageZoom",
    "webviewGetPageZoom",
    "sendInternalMessageToWebview",
    "setWGPUViewFrame",
    "resizeWGPUView",
    "setWGPUViewTransparent",
    "setWGPUViewPassthrough",
    "setWGPUViewHidden",
    "removeWGPUView",
    "getWGPUViewPointer",
    "getWGPUViewNativeHandle",
    "runWGPUViewTest",
    "toggleWGPUViewTestShader",
    "sendHostMessageToWebviewViaTransport",
    "popNextQueuedHostMessage",
    "freeCoreString",
    "evaluateJavaScriptWithNoCompletion",
    "createTray",
    "showTray",
    "hideTray",
    "setTrayTitle",
    "removeTray",
    "getTrayBounds",
    "setDockIconVisible",
    "isDockIconVisible",
    "getPrimaryDisplay",
    "getAllDisplays",
    "getCursorScreenPoint",
    "captureScreenRegion",
    "moveToTrash",
    "showItemInFolder",
    "openExternal",
    "openPath",
    "showNotification",
    "clipboardReadText",
    "clipboardWriteText",
    "clipboardClear",
    "clipboardAvailableFormats",
    "setApplicationMenu",
    "showContextMenu",
    "openFileDialog",
    "showMessageBox",
    "setGlobalShortcutCallback",
    "registerGlobalShortcut",
    "unregisterGlobalShortcut",
    "unregisterAllGlobalShortcuts",
    "isGlobalShortcutRegistered",
    "sessionGetCookies",
    "sessionSetCookie",
    "sessionRemoveCookie",
    "sessionClearCookies",
    "sessionClearStorageData",
    "setURLOpenHandler",
    "setAppReopenHandler",
    "setQuitRequestedHandler",
    "setExitOnLastWindowClosed",
    "stopEventLoop",
    "waitForShutdownComplete",
    "forceExit",
    "wgpuCreateSurfaceForView",
    "wgpuCreateAdapterDeviceMainThread",
    "wgpuSurfaceConfigureMainThread",
    "wgpuSurfaceGetCurrentTextureMainThread",
    "wgpuSurfacePresentMainThread",
};

bool ExitOnLastWindowClosedFromBuildConfig(const BundlePaths& bundle) {
  auto text = support::readFile(support::joinPath({bundle.ResourcesDir, "build.json"}));
  if (!text) return true;
  std::optional<bool> exitOnLastWindowClosed;
  auto status = support::json::decodeObject(*text, [&](support::json::Object& config) {
    config.object("runtime", [&](support::json::Object& runtime) {
      runtime.field("exitOnLastWindowClosed", exitOnLastWindowClosed);
    });
  });
  if (!status || !exitOnLastWindowClosed) return true;
  return *exitOnLastWindowClosed;
}

support::Result<std::shared_ptr<Core>> loadCoreFromBundle(const BundlePaths& bundle) {
  const std::string libraryPath = support::joinPath({bundle.ExeDir, "libNimbrelCore.dylib"});
  void* lib = nm_dlopen(CString(libraryPath).c());
  if (lib == nullptr) {
    const char* reason = nm_dlerror();
    return support::makeError("failed to open " + libraryPath + ": " + (reason ? reason : ""));
  }
  std::unordered_map<std::string, void*> symbols;
  for (const char* name : coreSymbolNames) {
    void* entry = nm_dlsym(lib, CString(name).c());
    // The library stays loaded: it is never closed, even after a failure.
    if (entry == nullptr) return support::makeError(std::string("missing core symbol ") + name);
    symbols.emplace(name, entry);
  }
  auto core = std::make_shared<Core>(lib, std::move(symbols));
  if (auto s = core->SetExitOnLastWindowClosed(ExitOnLastWindowClosedFromBuildConfig(bundle)); !s) {
    return s.error();
  }
  if (auto s = core->SetQuitRequestedHandler(nullptr); !s) return s.error();
  return core;
}

support::Result<std::shared_ptr<Core>> LoadCore() {
  auto bundle = ResolveBundlePaths();
  if (!bundle) return bundle.error();
  return loadCoreFromBundle(*bundle);
}

}  // namespace nimbrel
