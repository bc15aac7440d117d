// The stand-in core's in-process control interface, for tests that load the
// library with dlopen and look these names up with dlsym. The commands and
// environment variables are described at the top of standin/control.cc.
#pragma once

extern "C" {
// Runs one JSON command; the reply is JSON text to be freed with standin_free.
using StandinCommandFn = char* (*)(const char* command);
using StandinFreeFn = void (*)(char* reply);
// Queues fn(ctx) for the core's main-thread loop.
using StandinRunOnMainFn = void (*)(void (*fn)(void*), void* ctx);
}
