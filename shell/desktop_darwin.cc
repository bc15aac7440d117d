#include "shell/desktop_darwin.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>

#include "shell/app_id.h"
#include "support/command_output.h"
#include "support/file.h"
#include "support/path.h"
#include "support/text.h"
#include "support/utf8.h"

namespace shell {
namespace {

constexpr std::string_view kAgentHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n"
    "<dict>\n"
    "  <key>Label</key>\n";
constexpr std::string_view kAgentProgramStart =
    "  <key>ProgramArguments</key>\n"
    "  <array>\n"
    "    <string>";
constexpr std::string_view kAgentBetweenArguments = "</string>\n    <string>";
constexpr std::string_view kAgentTail =
    "</string>\n"
    "  </array>\n"
    "  <key>RunAtLoad</key>\n"
    "  <true/>\n"
    "</dict>\n"
    "</plist>\n";

// Characters written as references rather than as themselves.
constexpr std::pair<char32_t, std::string_view> kXMLReferences[] = {
    {'"', "&#34;"}, {'\'', "&#39;"}, {'&', "&amp;"},  {'<', "&lt;"},
    {'>', "&gt;"},  {'\t', "&#x9;"}, {'\n', "&#xA;"}, {'\r', "&#xD;"},
};

bool inXMLCharacterRange(char32_t r) {
  return r == '\t' || r == '\n' || r == '\r' || (r >= 0x20 && r <= 0xD7FF) ||
         (r >= 0xE000 && r <= 0xFFFD) || (r >= 0x10000 && r <= 0x10FFFF);
}

std::string agentText(std::string_view exe) {
  std::string text;
  text += kAgentHeader;
  text += "  <string>";
  text += kAppIdentifier;
  text += "</string>\n";
  text += kAgentProgramStart;
  text += xmlText(exe);
  text += kAgentBetweenArguments;
  text += "--autostart";
  text += kAgentTail;
  return text;
}

}  // namespace

std::string launchAgent(std::string_view home) {
  const std::string file = std::string(kAppIdentifier) + ".plist";
  return support::joinPath({home, "Library", "LaunchAgents", file});
}

bool loginItemEnabled(std::string_view home) {
  return support::pathExists(launchAgent(home));
}

std::string xmlText(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  while (!s.empty()) {
    support::utf8::Rune rune = support::utf8::decode(s);
    auto reference =
        std::find_if(std::begin(kXMLReferences), std::end(kXMLReferences),
                     [&](const auto& ref) { return rune.valid && ref.first == rune.value; });
    if (reference != std::end(kXMLReferences)) {
      out += reference->second;
    } else if (rune.valid && inXMLCharacterRange(rune.value)) {
      out += s.substr(0, rune.size);
    } else {
      support::utf8::append(out, support::utf8::kReplacement);
    }
    s.remove_prefix(rune.size);
  }
  return out;
}

support::Status setLoginItem(std::string_view home, std::string_view exe, bool on) {
  const std::string agent = launchAgent(home);
  if (on) {
    if (support::Status s = support::makeDirs(support::dirName(agent)); !s) return s;
    // Replaced through a temporary file, so that a crash never leaves a torn
    // agent behind.
    return support::writeFileAtomic(agent, agentText(exe));
  }
  if (std::remove(agent.c_str()) != 0) {
    int err = errno;
    if (err != ENOENT) return support::makeError("remove " + agent + ": " + std::strerror(err));
  }
  return {};
}

std::string titleBarDoubleClickAction(const std::string& defaultsProgram) {
  auto result = support::runForOutput(defaultsProgram,
                                      {defaultsProgram, "read", "-g", "AppleActionOnDoubleClick"});
  if (!result || result->status != 0) return "";
  return std::string(support::trimSpace(result->out));
}

}  // namespace shell
