// Marks a function as part of the library's C interface. The library is built
// with hidden visibility, so only these names can be found with dlsym.
#pragma once

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
