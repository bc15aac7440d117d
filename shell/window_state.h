// The main window's remembered frame, window-state.json.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/geometry.h"
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

// A frame smaller than this is never used nor written.
inline constexpr double kMinStateWidth = 420;
inline constexpr double kMinStateHeight = 560;
// The file is some eighty bytes; anything beyond this is not a state file
// and is not read.
inline constexpr size_t kMaxStateFileBytes = 64 * 1024;

// Whether a window of this size may be saved or restored. A size that is not
// a number is not.
bool usableStateSize(double width, double height);

// The record in the file's text, or nothing when the text is not a JSON
// object of the record (a value of the wrong type included) or its size is
// not usable. `positioned` is left false.
std::optional<savedState> decodeSavedState(std::string_view text);

// {"X":…,"Y":…,"Width":…,"Height":…,"Maximized":…}: shortest numbers, no
// space, no newline. Fails when a value is not a finite number.
support::Result<std::string> encodeSavedState(const savedState& state);

// Whether the frame overlaps some display's work area; touching an edge does
// not count.
bool overlapsAnyWorkArea(const savedState& state, const std::vector<nimbrel::Display>& displays);

}  // namespace shell
