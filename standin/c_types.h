// The C shapes of the callbacks that the system hands to the core.
#pragma once

#include <cstdint>

namespace standin {

using WindowIdFn = void (*)(uint32_t);
using WindowMoveFn = void (*)(uint32_t, double, double);
using WindowResizeFn = void (*)(uint32_t, double, double, double, double);
using WindowKeyFn = void (*)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);
using DecideNavigationFn = uint32_t (*)(uint32_t, const char*);
using WebviewEventFn = void (*)(uint32_t, const char*, const char*);
using WebviewMessageFn = void (*)(uint32_t, const char*);
using StatusItemFn = void (*)(uint32_t, const char*);
using StringFn = void (*)(const char*);
using VoidFn = void (*)(void);

// Pointers and callbacks appear in the call log and the state as the unsigned
// number of their address, 0 for NULL.
template <typename T>
uint64_t address(T* p) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p));
}

}  // namespace standin
