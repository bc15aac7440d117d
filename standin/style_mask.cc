#include "style_mask.h"

namespace standin {

uint32_t styleMaskOf(const std::array<bool, 12>& flags) {
  uint32_t mask = 0;
  for (size_t i = 0; i < flags.size(); ++i) {
    if (flags[i]) mask |= 1u << i;
  }
  return mask;
}

json styleFlagsOf(uint32_t mask) {
  json out = json::array();
  for (uint32_t n = 1; n <= 12; ++n) {
    if (mask & (1u << (n - 1))) out.push_back(n);
  }
  return out;
}

}  // namespace standin
