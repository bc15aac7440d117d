// The style mask of getWindowStyle: style flag n (1 to 12) is bit n - 1.
#pragma once

#include <array>
#include <cstdint>

#include "json_text.h"

namespace standin {

uint32_t styleMaskOf(const std::array<bool, 12>& flags);
// The numbers (1 to 12) of the flags set in a mask, ascending.
json styleFlagsOf(uint32_t mask);

}  // namespace standin
