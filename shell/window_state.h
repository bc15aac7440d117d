// The main window's remembered frame, window-state.json.
#pragma once

#include <string>
#include <string_view>

#include "support/result.h"

namespace shell {

struct savedState {
  double X = 0;
  double Y = 0;
  double Width = 0;
  double Height = 0;
  bool Maximized = false;
  bool positioned = false;  // the frame overlaps a present display's work area; never stored
};

}  // namespace shell
