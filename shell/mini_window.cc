// The call pop-up's window: made the first time the pop-up shows, placed in
// the corner of the main window's display or where the user last left it,
// and its frame remembered a moment after every move.
#include "shell/mini_window.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "binding/webviews.h"
#include "binding/windows.h"
#include "shell/links.h"
#include "shell/shell.h"
#include "support/file.h"
#include "support/json.h"
#include "support/path.h"
#include "support/tasks.h"

namespace shell {
namespace {

constexpr const char* kMiniTitle = "Brovik Dira";
constexpr const char* kMiniPage = "/call-mini";
constexpr std::chrono::milliseconds kSaveDelay{500};

bool usableMiniSize(double width, double height) {
  // Written so that a size that is not a number is refused too.
  return width >= kMiniMinWidth && height >= kMiniMinHeight;
}

// The pop-up's close button dismisses it: hidden, and kept away until the
// main window has been in front again or the call has ended.
void onMiniCloseRequest(shell& s) {
  {
    std::lock_guard lock(s.mini.mu);
    s.mini.dismissed = true;
  }
  s.hideMini();
}

// The core closed the pop-up's window (its page asked to, or the main window
// went and took it along).
void onMiniClosed(shell& s, const windowPtr& window) {
  bool was = false;
  {
    std::lock_guard lock(s.mini.mu);
    if (s.mini.win == window) {
      was = s.mini.shown;
      s.mini.win = nullptr;
      s.mini.shown = false;
      ++s.mini.hides;
    }
  }
  if (was) {
    s.emitMain("bk:mini", [](support::json::Writer& w) {
      w.beginObject();
      w.key("shown").boolean(false);
      w.endObject();
    });
  }
  s.closed(window);
}

// Writes the window's frame as the core reports it now.
void saveMiniFrame(shell& s, uint32_t id) {
  auto frame = s.core->GetWindowFrame(id);
  if (!frame) return;
  if (!usableMiniSize(frame->Width, frame->Height)) return;
  auto text = encodeMiniFrame(*frame);
  if (!text) return;
  // The file is a convenience: a failed write leaves the old one in place.
  (void)support::writeFileAtomic(s.miniFile(), *text);
}

}  // namespace

bool holdsPoint(const nimbrel::Rect& area, double x, double y) {
  return area.X <= x && x < area.X + area.Width && area.Y <= y && y < area.Y + area.Height;
}

nimbrel::Rect miniPlace(const nimbrel::Rect& area) {
  const double width = std::min(kMiniWidth, area.Width);
  double height = std::min(area.Height - kMiniHeightSpare, kMiniMaxHeight);
  // An area too low to leave the spare free is given whole.
  if (height <= 0) height = area.Height;
  // The margins give way first when the area is too small for them.
  return {std::max(area.X, area.X + area.Width - width - kMiniMargin),
          std::max(area.Y, area.Y + area.Height - height - kMiniMargin), width, height};
}

std::optional<nimbrel::Rect> miniRestore(const nimbrel::Rect& saved,
                                         const std::vector<nimbrel::Rect>& areas) {
  if (saved.Width < kMiniMinWidth || saved.Height < kMiniMinHeight) return std::nullopt;
  const double cx = saved.X + saved.Width / 2;
  const double cy = saved.Y + saved.Height / 2;
  for (const nimbrel::Rect& area : areas) {
    if (!holdsPoint(area, cx, cy)) continue;
    const double w = std::min(saved.Width, area.Width);
    const double h = std::min(saved.Height, area.Height);
    // The left and top edges win when the frame cannot keep inside both.
    const double x = std::min(std::max(saved.X, area.X), area.X + area.Width - w);
    const double y = std::min(std::max(saved.Y, area.Y), area.Y + area.Height - h);
    return nimbrel::Rect{x, y, w, h};
  }
  return std::nullopt;
}

support::Result<std::string> encodeMiniFrame(const nimbrel::Rect& frame) {
  support::json::Writer w;
  w.beginObject();
  w.key("Height").number(frame.Height);
  w.key("Width").number(frame.Width);
  w.key("X").number(frame.X);
  w.key("Y").number(frame.Y);
  w.endObject();
  return w.finish();
}

std::optional<nimbrel::Rect> decodeMiniFrame(std::string_view text) {
  nimbrel::Rect frame;
  support::Status decoded = support::json::decodeObject(text, [&](support::json::Object& o) {
    o.field("X", frame.X);
    o.field("Y", frame.Y);
    o.field("Width", frame.Width);
    o.field("Height", frame.Height);
  });
  if (!decoded) return std::nullopt;
  return frame;
}

std::string shell::miniFile() const {
  return support::joinPath({paths.UserData, "call-mini.json"});
}

std::optional<nimbrel::Rect> shell::savedMiniFrame() {
  // Missing, unreadable, a directory or far too large: no saved frame.
  auto text = support::readFile(miniFile(), kMaxMiniFileBytes);
  if (!text) return std::nullopt;
  return decodeMiniFrame(*text);
}

nimbrel::Rect shell::miniFrame() {
  if (std::optional<nimbrel::Rect> saved = savedMiniFrame()) {
    if (auto displays = core->GetAllDisplays()) {
      std::vector<nimbrel::Rect> areas;
      for (const nimbrel::Display& d : *displays) areas.push_back(d.WorkArea);
      if (std::optional<nimbrel::Rect> restored = miniRestore(*saved, areas)) return *restored;
    }
  }

  nimbrel::Rect area = kFallbackWorkArea;
  // An area of no size has no room for the pop-up.
  if (auto primary = core->GetPrimaryDisplay();
      primary && primary->WorkArea.Width > 0 && primary->WorkArea.Height > 0) {
    area = primary->WorkArea;
  }
  windowPtr current;
  {
    std::lock_guard lock(mu);
    current = main;
  }
  // The call stays in view on the display the user was working on, whether
  // the main window is shown, hidden or minimised.
  if (current) {
    if (auto frame = core->GetWindowFrame(current->id)) {
      const double cx = frame->X + frame->Width / 2;
      const double cy = frame->Y + frame->Height / 2;
      if (auto displays = core->GetAllDisplays()) {
        for (const nimbrel::Display& d : *displays) {
          if (holdsPoint(d.WorkArea, cx, cy)) {
            area = d.WorkArea;
            break;
          }
        }
      }
    }
  }
  return miniPlace(area);
}

support::Result<windowPtr> shell::openMini() {
  const nimbrel::Rect frame = miniFrame();
  const std::string url = pageURL(origin, kMiniPage);
  auto window = std::make_shared<appWindow>(false, url, false);
  auto self = shared_from_this();

  nimbrel::WindowOptions options = nimbrel::NewWindowOptions(kMiniTitle, frame);
  options.Style = nimbrel::WindowStyle{};
  options.Style.Flag1 = true;
  options.Style.Flag3 = true;
  options.Style.Flag5 = true;
  options.TitleBarStyle = "hidden";
  options.Flag2 = false;
  options.Flag3 = false;
  nimbrel::WindowCallbacks& callbacks = options.Callbacks;
  auto handle = std::make_shared<windowHandle>(window);
  callbacks.Close = [self, handle](uint32_t) {
    if (windowPtr w = handle->closedReport()) {
      support::runInBackground([self, w] { onMiniClosed(*self, w); });
    }
  };
  callbacks.ShouldClose = [self](uint32_t) {
    support::runInBackground([self] { onMiniCloseRequest(*self); });
  };
  callbacks.Move = [self](uint32_t id, double, double) { self->miniMoved(id); };
  callbacks.Resize = [self](uint32_t id, double, double, double, double) { self->miniMoved(id); };

  auto id = core->CreateWindow(std::move(options));
  if (!id) return id.error();
  window->id = *id;
  (void)core->SetWindowAlwaysOnTop(*id, true);
  (void)core->SetWindowVisibleOnAllWorkspaces(*id, true);

  nimbrel::WebviewOptions view =
      nimbrel::NewWebviewOptions(*id, url, {0, 0, frame.Width, frame.Height});
  view.Renderer = "native";
  view.Partition = "persist:brovik-work";
  view.SecretKey = webviewKey;
  view.Preload = preload;
  view.AllowProtocol1 = false;
  view.AllowProtocol2 = false;
  view.Flag1 = false;
  view.Callbacks.DecideNavigation = nimbrel::AllowAllNavigation;
  view.Callbacks.Event = [self, handle](uint32_t, const std::string& event,
                                        const std::string& detail) {
    if (windowPtr w = handle->get()) self->onMiniEvent(w, event, detail);
  };
  view.Callbacks.EventBridge = nimbrel::NoopWebviewPostMessage;
  view.Callbacks.HostBridge = [self](uint32_t webview, const std::string& message) {
    self->hostBridge(webview, message);
  };
  auto viewId = core->CreateWebview(std::move(view));
  if (!viewId) {
    // The closed report that follows finds the record unknown to the pop-up.
    (void)core->CloseWindow(*id);
    return viewId.error();
  }
  window->view = *viewId;

  {
    std::lock_guard lock(mu);
    windows[*id] = window;
  }
  return window;
}

void shell::miniMoved(uint32_t id) {
  std::lock_guard lock(mini.mu);
  // A drag writes the file once, with where it ended.
  if (mini.save) mini.save->stop();
  mini.save = support::startTimer(kSaveDelay, [weak = weak_from_this(), id] {
    if (std::shared_ptr<shell> self = weak.lock()) saveMiniFrame(*self, id);
  });
}

}  // namespace shell
