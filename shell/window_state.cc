// The main window reopens where the user left it: window-state.json holds its
// last usable frame and whether it was maximised.
#include "shell/window_state.h"

#include "shell/shell.h"
#include "support/file.h"
#include "support/json.h"
#include "support/path.h"

namespace shell {

bool usableStateSize(double width, double height) {
  // Written so that NaN is refused too.
  return width >= kMinStateWidth && height >= kMinStateHeight;
}

std::optional<savedState> decodeSavedState(std::string_view text) {
  savedState state;
  support::Status decoded = support::json::decodeObject(text, [&](support::json::Object& o) {
    o.field("X", state.X);
    o.field("Y", state.Y);
    o.field("Width", state.Width);
    o.field("Height", state.Height);
    o.field("Maximized", state.Maximized);
  });
  if (!decoded || !usableStateSize(state.Width, state.Height)) return std::nullopt;
  return state;
}

support::Result<std::string> encodeSavedState(const savedState& state) {
  support::json::Writer w;
  w.beginObject();
  w.key("X").number(state.X);
  w.key("Y").number(state.Y);
  w.key("Width").number(state.Width);
  w.key("Height").number(state.Height);
  w.key("Maximized").boolean(state.Maximized);
  w.endObject();
  return w.finish();
}

bool overlapsAnyWorkArea(const savedState& state, const std::vector<nimbrel::Display>& displays) {
  for (const nimbrel::Display& d : displays) {
    const nimbrel::Rect& area = d.WorkArea;
    if (state.X < area.X + area.Width && area.X < state.X + state.Width &&
        state.Y < area.Y + area.Height && area.Y < state.Y + state.Height) {
      return true;
    }
  }
  return false;
}

std::string shell::stateFile() const {
  return support::joinPath({paths.UserData, "window-state.json"});
}

std::optional<savedState> shell::savedState() {
  // Missing, unreadable, a directory, too large to be ours: no saved state.
  auto text = support::readFile(stateFile(), kMaxStateFileBytes);
  if (!text) return std::nullopt;
  std::optional<::shell::savedState> state = decodeSavedState(*text);
  if (!state) return std::nullopt;
  // Without the displays the saved position is trusted as it is: the window
  // opens where it was rather than being centred.
  auto displays = core->GetAllDisplays();
  state->positioned = displays ? overlapsAnyWorkArea(*state, *displays) : true;
  return state;
}

void shell::saveState(const windowPtr& window) {
  // A maximised or full-screen window keeps the frame it returns to.
  ::shell::savedState next = savedState().value_or(::shell::savedState{});
  next.positioned = false;
  const uint32_t id = window->id;
  next.Maximized = core->IsWindowMaximized(id);
  if (!next.Maximized && !core->IsWindowFullScreen(id)) {
    auto frame = core->GetWindowFrame(id);
    if (!frame) return;
    // A frame too small to restore leaves the file, its "Maximized"
    // included, as it was.
    if (!usableStateSize(frame->Width, frame->Height)) return;
    next.X = frame->X;
    next.Y = frame->Y;
    next.Width = frame->Width;
    next.Height = frame->Height;
  }
  // No earlier frame to go back to: nothing worth writing.
  if (next.Width == 0) return;
  auto text = encodeSavedState(next);
  if (!text) return;
  // Failures are silent: the file keeps what it had. The writer replaces the
  // file whole, so concurrent saves leave the last one, never a mix.
  (void)support::writeFileAtomic(stateFile(), *text);
}

}  // namespace shell
