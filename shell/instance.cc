// The single-instance socket: its name, the hand-off of a later launch, and
// the listener of the running instance.
#include <pwd.h>
#include <unistd.h>

#include <openssl/sha.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
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

// Listens on `path`; when something is in the way there, removes it and
// tries once more. A file that nobody answers on was left by an instance that
// was killed, or is held by one that no longer acknowledges, and this launch
// takes it over; another user's is never touched.
support::Result<platform::listening> listenOrTakeOver(const std::string& path) {
  auto made = platform::listenLocal(path);
  if (made) return made;
  if (platform::ownedByAnotherUser(path)) {
    return support::makeError("listen unix " + path + ": the file belongs to another user");
  }
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  return platform::listenLocal(path);
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
  while (!reader.done()) {
    const long n = platform::readBefore(fd, buffer, sizeof buffer, until);
    if (n <= 0) break;
    reader.add(std::string_view(buffer, static_cast<size_t>(n)));
  }
  auto message = reader.decode();
  if (!message) {
    platform::closeDescriptor(fd);
    return;
  }
  // A launch that does not get the answer gave up and handles its arguments
  // itself; handling them here as well would open every link twice.
  if (!platform::writeBefore(fd, "k", until)) {
    platform::closeDescriptor(fd);
    return;
  }
  l->handler(std::move(message->Args));
  platform::closeDescriptor(fd);
}

// Listens on `path` and starts the accept task.
support::Result<std::shared_ptr<listener>> startListening(const std::string& path,
                                                          argsHandler handler) {
  auto made = listenOrTakeOver(path);
  if (!made) return made.error();
  auto l = std::make_shared<listener>();
  l->fd = made->fd;
  l->file = made->file;
  l->handler = std::move(handler);
  if (auto piped = platform::makeWakePipe(l->wake); !piped) {
    platform::closeDescriptor(l->fd);
    platform::removeIfSame(path, l->file);
    return piped.error();
  }
  support::runInBackground([l] { acceptConnections(l); });
  return l;
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
  // Taken before connecting: a file put there after the connection is one
  // this launch did not ask.
  result.socket = platform::entryAt(path);
  const platform::connection c = platform::connectLocal(path, kConnectTimeout);
  if (c.fd < 0) {
    if (c.timedOut) result.outcome = handOffResult::noAnswer;
    return result;
  }
  // Whoever listens at the name gets every argument, sign-in codes among
  // them: a listener of another user in a shared directory gets nothing.
  if (!platform::peerIsThisUser(c.fd)) {
    platform::closeDescriptor(c.fd);
    return result;
  }
  const auto until = steady_clock::now() + kExchangeDeadline;
  result.outcome = handOffResult::noAnswer;
  if (platform::writeBefore(c.fd, encodeHandoff(args), until)) {
    char reply = 0;
    const long n = platform::readBefore(c.fd, &reply, 1, until);
    if (n == 1) result.outcome = handOffResult::acknowledged;
    // Closed without a word: the message was refused, or the instance is
    // ending. Either way nobody will take it.
    if (n == 0) result.outcome = handOffResult::nobodyListens;
  }
  platform::closeDescriptor(c.fd);
  return result;
}

support::Status instance::listen(argsHandler handler) {
  if (ln) return support::makeError("listen unix " + path + ": already listening");
  auto started = startListening(path, std::move(handler));
  // From here on later launches reach this one through the socket, or, when
  // it could not be had, cannot reach it at all: either way the claim has
  // done its part.
  claimLock.release();
  if (!started) return started.error();
  ln = *started;
  return {};
}

void instance::close() {
  if (ln) {
    platform::wake(ln->wake[1]);
    // The accept task still uses the descriptors until it has seen the wake:
    // closing them under it could let it wait on a reused number.
    {
      std::unique_lock lock(ln->mu);
      ln->cv.wait(lock, [&] { return ln->acceptEnded; });
    }
    platform::closeDescriptor(ln->fd);
    platform::closeDescriptor(ln->wake[0]);
    platform::closeDescriptor(ln->wake[1]);
    // A launch may have taken the name over while this process was stopped;
    // its file is not this one's to remove.
    platform::removeIfSame(path, ln->file);
    ln.reset();
  }
  // A launch that never got as far as listening still holds the claim.
  claimLock.release();
}

}  // namespace shell
