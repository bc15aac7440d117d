// The application menu, the one normaliser that both menus pass through, and
// the fixed zoom steps. Picks from either menu come back to shell::onMenu.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "binding/nimbrel.h"
#include "support/json.h"
#include "support/result.h"

namespace shell {

class shell;

// The label an item with a standard role gets when it brings none. Like
// appMenu, never destroyed: tasks still running while the process exits
// read them.
extern const std::map<std::string, std::string>& roleLabels;

// The page zoom factors, rising; a factor within zoomTolerance of a step
// counts as that step.
inline constexpr std::array<double, 13> zoomSteps = {0.5,  0.67, 0.75, 0.8, 0.9, 1.0, 1.1,
                                                     1.25, 1.5,  1.75, 2.0, 2.5, 3.0};
inline constexpr double zoomTolerance = 0.001;

// A normalised copy of a list of menu items: separators become bare
// {"type":"divider"}, items are enabled unless they say otherwise, items with
// a known role and no label get the role's label, submenus keep only their
// items that are objects and are normalised in turn. Every other key is
// carried over, with numbers as doubles. Elements that are not objects are
// dropped.
support::json::Value menuWithDefaults(const support::json::Value& items);

// Decodes a JSON list of menu items, normalises it and encodes it again
// (keys sorted, compact). A null element reads as an item with no keys.
support::Result<std::string> menuJSON(std::string_view text);

// The normalised application menu, made once before anything else runs.
extern const std::string& appMenu;

// The factor that `step` ("in", "out", anything else: reset) leads to from
// `current`.
double zoomTarget(double current, std::string_view step);

// The status-item handler for both menus: forwards to onMenu while the shell
// lives, without keeping it alive from the core's handler slot.
nimbrel::StatusItemHandler menuHandler(const std::shared_ptr<shell>& s);

}  // namespace shell
