// The single-instance socket: its name, the hand-off of a later launch, and
// the listener of the running instance.
#include <pwd.h>
#include <unistd.h>

#include <openssl/sha.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "binding/nm_helpers.h"
#include "shell/instance.h"
#include "shell/platform/local_socket.h"
#include "support/path.h"
#include "support/tasks.h"

namespace shell {
namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

constexpr size_t kMaxPathBytes = 100;
constexpr auto kConnectTimeout = 1s;
// Bounds reading the message and writing the acknowledgement, on both sides;
// not the handler, which may take as long as it needs.
constexpr auto kExchangeDeadline = 3s;
// How long the accept task rests after the process ran short of descriptors
// or memory before it tries again.
constexpr auto kAcceptPause = 100ms;
// How often a launch asks again when the listener went away under its ask:
// the next ask finds the name free, stale, or taken over. A listener that
// keeps closing connections unanswered is alive, and refuses this launch.
constexpr int kAsks = 3;
// How often a listener tries to take the name: each round either publishes,
// hands off, or removes a file nobody answered on, which only another
// launch's publication can follow.
constexpr int kPublishRounds = 4;
// How long close() waits for the accept task to see the wake. It sees it at
// once when it runs; one that never got a thread sees it when it starts.
constexpr auto kAcceptEndWait = 2s;

std::string tempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

std::string userId() {
  const uid_t uid = ::getuid();
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buffer(size > 0 ? static_cast<size_t>(size) : 16384, '\0');
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return "user";
  }
  return std::to_string(found->pw_uid);
}

// Errors after which a later accept may well succeed: the process was short
// of descriptors or memory, or one connection went away while it waited.
// Ending the listener over them would leave later launches to start
// instances of their own.
bool passes(int error) {
  switch (error) {
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
    case ECONNABORTED:
    case EPROTO:
      return true;
    default:
      return false;
  }
}

// One connection: exactly one message, the acknowledgement before the
// handler runs, and the connection kept open until the handler returned.
void serve(const std::shared_ptr<listener>& l, int fd);

}  // namespace

struct listener {
  int fd = -1;
  platform::fileIdentity file;  // the socket file, so close() removes no other
  int wake[2] = {-1, -1};
  argsHandler handler;

  std::mutex mu;
  std::condition_variable cv;
  bool acceptEnded = false;

  // Whoever lets go last closes: an accept task that has not started yet
  // still needs the wake pipe to learn that it is to end.
  ~listener() {
    platform::closeDescriptor(fd);
    platform::closeDescriptor(wake[0]);
    platform::closeDescriptor(wake[1]);
  }
};

namespace {

void acceptConnections(const std::shared_ptr<listener>& l) {
  for (;;) {
    const platform::accepted next = platform::acceptLocal(l->fd, l->wake[0]);
    if (next.woken) break;
    if (next.fd >= 0) {
      support::runInBackground([l, fd = next.fd] { serve(l, fd); });
      continue;
    }
    if (!passes(next.error) || platform::waitForWake(l->wake[0], kAcceptPause)) break;
  }
  std::lock_guard lock(l->mu);
  l->acceptEnded = true;
  l->cv.notify_all();
}

void serve(const std::shared_ptr<listener>& l, int fd) {
  // Only the user's own launches may open links in this instance; the
  // socket file's mode keeps others out too, but not on every file system.
  if (!platform::peerIsThisUser(fd)) {
    platform::closeDescriptor(fd);
    return;
  }
  const auto until = steady_clock::now() + kExchangeDeadline;
  handoffReader reader;
  char buffer[16384];
  size_t got = 0;
  while (!reader.done() &&
         platform::readBefore(fd, buffer, sizeof buffer, until, got) == platform::transfer::done) {
    reader.add(std::string_view(buffer, got));
  }
  auto message = reader.decode();
  if (!message) {
    platform::closeDescriptor(fd);
    return;
  }
  // A launch that does not get the answer gave up and handles its arguments
  // itself; handling them here as well would open every link twice.
  if (platform::writeBefore(fd, "k", until) != platform::transfer::done) {
    platform::closeDescriptor(fd);
    return;
  }
  l->handler(std::move(message->Args));
  platform::closeDescriptor(fd);
}

// Whether a launch that asked the file `there` and got `asked` learnt all
// there is to know of it: a file that was silent, or that nobody listened on,
// is the same file still only while its identity is.
bool alreadyAsked(const handOffResult& asked, const std::optional<platform::fileIdentity>& there) {
  return (asked.outcome == handOffResult::noAnswer ||
          asked.outcome == handOffResult::nobodyListens) &&
         asked.socket == there;
}

// One ask of whoever listens at `path`. `gone`: the listener took the
// connection and went away before answering (it was killed, or is ending);
// what is at the name now is for another ask to find out.
handOffResult askOnce(const std::string& path, const std::vector<std::string>& args, bool& gone) {
  handOffResult result;
  // Taken before connecting: a file put there after the connection is one
  // this launch did not ask.
  result.socket = platform::entryAt(path);
  const platform::connection c = platform::connectLocal(path, kConnectTimeout);
  switch (c.failed) {
    case platform::connection::none:
      break;
    case platform::connection::missing:
    case platform::connection::refused:
      return result;
    case platform::connection::timedOut:
      result.outcome = handOffResult::noAnswer;
      return result;
    case platform::connection::other:
      result.outcome = handOffResult::turnedAway;
      return result;
  }
  // Whoever listens at the name gets every argument, sign-in codes among
  // them: a listener of another user in a shared directory gets nothing.
  if (!platform::peerIsThisUser(c.fd)) {
    platform::closeDescriptor(c.fd);
    return result;
  }
  const auto until = steady_clock::now() + kExchangeDeadline;
  platform::transfer step = platform::writeBefore(c.fd, encodeHandoff(args), until);
  if (step == platform::transfer::done) {
    char reply = 0;
    size_t got = 0;
    step = platform::readBefore(c.fd, &reply, 1, until, got);
  }
  platform::closeDescriptor(c.fd);
  switch (step) {
    case platform::transfer::done:
      result.outcome = handOffResult::acknowledged;
      break;
    case platform::transfer::ended:
      gone = true;
      break;
    case platform::transfer::pastDeadline:
      result.outcome = handOffResult::noAnswer;
      break;
    case platform::transfer::failed:
      result.outcome = handOffResult::turnedAway;
      break;
  }
  return result;
}

// libcrypto is opened only when a name needs hashing. Loading it with the
// executable would cost every launch more than all the rest of a hand-off,
// for a name that almost never comes up. Null when it cannot be had.
decltype(&SHA256) sha256() {
  static const auto fn = [] {
    void* lib = nm_dlopen(BK_CRYPTO_LIBRARY);
    return lib != nullptr ? reinterpret_cast<decltype(&SHA256)>(nm_dlsym(lib, "SHA256")) : nullptr;
  }();
  return fn;
}

}  // namespace

std::optional<std::string> hashedSocketName(std::string_view path) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  const auto hash = sha256();
  if (hash == nullptr ||
      hash(reinterpret_cast<const unsigned char*>(path.data()), path.size(), digest) == nullptr) {
    return std::nullopt;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name = "bk-";
  for (size_t i = 0; i < 8; ++i) {
    name += kHex[digest[i] >> 4];
    name += kHex[digest[i] & 0xf];
  }
  return name + ".sock";
}

instance instanceFor(const nimbrel::AppInfo& info) {
  std::string path = support::joinPath(
      {tempDirectory(), info.Identifier + "." + info.Channel + "." + userId() + ".sock"});
  // Without a hash the long name stays: one name shared by every over-long
  // identity would hand one application's launches to another. Where the
  // system cannot take it, listening fails and says so.
  if (path.size() > kMaxPathBytes) {
    if (auto hashed = hashedSocketName(path)) path = support::joinPath({tempDirectory(), *hashed});
  }
  return instance(std::move(path));
}

instance::~instance() {
  close();
}

handOffResult instance::handOff(const std::vector<std::string>& args) const {
  handOffResult result;
  for (int ask = 0; ask < kAsks; ++ask) {
    bool gone = false;
    result = askOnce(path, args, gone);
    if (!gone) return result;
  }
  result.outcome = handOffResult::turnedAway;
  return result;
}

support::Result<listenOutcome> instance::listen(argsHandler handler,
                                                const std::vector<std::string>& args,
                                                handOffResult asked) {
  if (ln) return support::makeError("listen unix " + path + ": already listening");
  // From here on later launches reach this one through the socket, reach
  // the instance that took it, or, when the socket could not be had, cannot
  // reach it at all: whatever comes of it, the claim has done its part.
  struct releaseClaim {
    platform::fileLock& lock;
    ~releaseClaim() { lock.release(); }
  } release{claimLock};

  auto aside = platform::listenAside(path);
  if (!aside) return aside.error();
  auto l = std::make_shared<listener>();
  l->fd = aside->fd;
  l->handler = std::move(handler);
  // Made before the name is taken: once it is, nothing may fail any more.
  if (auto piped = platform::makeWakePipe(l->wake); !piped) {
    platform::removeIfSame(aside->name, aside->file);
    return piped.error();
  }
  for (int round = 0; round < kPublishRounds; ++round) {
    auto made = platform::publishAt(aside->name, path);
    if (!made) {
      platform::removeIfSame(aside->name, aside->file);
      return made.error();
    }
    if (*made == platform::published::done) {
      // Renaming is a change of the inode: its identity at the name is the
      // one close() must find there.
      const auto there = platform::entryAt(path);
      if (!there || there->device != aside->file.device || there->inode != aside->file.inode) {
        return support::makeError("listen unix " + path + ": the socket file was replaced");
      }
      l->file = *there;
      support::runInBackground([l] { acceptConnections(l); });
      ln = std::move(l);
      return listenOutcome::listening;
    }
    if (platform::ownedByAnotherUser(path)) {
      platform::removeIfSame(aside->name, aside->file);
      return support::makeError("listen unix " + path + ": the file belongs to another user");
    }
    const auto there = platform::entryAt(path);
    if (!alreadyAsked(asked, there)) asked = handOff(args);
    if (asked) {
      platform::removeIfSame(aside->name, aside->file);
      return listenOutcome::handedOff;
    }
    if (asked.outcome == handOffResult::turnedAway) break;
    // Left by an instance that was killed, or held by one that hangs: taken
    // over, provided nobody put another file there since it was asked.
    if (asked.socket) platform::removeIfSame(path, *asked.socket);
  }
  platform::removeIfSame(aside->name, aside->file);
  return support::makeError("listen unix " + path + ": the name is held by a listener that " +
                            (asked.outcome == handOffResult::turnedAway ? "turns launches away"
                                                                        : "cannot be taken over"));
}

std::optional<platform::fileIdentity> instance::published() const {
  if (!ln) return std::nullopt;
  return ln->file;
}

void instance::close() {
  if (ln) {
    platform::wake(ln->wake[1]);
    bool ended = false;
    {
      std::unique_lock lock(ln->mu);
      ended = ln->cv.wait_for(lock, kAcceptEndWait, [&] { return ln->acceptEnded; });
    }
    // Connections still in its queue hear at once that nobody will take
    // them. The accept task uses the descriptor until it has seen the wake,
    // so one that has not yet (it never got a thread) leaves it to the last
    // holder of the listener.
    if (ended) {
      platform::closeDescriptor(ln->fd);
      ln->fd = -1;
    }
    // A launch may have taken the name over while this process was stopped;
    // its file is not this one's to remove.
    platform::removeIfSame(path, ln->file);
    ln.reset();
  }
  // A launch that never got as far as listening still holds the claim.
  claimLock.release();
}

}  // namespace shell
