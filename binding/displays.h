// Reading the core's description of a display.
#pragma once

#include <string>

#include "binding/geometry.h"

namespace nimbrel {

// The display described by the JSON text of one object. Text that is not a
// JSON object gives a zero Display; a member of the wrong type stays zero
// while the other members are still taken. Never fails.
Display ParseDisplayJSON(const std::string& text);

}  // namespace nimbrel
