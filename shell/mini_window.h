// Where the call pop-up goes, and the file that remembers where the user left
// it (call-mini.json in the user data directory).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/geometry.h"
#include "support/result.h"

namespace shell {

inline constexpr double kMiniWidth = 340;
inline constexpr double kMiniMaxHeight = 400;
// The height leaves this much of the work area free.
inline constexpr double kMiniHeightSpare = 48;
// From the work area's right and bottom edges.
inline constexpr double kMiniMargin = 24;
// A frame smaller than this is neither restored nor saved.
inline constexpr double kMiniMinWidth = 220;
inline constexpr double kMiniMinHeight = 180;
// The file is some fifty bytes; anything far larger is not ours and is not
// read.
inline constexpr size_t kMaxMiniFileBytes = 64 * 1024;

// The work area used when no display says otherwise.
inline constexpr nimbrel::Rect kFallbackWorkArea{0, 0, 1280, 800};

// The pop-up's frame in the bottom-right corner of `area`, which has a
// width and a height above 0. The frame stays inside the area however small:
// it is narrowed to the area's width, and the spare height and the margins
// give way when there is no room for them.
nimbrel::Rect miniPlace(const nimbrel::Rect& area);

// The saved frame made to fit the first work area that holds its centre
// (left and top edges inside, right and bottom outside): shrunk to the area
// and pushed inside it. Nothing when it is too small or no area holds it.
std::optional<nimbrel::Rect> miniRestore(const nimbrel::Rect& saved,
                                         const std::vector<nimbrel::Rect>& areas);

// Whether the point lies in the rectangle, its right and bottom edges outside.
bool holdsPoint(const nimbrel::Rect& area, double x, double y);

// {"Height":…,"Width":…,"X":…,"Y":…}: shortest numbers, no space, no newline.
// Fails when a value is not a finite number.
support::Result<std::string> encodeMiniFrame(const nimbrel::Rect& frame);

// The frame in the file's text; a missing or null key reads as 0. Nothing
// when the text is not one JSON object or a value is not a number.
std::optional<nimbrel::Rect> decodeMiniFrame(std::string_view text);

}  // namespace shell
