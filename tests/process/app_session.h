// A running application seen from outside, as its page and its user see it:
// the main window, the host bridge (requests posted, values received) and the
// user's actions, all played through the stand-in core's control socket.
//
// Waiting is done by polling under a generous guard: a wait that gives up
// returns nothing and the test fails there; nothing here measures speed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/process/app_process.h"

namespace testing_support {

// A control command the stand-in refused, or a process that is gone.
struct HarnessError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// How a page's post reaches the shell: the core's queue of host messages,
// the web view's host-bridge callback, or both at once.
enum class Via { kQueue, kHostBridge, kBoth };
const char* viaName(Via via);

// The per-launch configuration that the shell wrote into the preload.
struct PreloadConfig {
  nlohmann::json value;  // the whole object
  std::string origin;
  std::string platform;
  std::string screenSource;
  std::string token;
};
// The first string literal of `preload` whose content is a JSON object with
// the four configuration members; nothing when there is none.
std::optional<PreloadConfig> preloadConfigIn(const std::string& preload);

// What the shell evaluates in a page to deliver a value to it.
inline constexpr std::string_view kReceivePrefix =
    "window.__bkDesktopReceive&&window.__bkDesktopReceive(";

// One value that a page received.
struct Received {
  std::string text;      // the JSON text as the shell wrote it
  nlohmann::json value;  // the same, parsed
  bool isReply(int64_t id) const;
  bool isEvent(std::string_view name) const;
  const nlohmann::json& payload() const { return value.at("payload"); }
};
// The received value of one evaluated script; nothing when the script is not
// a delivery or its argument is not JSON.
std::optional<Received> receivedIn(const std::string& script);

// The text of one page request.
std::string requestText(const std::string& token, int64_t id, const std::string& cmd,
                        const nlohmann::json& args = nullptr);

// The executable of the built bundle.
std::string builtExecutable();

class AppSession {
 public:
  explicit AppSession(std::string executable = builtExecutable());

  AppProcess& process() { return app_; }
  std::vector<std::string>& args() { return app_.args(); }
  // A command for the stand-in to run as it loads, before the system calls
  // it at all (e.g. {"cmd":"pause","fn":"createWindow"}).
  void atLoad(const nlohmann::json& cmd) { atLoad_.push_back(cmd); }

  // Starts the process and waits for its main window; false when it never
  // came (the process ended, or the guard ran out).
  [[nodiscard]] bool start();
  // The two halves of start(), for tests that hold the start in between.
  [[nodiscard]] bool launch();
  // The main window is the first window the shell opens. It is ready when it
  // and its web view exist and its page is heard on the bridge: a request
  // from the harness's own range of ids (see roundTrip) was answered, so the
  // page may hold such replies besides the test's own.
  [[nodiscard]] bool waitForMainWindow();

  uint32_t window() const { return window_; }
  uint32_t webview() const { return webview_; }
  const PreloadConfig& config() const { return config_; }
  // Where the application keeps what it remembers across runs
  // (window-state.json, call-mini.json...): the bundle's identifier and
  // channel under the home's Library/Application Support.
  std::string userDataDir();
  // Polls `ready` under the generous guard; false when the guard ran out or
  // the process ended first.
  [[nodiscard]] bool waitUntil(const std::function<bool()>& ready);

  // One stand-in command; a refusal throws HarnessError.
  nlohmann::json command(const nlohmann::json& cmd);
  nlohmann::json state() { return command({{"cmd", "state"}}); }
  // The core's record of one window or web view; null when it has none.
  nlohmann::json windowRecord(uint32_t id);
  nlohmann::json webviewRecord(uint32_t id);
  // The calls of `fn` that the core received, oldest first: {"fn","args",...}.
  nlohmann::json calls(const std::string& fn);
  // Waits until every callback on its way has been made.
  void sync() { command({{"cmd", "sync"}}); }

  // ---- The page's part (web view 0 means the main window's) ----------------
  std::string request(int64_t id, const std::string& cmd,
                      const nlohmann::json& args = nullptr) const {
    return requestText(config_.token, id, cmd, args);
  }
  void post(const std::string& text, Via via = Via::kBoth, uint32_t webview = 0);
  // Posts a request with the session's token and waits for its reply.
  std::optional<Received> call(int64_t id, const std::string& cmd,
                               const nlohmann::json& args = nullptr, Via via = Via::kBoth);
  std::vector<std::string> scripts(uint32_t webview = 0);
  std::vector<Received> received(uint32_t webview = 0);
  std::vector<Received> repliesTo(int64_t id, uint32_t webview = 0);
  // Waits for the first value at index `since` or later that `wanted` takes.
  std::optional<Received> waitFor(const std::function<bool(const Received&)>& wanted,
                                  size_t since = 0, uint32_t webview = 0);
  std::optional<Received> waitForReply(int64_t id, uint32_t webview = 0);
  std::optional<Received> waitForEvent(std::string_view name, size_t since = 0,
                                       uint32_t webview = 0);
  // How many values the page has received so far: a mark for waitFor.
  size_t receivedCount(uint32_t webview = 0) { return received(webview).size(); }
  // A request posted on the queue path and answered. The shell takes queued
  // messages one by one, in order, so every message queued before it has
  // been through the acceptance checks by then (a command accepted earlier
  // may still be running). Its id comes from a range of its own.
  void roundTrip(uint32_t webview = 0);
  // Waits until the shell has taken every queued message and checked it: the
  // queue is empty and the shell has come back to the queue once more. It
  // says nothing about commands it accepted, which run on tasks of their own.
  // Unlike roundTrip it needs no page that the bridge answers.
  void waitUntilQueueTaken();

  // ---- The user's part -------------------------------------------------------
  void focus(uint32_t window);
  void blur();
  void clickClose(uint32_t window);
  // The window goes without asking first, as when the core closes it.
  void closeWindow(uint32_t window);
  void minimize(uint32_t window);
  void move(uint32_t window, double x, double y);
  void resize(uint32_t window, double width, double height);
  // Application events; false when nobody listened.
  bool reopen();
  bool requestQuit();
  bool openUrl(const std::string& url);
  // The page navigates; the outcome is "navigated", "blocked-by-rule" or
  // "refused".
  std::string navigate(const std::string& url, uint32_t webview = 0);
  void newWindow(const std::string& url, uint32_t webview = 0);
  void download(bool success, const std::string& filename, const std::string& destination,
                uint32_t webview = 0);
  void signal(int sig) { app_.signal(sig); }
  Exit wait() { return app_.wait(); }

 private:
  uint32_t viewOr(uint32_t webview) const { return webview ? webview : webview_; }

  std::string executable_;
  AppProcess app_;
  std::vector<nlohmann::json> atLoad_;
  uint32_t window_ = 0;
  uint32_t webview_ = 0;
  PreloadConfig config_;
  int64_t nextRoundTrip_ = 9'000'000'000;
};

}  // namespace testing_support
