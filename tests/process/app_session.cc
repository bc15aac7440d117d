#include "tests/process/app_session.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace testing_support {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

// A guard against hangs, not a measure of speed.
constexpr auto kGuard = 30s;
constexpr auto kPoll = 10ms;

template <typename Ready>
bool pollUntil(AppProcess& app, Ready ready) {
  auto deadline = std::chrono::steady_clock::now() + kGuard;
  while (std::chrono::steady_clock::now() < deadline) {
    if (ready()) return true;
    if (app.ended()) return false;
    std::this_thread::sleep_for(kPoll);
  }
  return false;
}

json findById(const json& list, uint32_t id) {
  for (const json& item : list) {
    if (item.value("id", 0u) == id) return item;
  }
  return nullptr;
}

// Where the string literal that opens at `open` (a double quote) closes, or
// npos.
size_t literalEnd(const std::string& text, size_t open) {
  for (size_t i = open + 1; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      return i;
    }
  }
  return std::string::npos;
}

}  // namespace

const char* viaName(Via via) {
  switch (via) {
    case Via::kQueue:
      return "queue";
    case Via::kHostBridge:
      return "host-bridge";
    case Via::kBoth:
      break;
  }
  return "both";
}

std::optional<PreloadConfig> preloadConfigIn(const std::string& preload) {
  for (size_t open = preload.find('"'); open != std::string::npos;
       open = preload.find('"', open + 1)) {
    size_t close = literalEnd(preload, open);
    if (close == std::string::npos) return std::nullopt;
    json literal = json::parse(preload.substr(open, close - open + 1), nullptr, false);
    if (literal.is_string()) {
      json value = json::parse(literal.get<std::string>(), nullptr, false);
      if (value.is_object() && value.contains("origin") && value.contains("platform") &&
          value.contains("screenSource") && value.contains("token")) {
        return PreloadConfig{value, value.value("origin", ""), value.value("platform", ""),
                             value.value("screenSource", ""), value.value("token", "")};
      }
    }
    open = close;
  }
  return std::nullopt;
}

bool Received::isReply(int64_t id) const {
  return value.is_object() && value.contains("ok") && value.contains("id") &&
         value["id"].is_number_integer() && value["id"].get<int64_t>() == id;
}

bool Received::isEvent(std::string_view name) const {
  return value.is_object() && value.contains("event") && value["event"].is_string() &&
         value["event"].get<std::string>() == name;
}

std::optional<Received> receivedIn(const std::string& script) {
  if (script.size() < kReceivePrefix.size() + 1 || !script.starts_with(kReceivePrefix) ||
      script.back() != ')') {
    return std::nullopt;
  }
  std::string text =
      script.substr(kReceivePrefix.size(), script.size() - kReceivePrefix.size() - 1);
  json value = json::parse(text, nullptr, false);
  if (value.is_discarded()) return std::nullopt;
  return Received{std::move(text), std::move(value)};
}

std::string requestText(const std::string& token, int64_t id, const std::string& cmd,
                        const json& args) {
  return json{{"bk", token}, {"id", id}, {"cmd", cmd}, {"args", args}}.dump();
}

std::string builtExecutable() {
  return BK_BUNDLE_DIR "/Contents/MacOS/brovik-work";
}

AppSession::AppSession(std::string executable) : executable_(executable), app_(executable) {}

std::string AppSession::userDataDir() {
  // The executable sits in Contents/MacOS, the identity in Contents/Resources.
  fs::path version =
      fs::path(executable_).parent_path().parent_path() / "Resources" / "version.json";
  std::ifstream in(version);
  json info = json::parse(in, nullptr, false);
  if (!info.is_object()) throw HarnessError("no identity in " + version.string());
  // The test may have given the process another home.
  std::string home = app_.home().path();
  if (auto set = app_.env().find("HOME"); set != app_.env().end() && set->second) {
    home = *set->second;
  }
  return home + "/Library/Application Support/" + info.value("identifier", "") + "/" +
         info.value("channel", "");
}

bool AppSession::waitUntil(const std::function<bool()>& ready) {
  return pollUntil(app_, ready);
}

bool AppSession::start() {
  return launch() && waitForMainWindow();
}

bool AppSession::launch() {
  if (!atLoad_.empty()) {
    // Commands a test put there itself run first.
    json commands = json::array();
    if (auto& set = app_.env()["NIMBREL_STANDIN_FAIL"]; set && !set->empty()) {
      commands = json::parse(*set);
    }
    for (const json& cmd : atLoad_) commands.push_back(cmd);
    app_.env()["NIMBREL_STANDIN_FAIL"] = commands.dump();
  }
  app_.start();
  return app_.waitUntilRunning();
}

bool AppSession::waitForMainWindow() {
  bool opened = pollUntil(app_, [&] {
    json st = app_.command({{"cmd", "state"}});
    if (!st.is_object() || !st.value("ok", false) || st["windows"].empty()) return false;
    uint32_t first = st["windows"][0]["id"];
    for (const json& view : st["webviews"]) {
      if (view["window"] != first) continue;
      window_ = first;
      webview_ = view["id"];
      return true;
    }
    return false;
  });
  if (!opened) return false;
  auto found = preloadConfigIn(webviewRecord(webview_).value("preload", ""));
  if (!found) return false;
  config_ = *found;

  // The web view exists a moment before the shell has entered its window in
  // the window table; until then the page's requests are dropped. The first
  // answered request says the bridge is open.
  int64_t firstPing = nextRoundTrip_;
  bool answered = pollUntil(app_, [&] {
    post(request(nextRoundTrip_++, "notification_permission"), Via::kQueue);
    for (const Received& r : received()) {
      if (r.value.is_object() && r.value.value("id", int64_t{0}) >= firstPing) return true;
    }
    return false;
  });
  if (!answered) return false;
  // Events of the opening (the new window's focus) are made before the test
  // plays its part.
  sync();
  return true;
}

json AppSession::command(const json& cmd) {
  json reply = app_.command(cmd);
  if (reply.is_null()) throw HarnessError("no answer to " + cmd.dump());
  if (!reply.value("ok", false)) throw HarnessError(cmd.dump() + " refused: " + reply.dump());
  return reply;
}

json AppSession::windowRecord(uint32_t id) {
  return findById(state()["windows"], id);
}

json AppSession::webviewRecord(uint32_t id) {
  return findById(state()["webviews"], id);
}

json AppSession::calls(const std::string& fn) {
  return command({{"cmd", "calls"}, {"fn", fn}})["calls"];
}

void AppSession::post(const std::string& text, Via via, uint32_t webview) {
  command(
      {{"cmd", "post"}, {"webview", viewOr(webview)}, {"message", text}, {"via", viaName(via)}});
}

std::optional<Received> AppSession::call(int64_t id, const std::string& cmd, const json& args,
                                         Via via) {
  // Only a reply that comes after this request counts: an earlier page may
  // have had a reply to the same id.
  const size_t since = received().size();
  post(request(id, cmd, args), via);
  return waitFor([id](const Received& r) { return r.isReply(id); }, since);
}

std::vector<std::string> AppSession::scripts(uint32_t webview) {
  return command({{"cmd", "scripts"}, {"webview", viewOr(webview)}})["scripts"]
      .get<std::vector<std::string>>();
}

std::vector<Received> AppSession::received(uint32_t webview) {
  std::vector<Received> out;
  for (const std::string& script : scripts(webview)) {
    if (auto r = receivedIn(script)) out.push_back(std::move(*r));
  }
  return out;
}

std::vector<Received> AppSession::repliesTo(int64_t id, uint32_t webview) {
  std::vector<Received> out;
  for (Received& r : received(webview)) {
    if (r.isReply(id)) out.push_back(std::move(r));
  }
  return out;
}

std::optional<Received> AppSession::waitFor(const std::function<bool(const Received&)>& wanted,
                                            size_t since, uint32_t webview) {
  std::optional<Received> found;
  pollUntil(app_, [&] {
    std::vector<Received> all = received(webview);
    for (size_t i = since; i < all.size(); ++i) {
      if (wanted(all[i])) {
        found = std::move(all[i]);
        return true;
      }
    }
    return false;
  });
  return found;
}

std::optional<Received> AppSession::waitForReply(int64_t id, uint32_t webview) {
  return waitFor([id](const Received& r) { return r.isReply(id); }, 0, webview);
}

std::optional<Received> AppSession::waitForEvent(std::string_view name, size_t since,
                                                 uint32_t webview) {
  return waitFor([name](const Received& r) { return r.isEvent(name); }, since, webview);
}

void AppSession::roundTrip(uint32_t webview) {
  int64_t id = nextRoundTrip_++;
  post(request(id, "notification_permission"), Via::kQueue, webview);
  if (!waitForReply(id, webview)) {
    throw HarnessError("no reply to the round trip " + std::to_string(id));
  }
}

void AppSession::waitUntilQueueTaken() {
  // The shell polls the queue from one task, so a poll logged after the queue
  // was seen empty comes after the last message was checked.
  auto polls = [&] {
    json log = command({{"cmd", "calls"}, {"fn", "popNextQueuedHostMessage"}});
    return log["calls"].size() + log["dropped"].get<size_t>();
  };
  size_t before = 0;
  bool emptied = pollUntil(app_, [&] {
    if (state()["hostQueue"]["pending"] != 0) return false;
    before = polls();
    return true;
  });
  if (!emptied || !pollUntil(app_, [&] { return polls() > before; })) {
    throw HarnessError("the shell did not take the queued messages");
  }
}

void AppSession::closeWindow(uint32_t window) {
  command({{"cmd", "close-window"}, {"window", window}});
}

void AppSession::focus(uint32_t window) {
  command({{"cmd", "focus"}, {"window", window}});
}

void AppSession::blur() {
  command({{"cmd", "blur"}});
}

void AppSession::clickClose(uint32_t window) {
  command({{"cmd", "click-close"}, {"window", window}});
}

void AppSession::minimize(uint32_t window) {
  command({{"cmd", "minimize-window"}, {"window", window}});
}

void AppSession::move(uint32_t window, double x, double y) {
  command({{"cmd", "move-window"}, {"window", window}, {"x", x}, {"y", y}});
}

void AppSession::resize(uint32_t window, double width, double height) {
  command({{"cmd", "resize-window"}, {"window", window}, {"width", width}, {"height", height}});
}

bool AppSession::reopen() {
  return command({{"cmd", "reopen"}})["delivered"];
}

bool AppSession::requestQuit() {
  // The process may end before the stand-in has answered: that is the quit.
  json reply = app_.command({{"cmd", "quit"}});
  return reply.is_null() || reply.value("delivered", false);
}

bool AppSession::openUrl(const std::string& url) {
  return command({{"cmd", "open-url"}, {"url", url}})["delivered"];
}

std::string AppSession::navigate(const std::string& url, uint32_t webview) {
  return command({{"cmd", "navigate"}, {"webview", viewOr(webview)}, {"url", url}})["outcome"];
}

void AppSession::newWindow(const std::string& url, uint32_t webview) {
  command({{"cmd", "new-window"}, {"webview", viewOr(webview)}, {"url", url}});
}

void AppSession::download(bool success, const std::string& filename, const std::string& destination,
                          uint32_t webview) {
  command({{"cmd", "download"},
           {"webview", viewOr(webview)},
           {"success", success},
           {"filename", filename},
           {"destinationPath", destination}});
}

}  // namespace testing_support
