// The commands a page may send over the host bridge, and the unread count.
#include "shell/commands.h"

#include <functional>
#include <string>
#include <unordered_map>

#include "shell/links.h"
#include "shell/shell.h"
#include "support/tasks.h"
#include "support/text.h"

namespace shell {
namespace {

using support::json::RawValue;
using support::json::Writer;

constexpr const char* kDefaultTitle = "Brovik Dira";

// A result written by `write`; a value JSON cannot hold is the command's
// failure rather than a null the page would take for an answer.
commandResult written(const std::function<void(Writer&)>& write) {
  Writer w;
  write(w);
  auto text = w.finish();
  if (!text) return text.error();
  return RawValue{std::move(*text)};
}

commandResult none() {
  return RawValue{};
}

commandResult fromStatus(const support::Status& status) {
  if (!status) return status.error();
  return none();
}

using commandRow =
    std::function<commandResult(shell& s, const windowPtr& window, const commandArgs& args)>;

const std::unordered_map<std::string, commandRow>& commandTable() {
  static const auto* table = new std::unordered_map<std::string, commandRow>{
      {"close",
       [](shell& s, const windowPtr& window, const commandArgs&) {
         // Answered at once; the window closes or hides afterwards.
         auto self = s.shared_from_this();
         support::runInBackground([self, window] { self->closeRequested(window); });
         return none();
       }},
      {"devtools",
       [](shell& s, const windowPtr& window, const commandArgs&) -> commandResult {
         if (s.app.Channel != "dev") return support::makeError("no devtools in this build");
         return fromStatus(s.core->ToggleWebviewDevtools(window->view));
       }},
      {"minimize",
       [](shell& s, const windowPtr& window, const commandArgs&) {
         return fromStatus(s.core->MinimizeWindow(window->id));
       }},
      {"set_title",
       [](shell& s, const windowPtr& window, const commandArgs& args) {
         std::string title(support::trimSpace(args.Title));
         if (title.empty()) title = kDefaultTitle;
         return fromStatus(s.core->SetWindowTitle(window->id, title));
       }},
      {"window_state",
       [](shell& s, const windowPtr& window, const commandArgs&) {
         shell::windowStateFlags state = s.windowState(window);
         return written([&](Writer& w) { writeWindowState(w, state); });
       }},
      {"desktop_prefs",
       [](shell& s, const windowPtr&, const commandArgs&) {
         desktopPrefs p = s.prefs->get();
         return written([&](Writer& w) { writeDesktopPrefs(w, p); });
       }},
      {"show_download",
       [](shell& s, const windowPtr&, const commandArgs& args) -> commandResult {
         std::string path;
         {
           std::lock_guard lock(s.mu);
           if (!args.ID || *args.ID < 0 || static_cast<uint64_t>(*args.ID) >= s.downloads.size()) {
             return support::makeError("unknown download");
           }
           path = s.downloads[static_cast<size_t>(*args.ID)];
         }
         return fromStatus(s.core->ShowItemInFolder(path));
       }},
      {"set_badge_count",
       [](shell& s, const windowPtr&, const commandArgs& args) {
         s.setUnread(args.Count);
         return none();
       }},
      {"open_in_browser",
       [](shell& s, const windowPtr&, const commandArgs& args) -> commandResult {
         if (originOf(args.URL).empty()) {
           return support::makeError("only web pages open in the browser");
         }
         // Whether the system opened it is not the page's business.
         auto opened = s.core->OpenExternal(args.URL);
         if (!opened) return opened.error();
         return none();
       }},
      {"toggle_maximize",
       [](shell& s, const windowPtr& window, const commandArgs&) {
         const uint32_t id = window->id;
         if (s.core->IsWindowMaximized(id)) return fromStatus(s.core->UnmaximizeWindow(id));
         return fromStatus(s.core->MaximizeWindow(id));
       }},
      {"set_desktop_prefs",
       [](shell& s, const windowPtr&, const commandArgs& args) -> commandResult {
         prefsUpdate update = s.prefs->set(args.Change);
         // The pages learn what holds now, also when the change stopped half way.
         s.prefsChanged(update.prefs);
         if (!update.status) return update.status.error();
         return written([&](Writer& w) { writeDesktopPrefs(w, update.prefs); });
       }},
      {"title_bar_double_click",
       [](shell& s, const windowPtr& window, const commandArgs&) {
         return fromStatus(s.titleBarDoubleClick(window));
       }},
      {"zoom",
       [](shell& s, const windowPtr& window, const commandArgs& args) {
         s.zoom(window, args.Step);
         return none();
       }},
      {"notify",
       [](shell& s, const windowPtr&, const commandArgs& args) {
         return fromStatus(s.notify(args.Title, args.Subtitle, args.Body, args.Target, args.Sound));
       }},
      {"open_url",
       [](shell& s, const windowPtr&, const commandArgs& args) {
         s.openURL(args.URL);
         return none();
       }},
      {"set_tray_labels",
       [](shell& s, const windowPtr&, const commandArgs& args) {
         s.setTrayLabels(args.Labels);
         return none();
       }},
      {"set_external_origins",
       [](shell& s, const windowPtr&, const commandArgs& args) {
         s.setExternalOrigins(args.Origins);
         return none();
       }},
      {"notification_permission",
       [](shell&, const windowPtr&, const commandArgs&) {
         return commandResult(RawValue{"\"granted\""});
       }},
  };
  return *table;
}

}  // namespace

support::Result<commandArgs> decodeCommandArgs(std::string_view args) {
  commandArgs decoded;
  if (args.empty() || args == "null") return decoded;
  support::Status status = support::json::decodeObject(args, [&](support::json::Object& o) {
    o.field("title", decoded.Title);
    o.field("subtitle", decoded.Subtitle);
    o.field("body", decoded.Body);
    o.field("target", decoded.Target);
    o.field("sound", decoded.Sound);
    o.field("count", decoded.Count);
    o.field("id", decoded.ID);
    o.field("url", decoded.URL);
    o.field("origins", decoded.Origins);
    o.field("labels", decoded.Labels);
    o.object("change",
             [&](support::json::Object& change) { readPrefsChange(change, decoded.Change); });
    o.field("step", decoded.Step);
    o.field("state", decoded.State);
    o.field("action", decoded.Action);
    o.field("signal", decoded.Signal);
  });
  if (!status) return status.error();
  return decoded;
}

commandResult shell::command(const windowPtr& window, const std::string& cmd,
                             std::string_view args) {
  auto decoded = decodeCommandArgs(args);
  // The decoder's own words are not the page's business.
  if (!decoded) return support::makeError("bad arguments for " + cmd);
  if (auto handled = miniCommand(window, cmd, decoded->State, decoded->Action, decoded->Signal)) {
    return std::move(*handled);
  }
  const auto& table = commandTable();
  auto row = table.find(cmd);
  if (row == table.end()) return support::makeError("unknown command: " + cmd);
  return row->second(*this, window, *decoded);
}

void shell::setUnread(int64_t n) {
  const int64_t count = n < 0 ? 0 : n;
  bool differs;
  uint32_t tray;
  {
    std::lock_guard lock(mu);
    differs = count != unread;
    unread = count;
    tray = trayID;
  }
  if (!differs || tray == 0) return;
  (void)core->SetTrayTitle(tray, count > 0 ? std::to_string(count) : "");
}

}  // namespace shell
