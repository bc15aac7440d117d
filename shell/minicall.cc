// The call pop-up's logic: when it shows and hides while a call is going on,
// the six commands of the main page and the pop-up page, and the events
// relayed between them.
#include "shell/minicall.h"

#include <chrono>
#include <utility>

#include "shell/shell.h"
#include "shell/webview_events.h"
#include "support/tasks.h"

namespace shell {
namespace {

using support::json::RawValue;

// The delay after the main window left the front before the pop-up shows, so
// that a quick switch away and back never flashes it.
constexpr std::chrono::milliseconds kShowDelay{250};
// What "call_mini_back" relays when the pop-up gave no action of its own.
constexpr const char* kBackAction = R"({"action":"back"})";

bool missing(const RawValue& raw) {
  return raw.text.empty() || raw.text == "null";
}

commandResult noResult() {
  return RawValue{};
}

commandResult refused(const char* message) {
  return support::makeError(message);
}

void writeShown(support::json::Writer& w, bool shown) {
  w.beginObject();
  w.key("shown").boolean(shown);
  w.endObject();
}

}  // namespace

std::optional<bool> miniState(const RawValue& state) {
  if (state.text.empty()) return std::nullopt;
  bool active = false;
  support::Status decoded = support::json::decodeObject(
      state.text, [&](support::json::Object& o) { o.field("active", active); });
  if (!decoded) return std::nullopt;
  return active;
}

support::Status shell::setCallMini(const RawValue& state) {
  std::optional<bool> active = miniState(state);
  if (!active) return support::makeError("bad call state");
  windowPtr popup;
  bool isShown;
  {
    std::lock_guard lock(mini.mu);
    mini.active = *active;
    mini.state = state;
    // The next call starts afresh; a dismissal during the call holds.
    if (!*active) mini.dismissed = false;
    popup = mini.win;
    isShown = mini.shown;
  }
  if (!*active) {
    hideMini();
    return {};
  }
  if (isShown && popup) sendRaw(popup, "bk:mini-state", state);
  if (!mainInFront()) mainLeft();
  return {};
}

bool shell::mainInFront() {
  windowPtr current;
  {
    std::lock_guard lock(mu);
    current = main;
  }
  return current && inFront(current);
}

void shell::mainLeft() {
  windowPtr away;
  {
    std::lock_guard lock(mu);
    away = main;
  }
  std::lock_guard lock(mini.mu);
  if (!mini.active || mini.dismissed || mini.shown) return;
  // A burst of reports gives one look, a delay after the last of them.
  if (mini.timer) mini.timer->stop();
  // The timer does not keep the shell alive.
  mini.timer = support::startTimer(kShowDelay, [weak = weak_from_this(), away] {
    std::shared_ptr<shell> self = weak.lock();
    if (self && !self->mainInFront()) self->showMini(away);
  });
}

void shell::mainBack() {
  {
    std::lock_guard lock(mini.mu);
    if (mini.timer) mini.timer->stop();
    mini.timer = nullptr;
    mini.dismissed = false;
  }
  hideMini();
}

void shell::showMini(const windowPtr& away) {
  std::lock_guard serial(mini.showing);
  windowPtr popup;
  uint64_t hidesSeen;
  uint64_t closingsSeen;
  {
    std::lock_guard lock(mini.mu);
    if (!mini.active || mini.dismissed || mini.shown) return;
    popup = mini.win;
    hidesSeen = mini.hides;
    closingsSeen = mini.closings;
  }
  // This show may have waited behind another that was making the window;
  // meanwhile the main window may have come back or closed, and the hide that
  // came with it found nothing shown. So it looks again, now that it has its
  // count of hides: a return or closing before this look is seen here, one
  // after it moves the count and undoes the show below.
  windowPtr current;
  {
    std::lock_guard lock(mu);
    current = main;
  }
  if (current != away || (current && inFront(current))) return;

  const bool created = !popup;
  if (popup) {
    (void)core->ShowWindow(popup->id, false);
  } else {
    auto opened = openMini();
    // The next time the main window leaves the front tries again.
    if (!opened) return;
    popup = std::move(*opened);
  }

  RawValue state;
  bool overtaken;
  bool letGo = false;
  {
    std::lock_guard lock(mini.mu);
    overtaken = mini.hides != hidesSeen;
    if (!overtaken) {
      mini.win = popup;
      mini.shown = true;
      state = mini.state;
    } else if (created) {
      // Kept hidden for the next show, unless the main window closed in the
      // meantime: then nobody would ever close it.
      letGo = mini.closings != closingsSeen || mini.win != nullptr;
      if (!letGo) mini.win = popup;
    }
  }
  if (overtaken) {
    // The main window came back, the call ended, or the pop-up was dismissed
    // or went away while this show was under way: what it showed goes again.
    if (letGo) {
      (void)core->CloseWindow(popup->id);
    } else {
      (void)core->HideWindow(popup->id);
    }
    return;
  }
  sendRaw(popup, "bk:mini-state", state);
  emitMain("bk:mini", [](support::json::Writer& w) { writeShown(w, true); });
}

void shell::hideMini() {
  bool was;
  windowPtr popup;
  {
    std::lock_guard lock(mini.mu);
    was = mini.shown;
    mini.shown = false;
    ++mini.hides;
    popup = mini.win;
  }
  if (!was) return;
  if (popup) (void)core->HideWindow(popup->id);
  emitMain("bk:mini", [](support::json::Writer& w) { writeShown(w, false); });
}

void shell::closeMini() {
  windowPtr old;
  {
    std::lock_guard lock(mini.mu);
    old = std::exchange(mini.win, nullptr);
    mini.shown = false;
    if (mini.timer) mini.timer->stop();
    mini.timer = nullptr;
    ++mini.hides;
    ++mini.closings;
  }
  // The main page went with its window: nobody to tell.
  if (old) (void)core->CloseWindow(old->id);
}

bool shell::isMini(const windowPtr& window) {
  std::lock_guard lock(mini.mu);
  return window && window == mini.win;
}

void shell::onMiniEvent(const windowPtr& window, const std::string& event,
                        const std::string& detail) {
  if (event == "did-navigate" || event == "did-commit-navigation") {
    window->navigated();
    std::string url = eventURL(detail);
    if (!url.empty()) window->setURL(std::move(url));
    return;
  }
  if (event == "new-window-open") {
    auto self = shared_from_this();
    support::runInBackground([self, url = eventURL(detail)] { self->openURL(url); });
  }
}

std::optional<commandResult> shell::miniCommand(const windowPtr& window, const std::string& cmd,
                                                const RawValue& state, const RawValue& action,
                                                const RawValue& signal) {
  if (cmd == "call_mini_state") {
    if (isMini(window)) return refused("only the main window has the call");
    if (support::Status set = setCallMini(state); !set) return commandResult(set.error());
    return noResult();
  }
  if (cmd == "call_mini_back") {
    if (!isMini(window)) return refused("only the call's pop-up");
    sendRawMain("bk:mini-action", missing(action) ? RawValue{kBackAction} : action);
    hideMini();
    showMain();
    return noResult();
  }
  if (cmd == "call_mini_close") {
    if (!isMini(window)) return refused("only the call's pop-up");
    {
      std::lock_guard lock(mini.mu);
      mini.dismissed = true;
    }
    hideMini();
    return noResult();
  }
  if (cmd == "call_mini_hello") {
    if (!isMini(window)) return refused("only the call's pop-up");
    std::lock_guard lock(mini.mu);
    return commandResult(mini.state);
  }
  if (cmd == "call_mini_action") {
    if (!isMini(window)) return refused("only the call's pop-up");
    if (missing(action)) return refused("no action");
    sendRawMain("bk:mini-action", action);
    return noResult();
  }
  if (cmd == "call_mini_signal") {
    if (missing(signal)) return refused("no signal");
    if (isMini(window)) {
      sendRawMain("bk:mini-signal", signal);
      return noResult();
    }
    if (!window || !window->main) return refused("only the main window has the call");
    windowPtr popup;
    {
      std::lock_guard lock(mini.mu);
      popup = mini.win;
    }
    if (!popup) return refused("no pop-up");
    // Shown or hidden, the pop-up page keeps up with the call.
    sendRaw(popup, "bk:mini-signal", signal);
    return noResult();
  }
  return std::nullopt;
}

void shell::emitMain(std::string_view event, const jsonValue& payload) {
  windowPtr current;
  {
    std::lock_guard lock(mu);
    current = main;
  }
  if (current) emit(current, event, payload);
}

void shell::sendRawMain(std::string_view event, const RawValue& raw) {
  windowPtr current;
  {
    std::lock_guard lock(mu);
    current = main;
  }
  if (current) sendRaw(current, event, raw);
}

void shell::sendRaw(const windowPtr& window, std::string_view event, const RawValue& raw) {
  // Empty goes out as null; the value is compacted, never reinterpreted.
  emit(window, event, [&](support::json::Writer& w) { w.raw(raw.text); });
}

}  // namespace shell
