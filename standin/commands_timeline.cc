// Timing the system from the control channel: "stamp-calls" and "stamps"
// time chosen core calls; "post-many" plays a page that posts many messages
// and notes when it posted each, so that no round trip of the control
// channel lies between a post and the system's answer.
#include <chrono>
#include <mutex>
#include <thread>

#include "core_names.h"
#include "events.h"
#include "export_helpers.h"
#include "harness_commands.h"
#include "state.h"
#include "timeline.h"

namespace standin {

namespace {

json stampCallsCommand(const json& cmd) {
  std::vector<std::string> fns;
  auto it = cmd.find("fn");
  if (it != cmd.end() && !it->is_null()) {
    if (it->is_string()) {
      fns.push_back(it->get<std::string>());
    } else if (it->is_array()) {
      for (const json& n : *it) {
        if (!n.is_string()) throw CommandError("\"fn\" must hold strings");
        fns.push_back(n.get<std::string>());
      }
    } else {
      throw CommandError("\"fn\" must be a string, an array of strings or null");
    }
  }
  for (const std::string& fn : fns) {
    if (!isCoreFunction(fn)) throw CommandError("unknown core function " + fn);
  }
  stampCalls(std::move(fns));
  return json::object();
}

json stamps(const json& cmd) {
  double since = optNumber(cmd, "since", 0);
  if (since < 0) throw CommandError("\"since\" must not be negative");
  return callStamps(static_cast<size_t>(since), optBool(cmd, "clear", false));
}

// `text` with every "${n}" replaced by the number of the post.
std::string numbered(const std::string& text, int64_t n) {
  static const std::string kMark = "${n}";
  std::string out;
  std::string number = std::to_string(n);
  size_t from = 0;
  for (size_t at; (at = text.find(kMark, from)) != std::string::npos; from = at + kMark.size()) {
    out.append(text, from, at - from);
    out += number;
  }
  out.append(text, from, std::string::npos);
  return out;
}

// Waits for `due` without sleeping past it: the scheduler's sleeps are far
// coarser than the gaps a benchmark asks for.
void waitUntil(std::chrono::steady_clock::time_point due) {
  using namespace std::chrono_literals;
  for (auto now = std::chrono::steady_clock::now(); now < due;
       now = std::chrono::steady_clock::now()) {
    if (due - now > 300us) {
      std::this_thread::sleep_for(due - now - 200us);
    } else {
      std::this_thread::yield();
    }
  }
}

json postMany(const json& cmd) {
  uint32_t id = needU32(cmd, "webview");
  std::string message = needString(cmd, "message");
  double count = needNumber(cmd, "count");
  double first = optNumber(cmd, "from", 1);
  double every = optNumber(cmd, "every", 0);
  std::string via = optString(cmd, "via").value_or("both");
  if (via != "both" && via != "queue" && via != "host-bridge") {
    throw CommandError("\"via\" must be both, queue or host-bridge");
  }
  if (count < 0 || every < 0) throw CommandError("\"count\" and \"every\" must not be negative");
  bool queued = via != "host-bridge";
  bool called = via != "queue";

  WebviewMessageFn hostBridge = nullptr;
  {
    std::lock_guard lock(model().mu);
    Webview* v = findIn(model().webviews, id);
    if (!v) throw CommandError(missing("web view", id));
    hostBridge = v->cb.hostBridge;
  }
  auto total = static_cast<int64_t>(count);
  auto gap = std::chrono::nanoseconds(static_cast<int64_t>(every * 1000));
  // The pace counts from the first post itself, so no later one comes early
  // however long the first took to make.
  std::chrono::steady_clock::time_point firstPost;
  json times = json::array();
  for (int64_t i = 0; i < total; ++i) {
    std::string text = numbered(message, static_cast<int64_t>(first) + i);
    if (i > 0 && every > 0) waitUntil(firstPost + gap * i);
    auto now = std::chrono::steady_clock::now();
    if (i == 0) firstPost = now;
    int64_t postedAt = monotonicNanos(now);
    if (queued) {
      std::lock_guard lock(model().mu);
      if (!model().webviews.count(id)) throw CommandError(missing("web view", id));
      model().hostQueue.emplace_back(id, text);
    }
    if (called && hostBridge) {
      deliverLater({{"hostBridge", json::array({id, text}),
                     [hostBridge, id, text] { hostBridge(id, text.c_str()); }}});
    }
    times.push_back(postedAt);
  }
  // Like every command that makes callbacks, it answers once they are made.
  drainDeliveries();
  return {{"posted", total}, {"times", times}};
}

}  // namespace

void addTimelineCommands(CommandTable& table) {
  table["stamp-calls"] = stampCallsCommand;
  table["stamps"] = stamps;
  table["post-many"] = postMany;
}

}  // namespace standin
