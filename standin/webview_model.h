// How web views behave: navigation rules, navigations and their events.
#pragma once

#include <cstdint>
#include <string>

#include "events.h"
#include "state.h"

namespace standin {

// A navigation rule: "*" matches any run of characters, a leading "^" anchors
// the pattern at the start of the address (without it the pattern may start
// anywhere), and the pattern must reach the end of the address. ASCII
// letters match regardless of case, as schemes and host names do.
bool ruleMatches(const std::string& rule, const std::string& url);

// Parses the text of setWebviewNavigationRules: a JSON array of strings.
bool parseRules(const std::string& text, std::vector<std::string>& rules);

// The detail of a navigation event: {"url": U}, or U itself as plain text.
std::string urlDetail(const std::string& url, bool plainText);

void addWebviewEvent(const Webview& v, const std::string& name, const std::string& detail,
                     Deliveries& out);

enum class NavigationOutcome { kNavigated, kBlockedByRule, kRefused, kGone };
const char* outcomeName(NavigationOutcome outcome);

// Carries out a navigation. Runs on the event thread: a rule match reports
// "will-navigate" with "allowed" false and stops; otherwise the page's
// decide-navigation callback is asked (no callback allows), and an allowed
// navigation moves the address and history and reports "did-navigate" and
// "did-commit-navigation".
NavigationOutcome navigateOnEventThread(uint32_t webviewId, const std::string& url, bool plainText);

}  // namespace standin
