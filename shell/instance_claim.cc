// The claim to start the one instance of a user and channel. Launches that
// start at the same moment (a double click, a login item and a click) all
// find nobody to hand off to; without the claim each would start and take
// the socket name from the one before, leaving several instances of which
// only the last can be reached.
//
// The claim covers only the span from "nobody answered" to "listening": a
// running instance holds none, so a launch is never kept waiting by one
// that nobody can reach (its socket file removed, or taken over while it
// was stopped).
#include <chrono>
#include <thread>

#include "shell/instance.h"

namespace shell {
namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

// How often a waiting launch looks again. The holder is loading the core
// and building the shell; a try at the lock costs an open and a close.
constexpr auto kClaimPoll = 10ms;

}  // namespace

support::Result<claimOutcome> instance::claim(const std::vector<std::string>& args,
                                              const handOffResult& asked,
                                              std::chrono::milliseconds wait) {
  if (claimLock.held()) return claimOutcome::claimed;
  const auto until = steady_clock::now() + wait;
  for (;;) {
    auto taken = platform::tryLockFile(claimPath());
    if (!taken) return taken.error();
    if (taken->held()) {
      // Whoever held the claim before listens by now, or whoever took a
      // silent listener's name over. A listener that hung, still at the
      // name this launch asked, would only keep it another deadline.
      const bool askAgain =
          asked.outcome != handOffResult::noAnswer || platform::entryAt(path) != asked.socket;
      if (askAgain && handOff(args)) return claimOutcome::handedOff;
      claimLock = std::move(*taken);
      return claimOutcome::claimed;
    }
    if (steady_clock::now() >= until) return claimOutcome::unclaimed;
    std::this_thread::sleep_for(kClaimPoll);
  }
}

}  // namespace shell
