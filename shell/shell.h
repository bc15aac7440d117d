// The desktop shell's one central record. Its operations are spread over the
// files named for what they do; this header declares them all, so that the
// whole of what the shell can do is read in one place.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/bundle_paths.h"
#include "binding/geometry.h"
#include "binding/nimbrel.h"
#include "binding/webviews.h"
#include "binding/windows.h"
#include "shell/commands.h"
#include "shell/coreext.h"
#include "shell/minicall.h"
#include "shell/notices.h"
#include "shell/prefs.h"
#include "shell/tray.h"
#include "shell/window.h"
#include "shell/window_state.h"
#include "support/json.h"
#include "support/result.h"

namespace shell {

// Writes one JSON value: a message, a payload or a result.
using jsonValue = std::function<void(support::json::Writer&)>;

class shell : public std::enable_shared_from_this<shell> {
 public:
  // Set once by newShell, read without a lock.
  std::shared_ptr<const nimbrel::Core> core;
  std::optional<coreExt> ext;
  nimbrel::BundlePaths bundle;
  nimbrel::AppInfo app;
  nimbrel::Paths paths;
  std::string exe;
  std::string startPage;
  std::string origin;
  std::string token;
  std::string webviewKey;
  std::string preload;
  std::unique_ptr<::shell::prefs> prefs;
  // Set before start runs, if at all: what a process that must end without
  // its loop returning undoes first (the single-instance socket's name,
  // which would otherwise lead later launches to nobody).
  std::function<void()> beforeForcedExit;

  // Guards the fields below down to `unread`. Never held across a core call
  // or while another lock is taken.
  std::mutex mu;
  bool ready = false;
  std::vector<std::vector<std::string>> pending;
  std::map<uint32_t, windowPtr> windows;
  windowPtr main;
  windowPtr focused;
  bool quitting = false;
  bool startFailed = false;
  // A main window is being opened after start; requests for it meanwhile
  // are served by that opening.
  bool openingMain = false;
  // Pages asked for while the main window was on its way (from start or from
  // an opening), opened in it once it exists.
  std::vector<std::string> pagesForMain;
  std::vector<std::string> downloads;
  std::vector<std::string> external;
  uint32_t trayID = 0;
  trayLabels labels;
  int64_t unread = 0;

  miniCall mini;      // its own lock
  noticeLog notices;  // its own lock
  // Held across one whole tray-menu rebuild (syncTray); never taken under
  // `mu`.
  std::mutex trayMenuMu;

  // ---- Start, arguments and quit (shell_start.cc) --------------------------
  void start(std::vector<std::string> args);
  void quit();
  void handleArgs(std::vector<std::string> args);
  void openLinks(const std::vector<std::string>& links);
  void openPage(const std::string& page);
  void openNotice(const std::string& target);
  void showMain();
  // The main window when there is one. Otherwise null: a main window on its
  // way (start's, or one being opened) takes the request, shows itself and
  // opens `page` once it exists; with none on its way, this call opens one on
  // `url`, shown. Never waits for another opening.
  windowPtr mainOrOpen(const std::string& url, const std::string& page);
  void prefsChanged(const desktopPrefs& p);
  // Whether start failed and stopped the event loop: it said why at once,
  // and the process ends with status 1 once the loop has returned.
  bool failedToStart();

  // ---- The host bridge (bridge.cc) ------------------------------------------
  support::Result<std::string> loadPreload() const;
  [[noreturn]] void drainHostMessages();
  windowPtr windowForView(uint32_t view);
  void hostBridge(uint32_t view, const std::string& message);
  // One request text that came by `by`.
  void onHostMessage(const windowPtr& window, const std::string& message, route by = route::queue);
  void send(const windowPtr& window, const jsonValue& value);
  void emit(const windowPtr& window, std::string_view event, const jsonValue& payload);

  // ---- Bridge commands (commands.cc) ----------------------------------------
  commandResult command(const windowPtr& window, const std::string& cmd, std::string_view args);
  void setUnread(int64_t n);

  // ---- Windows (window.cc) ---------------------------------------------------
  support::Result<windowPtr> openWindow(const std::string& url, bool show, bool isMain);
  void closeRequested(const windowPtr& window);
  void closed(const windowPtr& window);
  void changed(const windowPtr& window);
  struct windowStateFlags {
    bool focused = false;
    bool fullscreen = false;
    bool maximized = false;
  };
  windowStateFlags windowState(const windowPtr& window);
  // The window has the focus, is visible and is not minimised.
  bool inFront(const windowPtr& window);
  void syncShadow(const windowPtr& window);
  double scale();
  support::Status titleBarDoubleClick(const windowPtr& window);
  // The program that reads the user's title-bar double-click preference.
  std::string defaultsProgram = "/usr/bin/defaults";

  // ---- Application menu and zoom (menu.cc) ---------------------------------
  void onMenu(uint32_t id, const std::string& action);
  void zoom(const windowPtr& window, std::string_view step);

  // ---- Tray (tray.cc) --------------------------------------------------------
  void createTray();
  void syncTray();
  void setTrayLabels(const support::json::RawValue& raw);

  // ---- The main window's frame (window_state.cc) ----------------------------
  // The saved frame, or nothing when there is none worth using.
  std::optional<::shell::savedState> savedState();
  void saveState(const windowPtr& window);
  std::string stateFile() const;

  // ---- Web-view events (webview_events.cc) ----------------------------------
  void onWebviewEvent(const windowPtr& window, const std::string& event, const std::string& detail);
  void openURL(const std::string& url);
  void downloaded(const windowPtr& window, const std::string& detail, bool success);
  void applyNavigationRules(const windowPtr& window, const std::vector<std::string>& origins);
  void setExternalOrigins(const std::vector<std::string>& addresses);
  // Gives `window` the declared origins' rules, applied again until the
  // declaration stays as applied.
  void applyExternalOrigins(const windowPtr& window);

  // ---- The call pop-up (minicall.cc) -----------------------------------------
  support::Status setCallMini(const support::json::RawValue& state);
  bool mainInFront();
  void mainLeft();
  void mainBack();
  // `away`: the main window that was away when the show was asked for (none
  // when there was no main window). The show goes ahead only while that is
  // still the main window and still not in front.
  void showMini(const windowPtr& away);
  void hideMini();
  void closeMini();
  bool isMini(const windowPtr& window);
  void onMiniEvent(const windowPtr& window, const std::string& event, const std::string& detail);
  // Nothing when `cmd` is not one of the pop-up's commands.
  std::optional<commandResult> miniCommand(const windowPtr& window, const std::string& cmd,
                                           const support::json::RawValue& state,
                                           const support::json::RawValue& action,
                                           const support::json::RawValue& signal);
  void emitMain(std::string_view event, const jsonValue& payload);
  void sendRawMain(std::string_view event, const support::json::RawValue& raw);
  void sendRaw(const windowPtr& window, std::string_view event, const support::json::RawValue& raw);

  // ---- The call pop-up's window (mini_window.cc) ----------------------------
  support::Result<windowPtr> openMini();
  nimbrel::Rect miniFrame();
  std::string miniFile() const;
  std::optional<nimbrel::Rect> savedMiniFrame();
  void miniMoved(uint32_t id);

  // ---- Notifications (notify.cc) --------------------------------------------
  support::Status notify(const std::string& title, const std::string& subtitle,
                         const std::string& body, const std::string& target, bool sound);

 private:
  // Says why start failed and stops the event loop; a loop that cannot be
  // stopped ends the process, which no window would ever come to.
  void failStart(const support::Error& error);
  void onFocus(const windowPtr& window);
  void onBlur(const windowPtr& window);
  // Tells the page its window's state as it is when the report goes out.
  void emitWindowState(const windowPtr& window);
};

// {"focused","fullscreen","maximized"}, keys sorted.
void writeWindowState(support::json::Writer& w, const shell::windowStateFlags& state);

// Builds the shell; the error stops start-up.
support::Result<std::shared_ptr<shell>> newShell(std::shared_ptr<const nimbrel::Core> core,
                                                 const nimbrel::BundlePaths& bundle,
                                                 const nimbrel::AppInfo& app,
                                                 const std::string& startPage,
                                                 const nimbrel::Paths& paths);

}  // namespace shell
