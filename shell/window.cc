// The shell's application windows: opening them with every value the core
// needs, their callbacks, hiding instead of closing, and the state pages see.
#include <utility>

#include "binding/webviews.h"
#include "binding/windows.h"
#include "shell/desktop_darwin.h"
#include "shell/platform/platform_glue.h"
#include "shell/shell.h"
#include "support/tasks.h"

namespace shell {
namespace {

constexpr const char* kWindowTitle = "Brovik Dira";
constexpr double kDefaultWidth = 1280;
constexpr double kDefaultHeight = 820;

}  // namespace

support::Result<windowPtr> shell::openWindow(const std::string& url, bool show, bool isMain) {
  nimbrel::Rect frame{0, 0, kDefaultWidth, kDefaultHeight};
  bool centre = true;
  bool maximise = false;
  if (isMain) {
    if (std::optional<::shell::savedState> saved = savedState()) {
      frame = {saved->X, saved->Y, saved->Width, saved->Height};
      centre = !saved->positioned;
      maximise = saved->Maximized;
    }
  }

  auto window = std::make_shared<appWindow>(isMain, url, show);
  auto self = shared_from_this();

  nimbrel::WindowOptions options = nimbrel::NewWindowOptions(kWindowTitle, frame);
  options.Style.Flag8 = true;
  options.TitleBarStyle = "hiddenInset";
  options.Flag1 = false;
  options.Flag2 = !show;
  options.Flag3 = show;
  options.Flag4 = centre;
  auto handle = std::make_shared<windowHandle>(window);
  nimbrel::WindowCallbacks& callbacks = options.Callbacks;
  callbacks.Close = [self, handle](uint32_t) {
    if (windowPtr w = handle->closedReport()) {
      support::runInBackground([self, w] { self->closed(w); });
    }
  };
  callbacks.ShouldClose = [self, handle](uint32_t) {
    if (windowPtr w = handle->get()) {
      support::runInBackground([self, w] { self->closeRequested(w); });
    }
  };
  callbacks.Move = [self, handle](uint32_t, double, double) {
    if (windowPtr w = handle->get()) self->changed(w);
  };
  callbacks.Resize = [self, handle](uint32_t, double, double, double, double) {
    if (windowPtr w = handle->get()) self->changed(w);
  };
  callbacks.Focus = [self, handle](uint32_t) {
    if (windowPtr w = handle->get()) self->onFocus(w);
  };
  callbacks.Blur = [self, handle](uint32_t) {
    if (windowPtr w = handle->get()) self->onBlur(w);
  };

  auto id = core->CreateWindow(std::move(options));
  if (!id) return id.error();
  window->id = *id;
  (void)core->SetWindowButtonPosition(*id, 14, 12);

  nimbrel::WebviewOptions view =
      nimbrel::NewWebviewOptions(*id, url, {0, 0, frame.Width, frame.Height});
  view.Partition = "persist:brovik-work";
  view.SecretKey = webviewKey;
  view.Preload = preload;
  view.AllowProtocol1 = false;
  view.AllowProtocol2 = false;
  view.Flag1 = false;
  view.Flag2 = false;
  view.Flag3 = false;
  view.Flag4 = true;
  view.Callbacks.DecideNavigation = nimbrel::AllowAllNavigation;
  view.Callbacks.Event = [self, handle](uint32_t, const std::string& event,
                                        const std::string& detail) {
    if (windowPtr w = handle->get()) self->onWebviewEvent(w, event, detail);
  };
  view.Callbacks.EventBridge = nimbrel::NoopWebviewPostMessage;
  view.Callbacks.HostBridge = [self](uint32_t webview, const std::string& message) {
    self->hostBridge(webview, message);
  };
  auto viewId = core->CreateWebview(std::move(view));
  if (!viewId) {
    // The core reports the window closed; `closed` then finds it unregistered.
    (void)core->CloseWindow(*id);
    return viewId.error();
  }
  window->view = *viewId;
  bkEnableScreenPicker();

  {
    std::lock_guard lock(mu);
    windows[*id] = window;
  }
  applyExternalOrigins(window);

  if (maximise) (void)core->MaximizeWindow(*id);
  return window;
}

void shell::onFocus(const windowPtr& window) {
  {
    std::lock_guard lock(mu);
    focused = window;
  }
  window->setActive(true);
  auto self = shared_from_this();
  support::runInBackground([self, window] { self->emitWindowState(window); });
  if (window->main) support::runInBackground([self] { self->mainBack(); });
}

void shell::onBlur(const windowPtr& window) {
  window->setActive(false);
  auto self = shared_from_this();
  support::runInBackground([self, window] { self->emitWindowState(window); });
  if (window->main) support::runInBackground([self] { self->mainLeft(); });
}

void shell::changed(const windowPtr& window) {
  auto self = shared_from_this();
  support::runInBackground([self, window] { self->emitWindowState(window); });
  support::runInBackground([self, window] { self->syncShadow(window); });
  if (!window->main) return;
  if (core->IsWindowMinimized(window->id)) support::runInBackground([self] { self->mainLeft(); });
  window->restartSaveTimer([self, window] { self->saveState(window); });
}

void shell::closeRequested(const windowPtr& window) {
  bool isQuitting;
  {
    std::lock_guard lock(mu);
    isQuitting = quitting;
  }
  const uint32_t id = window->id;
  bool hide = window->main && !isQuitting && prefs->hidesOnClose();
  if (!hide) {
    if (window->main) saveState(window);
    (void)core->CloseWindow(id);
    return;
  }
  if (core->IsWindowFullScreen(id)) (void)core->SetWindowFullScreen(id, false);
  (void)core->HideWindow(id);
  window->setActive(false);
  emitWindowState(window);
  auto self = shared_from_this();
  support::runInBackground([self] { self->mainLeft(); });
}

void shell::closed(const windowPtr& window) {
  windowPtr popup;
  {
    std::lock_guard lock(mini.mu);
    popup = mini.win;
  }
  size_t left;
  bool wasMain = false;
  bool isQuitting;
  {
    std::lock_guard lock(mu);
    auto entry = windows.find(window->id);
    if (entry != windows.end() && entry->second == window) windows.erase(entry);
    if (main == window) {
      main = nullptr;
      wasMain = true;
    }
    if (focused == window) focused = nullptr;
    left = windows.size();
    // The call pop-up alone does not keep the application's windows open.
    if (popup) {
      auto p = windows.find(popup->id);
      if (p != windows.end() && p->second == popup) --left;
    }
    isQuitting = quitting;
  }
  window->markClosed();
  if (wasMain) closeMini();
  if (left == 0 && !isQuitting && !prefs->hidesOnClose()) quit();
}

bool shell::inFront(const windowPtr& window) {
  const uint32_t id = window->id;
  return window->isActive() && core->IsWindowVisible(id) && !core->IsWindowMinimized(id);
}

shell::windowStateFlags shell::windowState(const windowPtr& window) {
  const uint32_t id = window->id;
  windowStateFlags state;
  state.focused = inFront(window);
  state.maximized = core->IsWindowMaximized(id);
  state.fullscreen = core->IsWindowFullScreen(id);
  return state;
}

void shell::emitWindowState(const windowPtr& window) {
  window->sendReport([&] {
    const windowStateFlags state = windowState(window);
    emit(window, "bk:window", [&](support::json::Writer& w) { writeWindowState(w, state); });
  });
}

void shell::syncShadow(const windowPtr& window) {
  windowStateFlags state = windowState(window);
  bool shadowed = !state.maximized && !state.fullscreen;
  window->setShadow(shadowed);
  // Another platform's window system draws the shadow itself, sized by the
  // display's scale; here the state is only recorded.
  if (window->x11() != 0 && shadowed) (void)scale();
}

double shell::scale() {
  auto display = core->GetPrimaryDisplay();
  if (display && display->ScaleFactor > 0) return display->ScaleFactor;
  return 1.0;
}

support::Status shell::titleBarDoubleClick(const windowPtr& window) {
  const uint32_t id = window->id;
  std::string action = titleBarDoubleClickAction(defaultsProgram);
  if (action == "None") return {};
  if (action == "Minimize") return core->MinimizeWindow(id);
  if (core->IsWindowMaximized(id)) return core->UnmaximizeWindow(id);
  return core->MaximizeWindow(id);
}

void writeWindowState(support::json::Writer& w, const shell::windowStateFlags& state) {
  w.beginObject();
  w.key("focused").boolean(state.focused);
  w.key("fullscreen").boolean(state.fullscreen);
  w.key("maximized").boolean(state.maximized);
  w.endObject();
}

}  // namespace shell
