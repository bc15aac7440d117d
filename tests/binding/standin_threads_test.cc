// The stand-in core where the system gives no more threads: an operation
// that needs a thread of its own fails with a clear refusal, never ends the
// process, and the thread is started once one can be had.
#include <dlfcn.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/test_support.h"
#include "tests/thread_limit.h"

namespace {

using nlohmann::json;

constexpr uid_t kEventThreadUser = testing_support::kThreadLimitedUsers + 20;
constexpr uid_t kControlSocketUser = testing_support::kThreadLimitedUsers + 21;
constexpr rlim_t kThreadLimit = 8;
// Ends a limited process that hangs; far beyond what any step here takes.
constexpr unsigned kGuardSeconds = 60;

const std::string kRefused = std::string("cannot start a thread: ") + std::strerror(EAGAIN);

// The stand-in as a limited process loads it: afresh, after it is limited.
class LoadedStandin {
 public:
  LoadedStandin() {
    void* lib = dlopen(BK_BUNDLE_DIR "/Contents/MacOS/libNimbrelCore.dylib", RTLD_NOW);
    if (lib == nullptr) return;
    run_ = reinterpret_cast<char* (*)(const char*)>(dlsym(lib, "standin_command"));
    free_ = reinterpret_cast<void (*)(char*)>(dlsym(lib, "standin_free"));
  }
  bool ok() const { return run_ != nullptr && free_ != nullptr; }

  json command(const json& cmd) const {
    char* text = run_(cmd.dump().c_str());
    json reply = json::parse(text, nullptr, false);
    free_(text);
    return reply;
  }

 private:
  char* (*run_)(const char*) = nullptr;
  void (*free_)(char*) = nullptr;
};

bool refusedWith(const json& reply, const std::string& error) {
  return reply.is_object() && reply.value("ok", true) == false && reply.value("error", "") == error;
}

bool accepted(const json& reply) {
  return reply.is_object() && reply.value("ok", false);
}

// One command over the control socket at `path`; its reply line, or nothing.
std::string overTheSocket(const std::string& path, const json& cmd) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  path.copy(addr.sun_path, sizeof addr.sun_path - 1);
  std::string reply;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    // A refused connection may be closed before the command is sent; its
    // refusal is there to read all the same.
    const std::string line = cmd.dump() + "\n";
    (void)::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n') reply += c;
  }
  ::close(fd);
  return reply;
}

// A command that waits for callbacks while the event thread cannot be
// started is refused after its tries; the next one, once a thread can be
// had, starts it.
TEST(StandinThreads, TheEventThreadIsStartedByALaterCallWhenTheFirstGetsNone) {
  SKIP_UNLESS_THREADS_CAN_BE_LIMITED();
  EXPECT_EXIT(std::_Exit(testing_support::runWithThreadLimit(
                  kEventThreadUser, kThreadLimit,
                  [] {
                    ::alarm(kGuardSeconds);
                    LoadedStandin standin;
                    if (!standin.ok()) return 2;
                    testing_support::ThreadSlots all;
                    all.takeAll();
                    const json first = standin.command({{"cmd", "sync"}});
                    if (!refusedWith(first, "event thread: " + kRefused)) return 3;
                    all.letGo();
                    return accepted(standin.command({{"cmd", "sync"}})) ? 0 : 4;
                  })),
              testing::ExitedWithCode(0), testing::IsEmpty());
}

// The socket that cannot start its accepting thread is not left listening
// with nobody to answer; a connection that gets no thread is refused.
TEST(StandinThreads, TheControlSocketRefusesWhatItHasNoThreadFor) {
  SKIP_UNLESS_THREADS_CAN_BE_LIMITED();
  testing_support::TempDir dir;
  ASSERT_EQ(::chown(dir.path().c_str(), kControlSocketUser, kControlSocketUser), 0);
  const std::string path = dir.path() + "/control.sock";
  EXPECT_EXIT(std::_Exit(testing_support::runWithThreadLimit(
                  kControlSocketUser, kThreadLimit,
                  [&] {
                    ::alarm(kGuardSeconds);
                    LoadedStandin standin;
                    if (!standin.ok()) return 2;
                    const json listen = {{"cmd", "listen"}, {"path", path}};
                    {
                      testing_support::ThreadSlots all;
                      all.takeAll();
                      if (!refusedWith(standin.command(listen),
                                       "control socket " + path + ": " + kRefused)) {
                        return 3;
                      }
                    }
                    if (!accepted(standin.command(listen))) return 4;
                    const json state = {{"cmd", "state"}};
                    {
                      testing_support::ThreadSlots all;
                      all.takeAll();
                      const json refused = json::parse(overTheSocket(path, state), nullptr, false);
                      if (!refusedWith(refused, "control socket: " + kRefused)) return 5;
                    }
                    return accepted(json::parse(overTheSocket(path, state), nullptr, false)) ? 0
                                                                                             : 6;
                  })),
              testing::ExitedWithCode(0), testing::IsEmpty());
}

}  // namespace
