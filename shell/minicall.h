// The call pop-up's state.
#pragma once

#include <memory>
#include <mutex>
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
};

}  // namespace shell
