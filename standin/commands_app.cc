// Commands about the whole core: the call log, failures, reset, application
// events (quit, URLs, reopen, shortcuts), the state snapshot.
#include <mutex>

#include "calls.h"
#include "commands.h"
#include "core_names.h"
#include "events.h"
#include "main_loop.h"
#include "state.h"
#include "trace.h"

namespace standin {

namespace {

std::vector<std::string> namesFilter(const json& cmd) {
  std::vector<std::string> names;
  auto it = cmd.find("fn");
  if (it == cmd.end() || it->is_null()) return names;
  if (it->is_string()) {
    names.push_back(it->get<std::string>());
  } else if (it->is_array()) {
    for (const json& n : *it) {
      if (!n.is_string()) throw CommandError("\"fn\" must hold strings");
      names.push_back(n.get<std::string>());
    }
  } else {
    throw CommandError("\"fn\" must be a string or an array of strings");
  }
  return names;
}

json calls(const json& cmd) {
  return {{"calls", callLog(namesFilter(cmd))}, {"dropped", droppedCalls()}};
}

json clearCalls(const json&) {
  clearCallLog();
  clearDeliveryLog();
  return json::object();
}

json deliveries(const json&) {
  return {{"deliveries", deliveryLog()}};
}

json reset(const json& cmd) {
  bool handlersToo = optBool(cmd, "handlers", false);
  // Callbacks already on their way are made before the state goes, so none
  // arrives from before the reset afterwards.
  drainDeliveries();
  {
    std::lock_guard lock(model().mu);
    resetModelLocked(model(), handlersToo);
  }
  clearInjectedFailures();
  forgetPendingLoopStop();
  clearCallLog();
  clearDeliveryLog();
  return json::object();
}

json fail(const json& cmd) {
  std::string fn = needString(cmd, "fn");
  if (!isCoreFunction(fn)) throw CommandError("unknown core function " + fn);
  if (fn == "nimbrel_core_last_error") throw CommandError("nimbrel_core_last_error cannot fail");
  InjectedFailure failure;
  auto error = cmd.find("error");
  if (error == cmd.end()) {
    failure.error = "";
  } else if (error->is_string()) {
    failure.error = error->get<std::string>();
  } else if (!error->is_null()) {
    throw CommandError("\"error\" must be a string or null");
  }
  auto times = cmd.find("times");
  if (times != cmd.end()) {
    if (times->is_string() && times->get<std::string>() == "always") {
      failure.times = -1;
    } else if (times->is_number_integer() && times->get<int64_t>() >= 0) {
      failure.times = times->get<long>();
    } else {
      throw CommandError("\"times\" must be a count or \"always\"");
    }
  }
  failure.perform = optBool(cmd, "perform", false);
  injectFailure(fn, failure);
  return json::object();
}

json quit(const json&) {
  return {{"delivered", requestQuit("control command", true)}};
}

json openUrl(const json& cmd) {
  auto url = cmd.find("url");
  if (url == cmd.end() || !(url->is_string() || url->is_null())) {
    throw CommandError("\"url\" must be a string or null");
  }
  std::optional<std::string> text;
  if (url->is_string()) text = url->get<std::string>();
  StringFn handler = nullptr;
  {
    std::lock_guard lock(model().mu);
    handler = model().urlOpenHandler;
  }
  if (!handler) return {{"delivered", false}};
  deliverNow({{"urlOpen", json::array({text ? json(*text) : json(nullptr)}),
               [handler, text] { handler(text ? text->c_str() : nullptr); }}});
  return {{"delivered", true}};
}

json reopen(const json&) {
  VoidFn handler = nullptr;
  {
    std::lock_guard lock(model().mu);
    handler = model().appReopenHandler;
  }
  if (!handler) return {{"delivered", false}};
  deliverNow({{"appReopen", json::array(), [handler] { handler(); }}});
  return {{"delivered", true}};
}

json shortcut(const json& cmd) {
  std::string accelerator = needString(cmd, "accelerator");
  StringFn handler = nullptr;
  {
    std::lock_guard lock(model().mu);
    handler = model().globalShortcutHandler;
  }
  if (!handler) return {{"delivered", false}};
  deliverNow({{"globalShortcut", json::array({accelerator}),
               [handler, accelerator] { handler(accelerator.c_str()); }}});
  return {{"delivered", true}};
}

json state(const json&) {
  json out;
  {
    std::lock_guard lock(model().mu);
    out = modelJsonLocked(model());
  }
  out["loop"] = mainLoopJson();
  out["failures"] = injectedFailuresJson();
  out["control"] = controlSocketJson();
  out["trace"] = traceOn();
  return out;
}

json sync(const json&) {
  drainDeliveries();
  return json::object();
}

json listen(const json& cmd) {
  std::string error;
  if (!startControlSocket(needString(cmd, "path"), error)) throw CommandError(error);
  return json::object();
}

json trace(const json& cmd) {
  setTrace(optBool(cmd, "on", true));
  return json::object();
}

json nextIds(const json& cmd) {
  std::lock_guard lock(model().mu);
  Model& m = model();
  for (auto [key, slot] :
       {std::pair{"window", &m.nextWindowId}, std::pair{"webview", &m.nextWebviewId},
        std::pair{"tray", &m.nextTrayId}}) {
    if (cmd.contains(key)) {
      uint32_t next = needU32(cmd, key);
      if (next == 0) throw CommandError(std::string("\"") + key + "\" must not be 0");
      *slot = next;
    }
  }
  return json::object();
}

}  // namespace

void addAppCommands(CommandTable& table) {
  table["calls"] = calls;
  table["clear-calls"] = clearCalls;
  table["deliveries"] = deliveries;
  table["reset"] = reset;
  table["fail"] = fail;
  table["quit"] = quit;
  table["open-url"] = openUrl;
  table["reopen"] = reopen;
  table["shortcut"] = shortcut;
  table["state"] = state;
  table["sync"] = sync;
  table["listen"] = listen;
  table["trace"] = trace;
  table["next-ids"] = nextIds;
}

}  // namespace standin
