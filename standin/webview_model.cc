#include "webview_model.h"

#include <cctype>
#include <mutex>

#include "export_helpers.h"

namespace standin {

namespace {

char folded(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// Matches the whole of `s` against `p`, where "*" matches any run.
bool globMatches(const std::string& p, const std::string& s) {
  size_t pi = 0, si = 0;
  size_t starP = std::string::npos, starS = 0;
  while (si < s.size()) {
    if (pi < p.size() && p[pi] == '*') {
      starP = pi++;
      starS = si;
    } else if (pi < p.size() && folded(p[pi]) == folded(s[si])) {
      ++pi;
      ++si;
    } else if (starP != std::string::npos) {
      pi = starP + 1;
      si = ++starS;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

}  // namespace

bool ruleMatches(const std::string& rule, const std::string& url) {
  if (!rule.empty() && rule[0] == '^') return globMatches(rule.substr(1), url);
  return globMatches("*" + rule, url);
}

bool parseRules(const std::string& text, std::vector<std::string>& rules) {
  json parsed = json::parse(text, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_array()) return false;
  std::vector<std::string> out;
  for (const json& rule : parsed) {
    if (!rule.is_string()) return false;
    out.push_back(rule.get<std::string>());
  }
  rules = std::move(out);
  return true;
}

std::string urlDetail(const std::string& url, bool plainText) {
  return plainText ? url : dumpJson({{"url", url}});
}

void addWebviewEvent(const Webview& v, const std::string& name, const std::string& detail,
                     Deliveries& out) {
  if (!v.cb.event) return;
  WebviewEventFn fn = v.cb.event;
  uint32_t id = v.id;
  out.push_back({"webviewEvent", json::array({id, name, detail}),
                 [fn, id, name, detail] { fn(id, name.c_str(), detail.c_str()); }});
}

const char* outcomeName(NavigationOutcome outcome) {
  switch (outcome) {
    case NavigationOutcome::kNavigated:
      return "navigated";
    case NavigationOutcome::kBlockedByRule:
      return "blocked-by-rule";
    case NavigationOutcome::kRefused:
      return "refused";
    case NavigationOutcome::kGone:
      break;
  }
  return "gone";
}

NavigationOutcome navigateOnEventThread(uint32_t webviewId, const std::string& url,
                                        bool plainText) {
  Model& m = model();
  DecideNavigationFn decide = nullptr;
  {
    Deliveries out;
    std::unique_lock lock(m.mu);
    Webview* v = findIn(m.webviews, webviewId);
    if (!v) return NavigationOutcome::kGone;
    bool blocked = false;
    for (const std::string& rule : v->rules) blocked = blocked || ruleMatches(rule, url);
    if (blocked) {
      addWebviewEvent(*v, "will-navigate", dumpJson({{"allowed", false}, {"url", url}}), out);
      lock.unlock();
      deliverNow(std::move(out));
      return NavigationOutcome::kBlockedByRule;
    }
    decide = v->cb.decideNavigation;
  }
  if (decide) {
    uint32_t verdict = 1;
    deliverNow({{"decideNavigation", json::array({webviewId, url}),
                 [&] { verdict = decide(webviewId, url.c_str()); }}});
    if (verdict != 1) return NavigationOutcome::kRefused;
  }
  Deliveries out;
  {
    std::lock_guard lock(m.mu);
    Webview* v = findIn(m.webviews, webviewId);
    if (!v) return NavigationOutcome::kGone;
    v->url = url;
    if (v->history.empty()) {
      v->history.push_back(url);
    } else {
      v->history.resize(v->historyIndex + 1);
      v->history.push_back(url);
      ++v->historyIndex;
    }
    std::string detail = urlDetail(url, plainText);
    addWebviewEvent(*v, "did-navigate", detail, out);
    addWebviewEvent(*v, "did-commit-navigation", detail, out);
  }
  deliverNow(std::move(out));
  return NavigationOutcome::kNavigated;
}

}  // namespace standin
