// The call pop-up's state, and how a page's call state is read.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "support/json.h"
#include "support/timer.h"

namespace shell {

class appWindow;

struct miniCall {
  std::mutex mu;  // guards everything below
  std::shared_ptr<appWindow> win;
  bool active = false;
  support::json::RawValue state;  // the last accepted call state, verbatim
  bool dismissed = false;
  bool shown = false;
  std::shared_ptr<support::OneShotTimer> timer;  // 250 ms before the pop-up shows
  std::shared_ptr<support::OneShotTimer> save;   // 500 ms before its frame is written

  // A show shows an existing window or creates one, outside `mu`. These let
  // it find out afterwards that it was overtaken: `hides` moves with every
  // hide, closing or loss of the window, `closings` with every closing of
  // the main window.
  uint64_t hides = 0;
  uint64_t closings = 0;
  // Held by one show from its first look at the flags to its last, so that
  // two shows never create a window each. Taken before `mu`, never under it.
  std::mutex showing;
};

// Whether a call is going on, by the state a page gave: its "active" key
// (missing or null: no call). Nothing when the state is empty, not JSON, not
// an object (JSON null excepted) or its "active" is not a boolean.
std::optional<bool> miniState(const support::json::RawValue& state);

}  // namespace shell
