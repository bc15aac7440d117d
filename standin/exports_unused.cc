// Functions of the core that the system resolves but never calls. Each has a
// plausible shape and a harmless behaviour: it is logged, may be made to
// fail, and either keeps a small record or reports that it is not available.
// Nothing here touches the machine (no clipboard, trash, dialogs or GPU).
#include <cstdint>
#include <mutex>
#include <string>

#include "calls.h"
#include "export.h"
#include "state.h"

using namespace standin;

namespace {

constexpr const char* kNoWebGpu = "WebGPU is not available in the stand-in core";

std::string noWgpuView(uint32_t id) {
  return "no WebGPU view " + std::to_string(id);
}

void wgpuViewCall(const char* fn, json args, uint32_t id) {
  Call call(fn, std::move(args));
  if (call.refused()) return;
  call.fail(noWgpuView(id));
}

}  // namespace

// ---- WebGPU views: none can be made, so every view id is unknown. ----

STANDIN_EXPORT uint32_t createWGPUView(uint32_t windowId, double x, double y, double width,
                                       double height) {
  Call call("createWGPUView", json::array({windowId, x, y, width, height}));
  if (!call.refused()) call.fail(kNoWebGpu);
  return call.ret(uint32_t{0});
}

STANDIN_EXPORT void setWGPUViewFrame(uint32_t id, double x, double y, double width, double height) {
  wgpuViewCall("setWGPUViewFrame", json::array({id, x, y, width, height}), id);
}

STANDIN_EXPORT void resizeWGPUView(uint32_t id, double x, double y, double width, double height) {
  wgpuViewCall("resizeWGPUView", json::array({id, x, y, width, height}), id);
}

STANDIN_EXPORT void setWGPUViewTransparent(uint32_t id, bool on) {
  wgpuViewCall("setWGPUViewTransparent", json::array({id, on}), id);
}

STANDIN_EXPORT void setWGPUViewPassthrough(uint32_t id, bool on) {
  wgpuViewCall("setWGPUViewPassthrough", json::array({id, on}), id);
}

STANDIN_EXPORT void setWGPUViewHidden(uint32_t id, bool on) {
  wgpuViewCall("setWGPUViewHidden", json::array({id, on}), id);
}

STANDIN_EXPORT void removeWGPUView(uint32_t id) {
  wgpuViewCall("removeWGPUView", json::array({id}), id);
}

STANDIN_EXPORT void* getWGPUViewPointer(uint32_t id) {
  Call call("getWGPUViewPointer", json::array({id}));
  if (!call.refused()) call.fail(noWgpuView(id));
  return call.ret(static_cast<void*>(nullptr));
}

STANDIN_EXPORT void* getWGPUViewNativeHandle(uint32_t id) {
  Call call("getWGPUViewNativeHandle", json::array({id}));
  if (!call.refused()) call.fail(noWgpuView(id));
  return call.ret(static_cast<void*>(nullptr));
}

STANDIN_EXPORT void runWGPUViewTest(uint32_t id) {
  wgpuViewCall("runWGPUViewTest", json::array({id}), id);
}

STANDIN_EXPORT void toggleWGPUViewTestShader(uint32_t id) {
  wgpuViewCall("toggleWGPUViewTestShader", json::array({id}), id);
}

STANDIN_EXPORT void* wgpuCreateSurfaceForView(void* instance, void* view) {
  Call call("wgpuCreateSurfaceForView", json::array({address(instance), address(view)}));
  if (!call.refused()) call.fail(kNoWebGpu);
  return call.ret(static_cast<void*>(nullptr));
}

STANDIN_EXPORT void* wgpuCreateAdapterDeviceMainThread(void* instance, void* surface) {
  Call call("wgpuCreateAdapterDeviceMainThread",
            json::array({address(instance), address(surface)}));
  if (!call.refused()) call.fail(kNoWebGpu);
  return call.ret(static_cast<void*>(nullptr));
}

STANDIN_EXPORT void wgpuSurfaceConfigureMainThread(void* surface, void* configuration) {
  Call call("wgpuSurfaceConfigureMainThread",
            json::array({address(surface), address(configuration)}));
  if (!call.refused()) call.fail(kNoWebGpu);
}

STANDIN_EXPORT void wgpuSurfaceGetCurrentTextureMainThread(void* surface, void* texture) {
  Call call("wgpuSurfaceGetCurrentTextureMainThread",
            json::array({address(surface), address(texture)}));
  if (!call.refused()) call.fail(kNoWebGpu);
}

STANDIN_EXPORT void wgpuSurfacePresentMainThread(void* surface) {
  Call call("wgpuSurfacePresentMainThread", json::array({address(surface)}));
  if (!call.refused()) call.fail(kNoWebGpu);
}

// ---- Dock, cursor, screen, trash ----

STANDIN_EXPORT void setDockIconVisible(bool visible) {
  Call call("setDockIconVisible", json::array({visible}));
  if (call.refused()) return;
  std::lock_guard lock(model().mu);
  model().dockIconVisible = visible;
}

STANDIN_EXPORT bool isDockIconVisible(void) {
  Call call("isDockIconVisible", json::array());
  if (call.refused()) return call.ret(false);
  std::lock_guard lock(model().mu);
  return call.ret(model().dockIconVisible);
}

// {"x":0,"y":0}: the stand-in has no pointer. The text stays the core's.
STANDIN_EXPORT char* getCursorScreenPoint(void) {
  thread_local std::string kept;
  Call call("getCursorScreenPoint", json::array());
  if (call.refused()) return call.ret(static_cast<char*>(nullptr));
  kept = R"({"x":0,"y":0})";
  return call.ret(kept.data());
}

STANDIN_EXPORT char* captureScreenRegion(double x, double y, double width, double height) {
  Call call("captureScreenRegion", json::array({x, y, width, height}));
  if (!call.refused()) call.fail("screen capture is not available in the stand-in core");
  return call.ret(static_cast<char*>(nullptr));
}

// Recorded only; nothing is moved.
STANDIN_EXPORT bool moveToTrash(const char* path) {
  Call call("moveToTrash", json::array({cText(path)}));
  if (call.refused()) return call.ret(false);
  std::lock_guard lock(model().mu);
  model().trashedPaths.push_back(textOf(path));
  return call.ret(true);
}

// ---- Clipboard: a private one, not the machine's ----

// The text stays the core's until the next call on the thread; NULL when the
// clipboard holds no text.
STANDIN_EXPORT char* clipboardReadText(void) {
  thread_local std::string kept;
  Call call("clipboardReadText", json::array());
  if (call.refused()) return call.ret(static_cast<char*>(nullptr));
  std::lock_guard lock(model().mu);
  if (!model().clipboard) return call.ret(static_cast<char*>(nullptr));
  kept = *model().clipboard;
  return call.ret(kept.data());
}

STANDIN_EXPORT void clipboardWriteText(const char* text) {
  Call call("clipboardWriteText", json::array({cText(text)}));
  if (call.refused()) return;
  std::lock_guard lock(model().mu);
  model().clipboard = textOf(text);
}

STANDIN_EXPORT void clipboardClear(void) {
  Call call("clipboardClear", json::array());
  if (call.refused()) return;
  std::lock_guard lock(model().mu);
  model().clipboard.reset();
}

// A JSON array of format names, kept by the core.
STANDIN_EXPORT char* clipboardAvailableFormats(void) {
  thread_local std::string kept;
  Call call("clipboardAvailableFormats", json::array());
  if (call.refused()) return call.ret(static_cast<char*>(nullptr));
  std::lock_guard lock(model().mu);
  kept = model().clipboard ? R"(["text/plain"])" : "[]";
  return call.ret(kept.data());
}

// ---- Menus and dialogs: recorded, answered as if dismissed ----

STANDIN_EXPORT void showContextMenu(const char* menuJson) {
  Call call("showContextMenu", json::array({cText(menuJson)}));
  if (call.refused()) return;
  std::lock_guard lock(model().mu);
  model().contextMenus.push_back(textOf(menuJson));
}

// NULL: the dialog was cancelled.
STANDIN_EXPORT char* openFileDialog(const char* startingFolder, const char* allowedFileTypes,
                                    bool canChooseFiles, bool canChooseDirectories,
                                    bool allowsMultipleSelection) {
  Call call("openFileDialog",
            json::array({cText(startingFolder), cText(allowedFileTypes), canChooseFiles,
                         canChooseDirectories, allowsMultipleSelection}));
  return call.ret(static_cast<char*>(nullptr));
}

// Answers the cancel button's index.
STANDIN_EXPORT int32_t showMessageBox(const char* type, const char* title, const char* message,
                                      const char* detail, const char* buttonsJson,
                                      int32_t defaultId, int32_t cancelId) {
  Call call("showMessageBox", json::array({cText(type), cText(title), cText(message), cText(detail),
                                           cText(buttonsJson), defaultId, cancelId}));
  if (call.refused()) return call.ret(int32_t{-1});
  return call.ret(cancelId);
}

// ---- Global shortcuts: registered names only; "shortcut" fires one ----

STANDIN_EXPORT void setGlobalShortcutCallback(StringFn callback) {
  Call call("setGlobalShortcutCallback", json::array({address(callback)}));
  if (call.refused()) return;
  std::lock_guard lock(model().mu);
  model().globalShortcutHandler = callback;
}

STANDIN_EXPORT bool registerGlobalShortcut(const char* accelerator) {
  Call call("registerGlobalShortcut", json::array({cText(accelerator)}));
  if (call.refused()) return call.ret(false);
  std::lock_guard lock(model().mu);
  return call.ret(model().shortcuts.insert(textOf(accelerator)).second);
}

STANDIN_EXPORT bool unregisterGlobalShortcut(const char* accelerator) {
  Call call("unregisterGlobalShortcut", json::array({cText(accelerator)}));
  if (call.refused()) return call.ret(false);
  std::lock_guard lock(model().mu);
  return call.ret(model().shortcuts.erase(textOf(accelerator)) > 0);
}

STANDIN_EXPORT void unregisterAllGlobalShortcuts(void) {
  Call call("unregisterAllGlobalShortcuts", json::array());
  if (call.refused()) return;
  std::lock_guard lock(model().mu);
  model().shortcuts.clear();
}

STANDIN_EXPORT bool isGlobalShortcutRegistered(const char* accelerator) {
  Call call("isGlobalShortcutRegistered", json::array({cText(accelerator)}));
  if (call.refused()) return call.ret(false);
  std::lock_guard lock(model().mu);
  return call.ret(model().shortcuts.count(textOf(accelerator)) > 0);
}

// ---- Sessions: no cookie store; the calls are logged and succeed ----

STANDIN_EXPORT char* sessionGetCookies(const char* partition, const char* filterJson) {
  thread_local std::string kept;
  Call call("sessionGetCookies", json::array({cText(partition), cText(filterJson)}));
  if (call.refused()) return call.ret(static_cast<char*>(nullptr));
  kept = "[]";
  return call.ret(kept.data());
}

STANDIN_EXPORT bool sessionSetCookie(const char* partition, const char* cookieJson) {
  Call call("sessionSetCookie", json::array({cText(partition), cText(cookieJson)}));
  return call.ret(!call.refused());
}

STANDIN_EXPORT bool sessionRemoveCookie(const char* partition, const char* url, const char* name) {
  Call call("sessionRemoveCookie", json::array({cText(partition), cText(url), cText(name)}));
  return call.ret(!call.refused());
}

STANDIN_EXPORT void sessionClearCookies(const char* partition) {
  Call call("sessionClearCookies", json::array({cText(partition)}));
}

STANDIN_EXPORT void sessionClearStorageData(const char* partition, const char* typesJson) {
  Call call("sessionClearStorageData", json::array({cText(partition), cText(typesJson)}));
}
