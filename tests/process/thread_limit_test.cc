// The application where the system gives it only a handful of threads (a
// user's process limit): it either does its work, each request once, or it
// says "cannot start a thread" and ends with status 1; it never hangs
// silently and never aborts.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/process/app_process.h"
#include "tests/process/app_session.h"
#include "tests/thread_limit.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::AppProcess;
using testing_support::AppSession;
using testing_support::Exit;

// Each run's own user: the limit counts all of a user's threads at once.
constexpr uid_t kFirstHandfulUser = testing_support::kThreadLimitedUsers + 30;
constexpr uid_t kBurstUser = testing_support::kThreadLimitedUsers + 40;
constexpr rlim_t kBurstLimit = 16;
// Far beyond the few seconds a task may wait for a thread.
constexpr auto kGuard = 60s;

const std::string kLine =
    std::string("brovik-work: cannot start a thread: ") + std::strerror(EAGAIN) + "\n";

// Too few threads for the start: the listener's accept loop may get one,
// the start sequence then none.
TEST(ThreadLimit, WithAHandfulOfThreadsTheApplicationSaysSoAndEnds) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to play another user";
  const rlim_t limits[] = {1, 2, 3};
  std::vector<std::unique_ptr<AppProcess>> apps;
  for (size_t i = 0; i < std::size(limits); ++i) {
    auto app = std::make_unique<AppProcess>(testing_support::builtExecutable());
    // The stand-in's control socket would take a thread of its own.
    app->env()["NIMBREL_STANDIN_CONTROL"] = std::nullopt;
    app->runAsUser(kFirstHandfulUser + static_cast<uid_t>(i), limits[i]);
    app->start();
    apps.push_back(std::move(app));
  }
  for (size_t i = 0; i < apps.size(); ++i) {
    SCOPED_TRACE("at most " + std::to_string(limits[i]) + " threads");
    const Exit exit = apps[i]->wait();
    EXPECT_EQ(exit.status, 1) << "signal " << exit.signal;
    EXPECT_EQ(exit.err, kLine);
  }
}

// The replies to ids from `first` to before `end` that the page has received
// so far, by id; nothing while the stand-in has no thread to answer with.
std::optional<std::map<int64_t, int>> repliesSoFar(AppSession& app, int64_t first, int64_t end) {
  try {
    std::map<int64_t, int> replies;
    for (const testing_support::Received& r : app.received()) {
      const int64_t id = r.value.value("id", int64_t{0});
      if (r.value.contains("ok") && id >= first && id < end) ++replies[id];
    }
    return replies;
  } catch (const testing_support::HarnessError&) {
    return std::nullopt;
  }
}

// A burst of requests grows the pool to the limit, and its end arms the
// memory release's first timer, whose thread the system refuses.
TEST(ThreadLimit, ABurstUnderATightLimitRunsEveryRequestOnceOrEndsWithTheLine) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to play another user";
  constexpr int64_t kFirst = 1000;
  constexpr int64_t kRequests = 3000;
  AppSession app;
  // About eight threads more than the started application has.
  app.process().runAsUser(kBurstUser, kBurstLimit);
  ASSERT_TRUE(app.start());
  app.command({{"cmd", "clear-scripts"}, {"webview", app.webview()}});

  std::string message = app.request(0, "notification_permission");
  message.replace(message.find("\"id\":0"), 6, "\"id\":${n}");
  try {
    app.command({{"cmd", "post-many"},
                 {"webview", app.webview()},
                 {"message", message},
                 {"from", kFirst},
                 {"count", kRequests},
                 {"via", "host-bridge"}});
  } catch (const testing_support::HarnessError& e) {
    // The process may end while the stand-in posts; what it said is below.
    ASSERT_TRUE(app.process().ended()) << e.what();
  }

  std::map<int64_t, int> replies;
  const auto until = std::chrono::steady_clock::now() + kGuard;
  while (!app.process().ended() && std::chrono::steady_clock::now() < until) {
    if (auto now = repliesSoFar(app, kFirst, kFirst + kRequests);
        now && now->size() >= static_cast<size_t>(kRequests)) {
      replies = *now;
      break;
    }
    std::this_thread::sleep_for(50ms);
  }
  if (app.process().ended()) {
    const Exit exit = app.wait();
    EXPECT_EQ(exit.status, 1) << "signal " << exit.signal;
    EXPECT_EQ(exit.err, kLine);
    return;
  }
  ASSERT_EQ(replies.size(), static_cast<size_t>(kRequests)) << "the burst was not answered";
  for (int64_t id = kFirst; id < kFirst + kRequests; ++id) {
    ASSERT_EQ(replies[id], 1) << "request " << id;
  }
}

}  // namespace
