// The claim to start the one instance of a user and channel. Launches that
// start at the same moment (a double click, a login item and a click) all
// find nobody to hand off to; without the claim each would load the core and
// build its shell, only to find the name taken by the first and hand off to
// it then. The claim spares them that and orders the take-overs of an
// instance that hangs; one instance at the name does not rest on it.
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
                                              handOffResult& asked,
                                              std::chrono::milliseconds wait) {
  if (claimLock.held()) return claimOutcome::claimed;
  const auto until = steady_clock::now() + wait;
  for (;;) {
    auto taken = platform::tryLockFile(claimPath());
    if (!taken) return taken.error();
    // Whoever held the claim before listens by now, or whoever took a
    // silent listener's name over; while the claim is taken, whoever
    // listens first may also be a launch that started without it.
    if (offerToNewcomer(args, asked)) return claimOutcome::handedOff;
    if (taken->held()) {
      claimLock = std::move(*taken);
      return claimOutcome::claimed;
    }
    if (steady_clock::now() >= until) return claimOutcome::unclaimed;
    std::this_thread::sleep_for(kClaimPoll);
  }
}

bool instance::offerToNewcomer(const std::vector<std::string>& args, handOffResult& asked) const {
  // A listener that hung, still at the name this launch asked, would only
  // keep it another deadline.
  const auto there = platform::entryAt(path);
  if (!there || there == asked.socket) return false;
  asked = handOff(args);
  return static_cast<bool>(asked);
}

}  // namespace shell
