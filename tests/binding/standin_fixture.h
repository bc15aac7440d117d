// Loads the stand-in core through the real loader and drives it through its
// in-process control interface, so tests read like what the core saw.
#pragma once

#include <dlfcn.h>

#include <memory>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "binding/nimbrel.h"

namespace testing_support {

inline nimbrel::BundlePaths builtBundle() {
  return {BK_BUNDLE_DIR "/Contents/MacOS", BK_BUNDLE_DIR "/Contents/Resources"};
}

class StandinCore {
 public:
  // Loads the stand-in from `bundle` and resets it to its starting state.
  // The reset comes first, so what loading told the core stays visible.
  explicit StandinCore(const nimbrel::BundlePaths& bundle = builtBundle()) {
    std::string path = bundle.ExeDir + "/libNimbrelCore.dylib";
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);  // the loader's own handle again
    if (!lib) throw std::runtime_error("cannot open " + path);
    bindControl(lib);
    command({{"cmd", "reset"}});
    auto loaded = nimbrel::loadCoreFromBundle(bundle);
    if (!loaded) throw std::runtime_error("loading the stand-in failed: " + loaded.error().message);
    core_ = *loaded;
  }

  // Controls the stand-in loaded at `lib` without a Core of its own.
  explicit StandinCore(void* lib) { bindControl(lib); }

  const nimbrel::Core& core() const { return *core_; }
  std::shared_ptr<nimbrel::Core> shared() const { return core_; }

  // Runs one control command and returns its reply; a refused command fails
  // the test.
  nlohmann::json command(const nlohmann::json& cmd) const {
    char* reply = command_(cmd.dump().c_str());
    nlohmann::json parsed = nlohmann::json::parse(reply);
    free_(reply);
    EXPECT_TRUE(parsed.value("ok", false)) << cmd.dump() << " -> " << parsed.dump();
    return parsed;
  }

  // The calls of `fn` that the core received, oldest first.
  nlohmann::json callsOf(const std::string& fn) const {
    nlohmann::json out = nlohmann::json::array();
    // Kept in a variable: a range-for over a member of a temporary would
    // iterate a destroyed value.
    const nlohmann::json log = command({{"cmd", "calls"}});
    for (const auto& call : log["calls"]) {
      if (call["fn"] == fn) out.push_back(call["args"]);
    }
    return out;
  }

  void clearCalls() const { command({{"cmd", "clear-calls"}}); }

  // The next call of `fn` fails with `error` as its last-error text.
  void failNext(const std::string& fn, const std::string& error) const {
    command({{"cmd", "fail"}, {"fn", fn}, {"error", error}});
  }

  nlohmann::json state() const { return command({{"cmd", "state"}}); }

 private:
  void bindControl(void* lib) {
    command_ = reinterpret_cast<char* (*)(const char*)>(dlsym(lib, "standin_command"));
    free_ = reinterpret_cast<void (*)(char*)>(dlsym(lib, "standin_free"));
    if (!command_ || !free_) throw std::runtime_error("the stand-in has no control interface");
  }

  std::shared_ptr<nimbrel::Core> core_;
  char* (*command_)(const char*) = nullptr;
  void (*free_)(char*) = nullptr;
};

// The address the core sees for an adapter, as the stand-in logs pointers.
template <typename Fn>
uint64_t addressOf(Fn* fn) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(fn));
}

}  // namespace testing_support
