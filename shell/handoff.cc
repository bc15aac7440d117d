// The hand-off message between a later launch and the running instance, and
// the argument list that a relaunch passes on in the environment.
#include <string>

#include "shell/instance.h"
#include "support/json.h"

namespace shell {
namespace {

void writeArgList(support::json::Writer& w, const std::vector<std::string>& args) {
  if (args.empty()) {
    w.null();
    return;
  }
  w.beginArray();
  for (const std::string& arg : args) w.string(arg);
  w.endArray();
}

bool isJsonSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

std::string encodeHandoff(const std::vector<std::string>& args) {
  support::json::Writer w;
  w.beginObject().key("args");
  writeArgList(w, args);
  w.endObject();
  // Text always encodes (invalid UTF-8 becomes U+FFFD), so there is no
  // failure to report.
  return w.take() + "\n";
}

std::string encodeArgList(const std::vector<std::string>& args) {
  support::json::Writer w;
  writeArgList(w, args);
  return w.take();
}

bool handoffReader::add(std::string_view bytes) {
  if (done()) return true;
  size_t i = 0;
  if (!started_) {
    while (i < bytes.size() && isJsonSpace(bytes[i])) ++i;
    if (i == bytes.size()) return false;
    // Only an object can be a message; whatever else starts here cannot turn
    // into one, so there is no point in reading on.
    if (bytes[i] != '{') {
      refused_ = true;
      return true;
    }
    started_ = true;
    depth_ = 1;
    text_ += '{';
    bytes.remove_prefix(i + 1);
    i = 0;
  }
  // Brackets are counted outside strings only; for valid JSON the count
  // returns to zero exactly where the first value ends, and for anything
  // else the decoder below finds the fault.
  for (; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (inString_) {
      if (escaped_) {
        escaped_ = false;
      } else if (c == '\\') {
        escaped_ = true;
      } else if (c == '"') {
        inString_ = false;
      }
      continue;
    }
    if (c == '"') {
      inString_ = true;
    } else if (c == '{' || c == '[') {
      ++depth_;
    } else if ((c == '}' || c == ']') && --depth_ == 0) {
      complete_ = true;
      ++i;
      break;
    }
  }
  if (text_.size() + i > kMaxBytes) {
    refused_ = true;
    complete_ = false;
    text_.clear();
    text_.shrink_to_fit();
    return true;
  }
  text_.append(bytes.data(), i);
  return complete_;
}

support::Result<handoff> handoffReader::decode() const {
  if (refused_ && !started_) return support::makeError("hand-off: not a JSON object");
  if (refused_) {
    return support::makeError("hand-off: message longer than " + std::to_string(kMaxBytes) +
                              " bytes");
  }
  if (!complete_) return support::makeError("hand-off: the message ended early");
  handoff message;
  auto status = support::json::decodeObject(
      text_, [&](support::json::Object& o) { o.field("args", message.Args); });
  if (!status) return status.error();
  return message;
}

support::Result<handoff> decodeHandoff(std::string_view received) {
  handoffReader reader;
  reader.add(received);
  return reader.decode();
}

}  // namespace shell
