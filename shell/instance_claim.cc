// The claim to start the one instance of a user and channel. Launches that
// start at the same moment (a double click, a login item and a click) all
// find nobody to hand off to; without the claim each would start and take
// the socket name from the one before, leaving several instances of which
// only the last can be reached.
#include <chrono>
#include <thread>

#include "shell/instance.h"

namespace shell {
namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

// How often a waiting launch looks again. The holder is loading the core
// and building the shell; a try against a name nobody listens on costs one
// refused connect.
constexpr auto kClaimPoll = 10ms;

}  // namespace

claimOutcome instance::claim(const std::vector<std::string>& args, std::chrono::milliseconds wait) {
  if (claimLock.held()) return claimOutcome::claimed;
  const auto until = steady_clock::now() + wait;
  for (;;) {
    auto taken = platform::tryLockFile(claimPath());
    // Without a usable lock file (another user's, say) launches start as
    // they did before there was one; the socket still brings later ones in.
    if (!taken) return claimOutcome::unclaimed;
    if (taken->held()) {
      claimLock = std::move(*taken);
      return claimOutcome::claimed;
    }
    if (handOff(args)) return claimOutcome::handedOff;
    if (steady_clock::now() >= until) return claimOutcome::unclaimed;
    std::this_thread::sleep_for(kClaimPoll);
  }
}

}  // namespace shell
