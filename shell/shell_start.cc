// The shell's start sequence, the argument lists of later launches and links,
// bringing the main window forward, and quitting.
#include <chrono>
#include <cstdlib>
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
    failStart(support::makeError("web view runtime: " + s.error().message));
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
    failStart(window.error());
    return;
  }
  std::vector<std::vector<std::string>> replay;
  std::vector<std::string> pages;
  {
    std::lock_guard lock(mu);
    main = *window;
    ready = true;
    replay.swap(pending);
    pages.swap(pagesForMain);
  }
  for (auto& list : replay) handleArgs(std::move(list));
  for (const std::string& asked : pages) openPage(asked);
}

void shell::failStart(const support::Error& error) {
  printLine(error.message);
  {
    std::lock_guard lock(mu);
    startFailed = true;
  }
  // Left running, this process would take every later launch's arguments
  // and never open a window for them.
  if (core->StopEventLoop()) return;
  if (beforeForcedExit) beforeForcedExit();
  std::_Exit(1);
}

bool shell::failedToStart() {
  std::lock_guard lock(mu);
  return startFailed;
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
  windowPtr current = mainOrOpen(pageURL(origin, page), page);
  if (!current) return;
  if (!page.empty()) emit(current, "bk:open", [&](support::json::Writer& w) { w.string(page); });
  showMain();
}

void shell::openNotice(const std::string& target) {
  openPage(appPath(target));
}

void shell::showMain() {
  windowPtr current = mainOrOpen(startPage, "");
  if (!current) return;
  const uint32_t id = current->id;
  if (core->IsWindowMinimized(id)) (void)core->RestoreWindow(id);
  (void)core->ShowWindow(id, true);
  (void)core->ActivateWindow(id);
}

windowPtr shell::mainOrOpen(const std::string& url, const std::string& page) {
  {
    std::lock_guard lock(mu);
    if (main) return main;
    // Until start has opened the main window, start's window is the one:
    // opening another here would be replaced by it. It is brought forward
    // and given the page once it exists.
    if (!ready) {
      if (page.empty()) {
        pending.emplace_back();
      } else {
        pagesForMain.push_back(page);
      }
      return nullptr;
    }
    // Another request is opening the main window. Waiting for it would keep
    // this caller, perhaps the core's own callback thread, until the window
    // exists; that window opens shown and takes the page instead.
    if (openingMain) {
      if (!page.empty()) pagesForMain.push_back(page);
      return nullptr;
    }
    openingMain = true;
  }
  auto window = openWindow(url, true, true);
  std::vector<std::string> pages;
  {
    std::lock_guard lock(mu);
    openingMain = false;
    if (window) main = *window;
    pages.swap(pagesForMain);
  }
  // Without a window the pages go with the failure; the next request tries
  // again.
  if (!window) return nullptr;
  for (const std::string& asked : pages) openPage(asked);
  return nullptr;
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
