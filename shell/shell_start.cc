// The shell's start sequence, the argument lists of later launches and links,
// bringing the main window forward, and quitting.
#include <chrono>
#include <thread>

#include "shell/diagnostics.h"
#include "shell/links.h"
#include "shell/menu.h"
#include "shell/platform/platform_glue.h"
#include "shell/shell.h"
#include "support/tasks.h"

namespace shell {

void shell::start(std::vector<std::string> args) {
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  if (auto s = core->ConfigureWebviewRuntimeFromExecutableDir(bundle, 0); !s) {
    printLine("web view runtime: " + s.error().message);
    (void)core->StopEventLoop();
    return;
  }
  (void)core->SetExitOnLastWindowClosed(false);
  auto self = shared_from_this();
  (void)core->SetQuitRequestedHandler([self] { self->quit(); });
  (void)core->SetAppReopenHandler([self] { self->showMain(); });
  (void)core->SetURLOpenHandler([self](const std::string& url) {
    support::runInBackground([self, url] { self->handleArgs({url}); });
  });
  publishNoticeClickHandler(
      [self](const std::string& title, const std::string& subtitle, const std::string& body) {
        self->openNotice(self->notices.find(title, subtitle, body));
      });
  bkInstallNotificationDelegate();
  (void)core->SetApplicationMenuJSON(appMenu, menuHandler(self));
  support::runInBackground([self] { self->drainHostMessages(); });
  createTray();

  std::optional<std::string> page = firstPage(linksIn(args));
  std::string url = page ? pageURL(origin, *page) : startPage;
  bool hidden = false;
  if (!page) {
    for (const std::string& arg : args) {
      if (arg == "--autostart") {
        hidden = prefs->hidesOnClose();
        break;
      }
    }
  }
  auto window = openWindow(url, !hidden, true);
  if (!window) {
    printLine(window.error().message);
    (void)core->StopEventLoop();
    return;
  }
  std::vector<std::vector<std::string>> replay;
  {
    std::lock_guard lock(mu);
    main = *window;
    ready = true;
    replay.swap(pending);
  }
  for (auto& list : replay) handleArgs(std::move(list));
}

void shell::handleArgs(std::vector<std::string> args) {
  {
    std::lock_guard lock(mu);
    if (!ready) {
      pending.push_back(std::move(args));
      return;
    }
  }
  std::vector<std::string> links = linksIn(args);
  if (!links.empty()) {
    openLinks(links);
    return;
  }
  for (const std::string& arg : args) {
    if (arg == "--autostart") return;  // a login launch forwarded: nothing to show
  }
  showMain();
}

void shell::openLinks(const std::vector<std::string>& links) {
  windowPtr current;
  {
    std::lock_guard lock(mu);
    current = main;
  }
  if (current) {
    for (const std::string& link : links) {
      if (!isCallback(link)) continue;
      emit(current, "bk:auth", [&](support::json::Writer& w) { w.string(link); });
      showMain();
      return;
    }
  }
  openPage(firstPage(links).value_or(""));
}

void shell::openPage(const std::string& page) {
  bool opened = false;
  windowPtr current = mainOrOpen(pageURL(origin, page), opened);
  if (!current || opened) return;
  if (!page.empty()) emit(current, "bk:open", [&](support::json::Writer& w) { w.string(page); });
  showMain();
}

void shell::openNotice(const std::string& target) {
  openPage(appPath(target));
}

void shell::showMain() {
  bool opened = false;
  windowPtr current = mainOrOpen(startPage, opened);
  if (!current || opened) return;
  const uint32_t id = current->id;
  if (core->IsWindowMinimized(id)) (void)core->RestoreWindow(id);
  (void)core->ShowWindow(id, true);
  (void)core->ActivateWindow(id);
}

windowPtr shell::mainOrOpen(const std::string& url, bool& opened) {
  // One opening at a time: two requests that both find no main window (a
  // reopen and a notification click, say) must not make two.
  std::lock_guard opening(mainOpening);
  {
    std::lock_guard lock(mu);
    // Until start has opened the main window, a request to show it waits
    // for start, which would otherwise replace the window it made.
    if (!ready) {
      pending.emplace_back();
      return nullptr;
    }
    if (main) return main;
  }
  auto window = openWindow(url, true, true);
  if (!window) return nullptr;
  std::lock_guard lock(mu);
  main = *window;
  opened = true;
  return main;
}

void shell::prefsChanged(const desktopPrefs& p) {
  syncTray();
  std::vector<windowPtr> all;
  {
    std::lock_guard lock(mu);
    for (const auto& [id, window] : windows) all.push_back(window);
  }
  for (const windowPtr& window : all) {
    emit(window, "bk:prefs", [&](support::json::Writer& w) { writeDesktopPrefs(w, p); });
  }
}

void shell::quit() {
  windowPtr current;
  {
    std::lock_guard lock(mu);
    quitting = true;
    current = main;
  }
  if (current) saveState(current);
  (void)core->StopEventLoop();
}

}  // namespace shell
