// One running instance per user and channel, and what later launches hand it.
//
// Every launch first tries to hand its arguments to a running instance over a
// Unix-domain socket in the temporary directory; failing that, a launch that
// the bundle's launcher did not start lets the launcher start it again. Only
// a launch that gets past both, and holds the claim to start, listens for
// later ones. Hand-offs go only between processes of the same user: the
// temporary directory may be shared with every other user of the machine.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/bundle_paths.h"
#include "shell/platform/file_lock.h"
#include "shell/platform/local_socket.h"
#include "support/result.h"

namespace shell {

// The arguments of this launch: the command line without the program name,
// then those passed in BK_DESKTOP_ARGS (a JSON array of text), which is then
// removed from the environment.
std::vector<std::string> startArgs();

// ---- The hand-off message (handoff.cc) -------------------------------------

// What a later launch sends: {"args":[...]} and a line feed.
struct handoff {
  std::vector<std::string> Args;
};

// The message for `args`, line feed included; {"args":null} for none.
std::string encodeHandoff(const std::vector<std::string>& args);

// `args` as a JSON array of text, "null" for none: the form of BK_DESKTOP_ARGS.
std::string encodeArgList(const std::vector<std::string>& args);

// Collects the bytes of one hand-off connection up to the end of its first
// JSON value; whatever follows that value is not looked at. Only an object
// can be a message, so anything else ends the message at its first byte.
class handoffReader {
 public:
  // A message longer than this is refused. A launch's arguments are bounded
  // by the system's limit on exec arguments (a few MiB), and escaping makes
  // a byte six at most.
  static constexpr size_t kMaxBytes = 16 * 1024 * 1024;

  // Takes the next bytes of the stream. Returns true once the reader wants
  // no more: the first value is complete, or the message is refused.
  bool add(std::string_view bytes);
  bool done() const { return complete_ || refused_; }
  // The message: an error when it is incomplete, too long, not one JSON
  // object, or its "args" is neither a list of text nor null.
  support::Result<handoff> decode() const;

 private:
  std::string text_;
  size_t depth_ = 0;
  bool started_ = false;
  bool inString_ = false;
  bool escaped_ = false;
  bool complete_ = false;
  bool refused_ = false;
};

// Decodes the bytes that one connection delivered before it ended.
support::Result<handoff> decodeHandoff(std::string_view received);

// ---- The single-instance socket (instance.cc) -----------------------------

using argsHandler = std::function<void(std::vector<std::string>)>;

// The listener and what its tasks share with close().
struct listener;

// What came of offering a launch's arguments to whoever listens at the name.
struct handOffResult {
  enum answer {
    // No socket file, one whose listener is gone (the connection is refused),
    // or another user's listener.
    nobodyListens,
    acknowledged,  // a running instance of this user took the arguments
    // A listener kept the connection waiting (or its queue full) past the
    // deadline: an instance that hangs.
    noAnswer,
    // A listener that closed every connection before answering, or one this
    // launch could not ask at all: alive as far as can be told, so it is
    // neither handed the arguments nor taken over.
    turnedAway,
  };
  answer outcome = nobodyListens;
  // The file at the name just before the launch asked; none when there was
  // none.
  std::optional<platform::fileIdentity> socket;

  explicit operator bool() const { return outcome == acknowledged; }
};

// What came of a launch's claim to start the one instance.
enum class claimOutcome {
  claimed,    // this launch holds the claim and starts
  handedOff,  // a launch that started meanwhile took the arguments
  // Neither: the holder neither listened nor let go in time (it hangs while
  // starting). The launch starts without the claim.
  unclaimed,
};

// What came of listening.
enum class listenOutcome {
  listening,  // this launch is the instance at the name
  // An instance that came first is at the name and took this launch's
  // arguments: the launch is to end.
  handedOff,
};

// How long a launch waits for the holder of the claim, which is starting,
// to listen (or to let go) before it starts without it. Far longer than a
// start takes, so that only a holder that hangs runs it out.
inline constexpr std::chrono::milliseconds kClaimWait{10'000};

// The single-instance record of this launch.
//
// One instance at the name never rests on the claim alone: a listener is
// published at the name only where nothing is, and whatever is there is
// offered the launch's arguments first; only a file nobody answers on is
// taken over, and only while it is still the file that was asked.
class instance {
 public:
  explicit instance(std::string socketPath) : path(std::move(socketPath)) {}
  instance(instance&&) = default;
  instance& operator=(instance&&) = delete;
  // Closes the listener and lets go of the claim, as close() does.
  ~instance();

  // Offers `args` to the instance listening on `path`, provided it runs as
  // this user; true once it acknowledged them. A connection that is reset or
  // closed before the answer means the listener went away: it asks again, a
  // few times.
  handOffResult handOff(const std::vector<std::string>& args) const;

  // For a launch that found nobody to take its arguments (`asked` says what
  // its last ask came to, and is kept up to date): takes the claim to start,
  // a lock on the file beside the socket that one launch of the user and
  // channel at a time holds, from "nobody answered" until it listens. A
  // launch that finds the claim taken waits for it, and offers `args` to
  // every new file that appears at the name meanwhile; once it holds the
  // claim it offers them to a file there that it has not asked yet. A file
  // it already asked (a listener that hung) is not asked again. An error when
  // the lock file cannot serve as this user's lock; the launch then starts
  // without the claim.
  support::Result<claimOutcome> claim(const std::vector<std::string>& args, handOffResult& asked,
                                      std::chrono::milliseconds wait = kClaimWait);

  // Listens on `path` and hands every argument list received from this
  // user's launches to `handler`, each on a task of its own. The socket
  // listens on a private name first and is then given `path` where nothing
  // is. When something is, it is offered `args` unless it is the file that
  // `asked` (this launch's last ask) found silent or gone: taken, this launch
  // is to end (`handedOff`). A file nobody answers on is removed while it is
  // still the one asked, and the name tried again, a few times. Another
  // user's file is left alone. Either way the claim goes: later launches now
  // reach an instance through the socket, or cannot reach this one at all.
  support::Result<listenOutcome> listen(argsHandler handler,
                                        const std::vector<std::string>& args = {},
                                        handOffResult asked = {});

  // Stops listening and removes the socket file while it is still the one
  // this process published; lets go of a claim still held. Does nothing to
  // the socket file when listen() never succeeded, so a launch that never
  // listened removes nothing.
  void close();

  // The socket file as this process published it at `path`; none while it
  // does not listen.
  std::optional<platform::fileIdentity> published() const;

  // The lock file beside the socket.
  std::string claimPath() const { return path + ".lock"; }

  const std::string path;
  std::shared_ptr<listener> ln;
  platform::fileLock claimLock;

 private:
  // Offers `args` to the file at the name when it is not the one `asked`
  // last; true once taken.
  bool offerToNewcomer(const std::vector<std::string>& args, handOffResult& asked) const;
};

// The record for this user, identifier and channel: the socket
// "<Identifier>.<Channel>.<uid>.sock" in TMPDIR (or /tmp), replaced by a
// hashed "bk-<16 hex digits>.sock" when the path would exceed 100 bytes.
instance instanceFor(const nimbrel::AppInfo& info);

// "bk-" + the first 8 bytes of SHA-256 of `path` in hexadecimal + ".sock";
// none when the system's SHA-256 cannot be had.
std::optional<std::string> hashedSocketName(std::string_view path);

// ---- Relaunch through the launcher (relaunch.cc) --------------------------

// Starts the bundle's launcher with `args` in BK_DESKTOP_ARGS, unless the
// launcher started this process or there is none. True when this process is
// to end.
bool relaunch(const nimbrel::BundlePaths& bundle, const std::vector<std::string>& args);

}  // namespace shell
