// Measures the host bridge of one running application: for each way a page's
// post reaches the shell (the core's queue of host messages, the web view's
// host-bridge callback, both at once), how many requests per second the shell
// answers and how long one request takes from the page's post to its
// evaluated reply, and how many requests it ran, and so answered, more than
// once (a request posted both ways must run once).
//
// The stand-in core makes the posts itself ("post-many") and notes the time
// of each post and of each evaluated script on one monotonic clock, so what
// is measured is the shell, not the control channel.
//
// Each path is run twice: a burst (every request posted at once: the
// throughput; its times are mostly waiting in the backlog) and paced posts at
// a fixed rate (the time one request takes while the shell keeps up). The
// pace is --rate, or by default half the path's burst throughput, a rate the
// process can serve; a paced run that the shell did not keep up with is
// marked "backlog", as its times then measure the backlog too.
//
// The application's resident memory is read before the runs and again after
// each run has settled (--settle seconds later: by default past the quiet
// time after which the pool gives freed memory back), so what a burst leaves
// behind shows, and with it how many of the run's request ids the shell still
// holds for copies (it posts each once more, as a late copy by the other
// road, and counts those not run again). With --trickle, the page goes on
// asking that many times a second, by both roads, while each run settles.
//
//   bridge_bench [--requests N] [--command NAME] [--rate PER_SECOND]
//                [--settle SECONDS] [--trickle PER_SECOND]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/process/app_session.h"

namespace {

using nlohmann::json;
using testing_support::AppSession;
using namespace std::chrono_literals;

struct Options {
  int64_t requests = 100000;
  std::string command = "notification_permission";
  double rate = 0;  // 0: half the path's burst throughput
  double settle = 16;
  double trickle = 0;  // requests per second while a run settles
};

struct Outcome {
  int64_t answered = 0;
  int64_t ranAgain = 0;  // requests answered more than once
  double perSecond = 0;
  double postedPerSecond = 0;
  double medianMicros = 0;
  double p99Micros = 0;
};

// The request id of an evaluated reply, or -1 for anything else (an event).
int64_t replyId(const std::string& script) {
  static const std::string kMark = std::string(testing_support::kReceivePrefix) + "{\"id\":";
  if (script.compare(0, kMark.size(), kMark) != 0) return -1;
  return std::strtoll(script.c_str() + kMark.size(), nullptr, 10);
}

double percentile(std::vector<int64_t>& sorted, double p) {
  if (sorted.empty()) return 0;
  size_t rank = static_cast<size_t>(std::ceil(p * static_cast<double>(sorted.size())));
  return static_cast<double>(sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1]) / 1000.0;
}

// What the kernel says of the process: its resident memory and its threads.
struct Footprint {
  double residentMB = 0;
  int64_t threads = 0;
  int64_t held = -1;  // of the run's request ids; -1 before the runs
};

Footprint footprintOf(pid_t pid) {
  Footprint f;
  std::string status = testing_support::readAll("/proc/" + std::to_string(pid) + "/status");
  auto field = [&](const char* name) -> int64_t {
    size_t at = status.find(std::string("\n") + name + ":");
    return at == std::string::npos ? -1 : std::atoll(status.c_str() + at + std::strlen(name) + 2);
  };
  f.residentMB = static_cast<double>(field("VmRSS")) / 1024.0;  // given in kB
  f.threads = field("Threads");
  return f;
}

class Bench {
 public:
  Bench(AppSession& session, Options options) : s_(session), o_(std::move(options)) {}

  Outcome run(testing_support::Via via, int64_t count, double everyMicros) {
    int64_t first = nextId_;
    nextId_ += count;
    lastFirst_ = first;
    lastCount_ = count;
    s_.command({{"cmd", "clear-scripts"}, {"webview", s_.webview()}});
    s_.command({{"cmd", "stamp-calls"}, {"fn", "evaluateJavaScriptWithNoCompletion"}});
    std::string message = s_.request(0, o_.command);
    // The request's id becomes the post's number.
    message.replace(message.find("\"id\":0"), 6, "\"id\":${n}");
    json posted = s_.command({{"cmd", "post-many"},
                              {"webview", s_.webview()},
                              {"message", message},
                              {"from", first},
                              {"count", count},
                              {"via", testing_support::viaName(via)},
                              {"every", everyMicros}});
    std::vector<int64_t> postedAt = posted["times"].get<std::vector<int64_t>>();

    // Reading stamps makes the process encode them, so they are read once the
    // replies are in, not while the shell is being measured.
    auto lastProgress = std::chrono::steady_clock::now();
    for (int64_t total = 0, before = 0;
         total < count && std::chrono::steady_clock::now() - lastProgress < 10s; before = total) {
      std::this_thread::sleep_for(20ms);
      total = s_.command({{"cmd", "stamps"}, {"since", 1e15}})["total"].get<int64_t>();
      if (total != before) lastProgress = std::chrono::steady_clock::now();
    }
    // A request run a second time answers again, perhaps after the last
    // first answer: every copy still queued is taken and checked first.
    s_.waitUntilQueueTaken();
    s_.roundTrip();
    std::unordered_map<int64_t, int64_t> answeredAt;
    std::unordered_set<int64_t> again;
    Outcome out;
    json stamps = s_.command({{"cmd", "stamps"}, {"since", 0}});
    for (const json& stamp : stamps["stamps"]) {
      int64_t id = replyId(stamp["args"][1].get_ref<const std::string&>());
      if (id < first || id >= first + count) continue;
      if (!answeredAt.try_emplace(id, stamp["t"].get<int64_t>()).second) again.insert(id);
    }
    out.ranAgain = static_cast<int64_t>(again.size());
    s_.command({{"cmd", "stamp-calls"}, {"fn", nullptr}});
    // What the stand-in logged of the run is the harness's memory, not the
    // application's: it goes before the application's memory is read.
    s_.command({{"cmd", "clear-calls"}});
    s_.command({{"cmd", "clear-scripts"}, {"webview", s_.webview()}});

    out.answered = static_cast<int64_t>(answeredAt.size());
    if (answeredAt.empty() || postedAt.empty()) return out;
    std::vector<int64_t> latencies;
    latencies.reserve(answeredAt.size());
    int64_t lastAnswer = 0;
    for (const auto& [id, t] : answeredAt) {
      latencies.push_back(t - postedAt[static_cast<size_t>(id - first)]);
      lastAnswer = std::max(lastAnswer, t);
    }
    std::sort(latencies.begin(), latencies.end());
    double seconds = static_cast<double>(lastAnswer - postedAt.front()) / 1e9;
    out.perSecond = seconds > 0 ? static_cast<double>(out.answered) / seconds : 0;
    double posting = static_cast<double>(postedAt.back() - postedAt.front()) / 1e9;
    out.postedPerSecond = posting > 0 ? static_cast<double>(postedAt.size() - 1) / posting : 0;
    out.medianMicros = percentile(latencies, 0.5);
    out.p99Micros = percentile(latencies, 0.99);
    return out;
  }

  // Lets the last run settle for `seconds`, while the page goes on asking
  // `perSecond` times a second.
  void settle(double seconds, double perSecond) {
    const auto count = static_cast<int64_t>(std::llround(seconds * perSecond));
    if (count <= 0) {
      std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
      return;
    }
    std::string message = s_.request(0, o_.command);
    message.replace(message.find("\"id\":0"), 6, "\"id\":${n}");
    s_.command({{"cmd", "post-many"},
                {"webview", s_.webview()},
                {"message", message},
                {"from", nextId_},
                {"count", count},
                {"via", testing_support::viaName(testing_support::Via::kBoth)},
                {"every", 1e6 / perSecond}});
    nextId_ += count;
    s_.command({{"cmd", "clear-scripts"}, {"webview", s_.webview()}});
  }

  // How many of the last run's requests the shell still knows: every one of
  // them is posted once more, by the road the run did not take (the queue
  // after a run by both), as a late copy would come, and each that it does
  // not run again is held. The copies then count as requests of the next
  // run's warm-up, not of any run measured.
  int64_t heldOfLastRun(testing_support::Via via) {
    using testing_support::Via;
    const Via other = via == Via::kQueue ? Via::kHostBridge : Via::kQueue;
    s_.command({{"cmd", "clear-scripts"}, {"webview", s_.webview()}});
    s_.command({{"cmd", "stamp-calls"}, {"fn", "evaluateJavaScriptWithNoCompletion"}});
    std::string message = s_.request(0, o_.command);
    message.replace(message.find("\"id\":0"), 6, "\"id\":${n}");
    s_.command({{"cmd", "post-many"},
                {"webview", s_.webview()},
                {"message", message},
                {"from", lastFirst_},
                {"count", lastCount_},
                {"via", testing_support::viaName(other)}});
    s_.waitUntilQueueTaken();
    // Replies of copies run again may still be on their way: wait until none
    // has come for a while.
    for (int64_t total = -1, before = -2; total != before;) {
      before = total;
      std::this_thread::sleep_for(500ms);
      total = s_.command({{"cmd", "stamps"}, {"since", 1e15}})["total"].get<int64_t>();
    }
    std::unordered_set<int64_t> ranAgain;
    json stamps = s_.command({{"cmd", "stamps"}, {"since", 0}});
    for (const json& stamp : stamps["stamps"]) {
      int64_t id = replyId(stamp["args"][1].get_ref<const std::string&>());
      if (id >= lastFirst_ && id < lastFirst_ + lastCount_) ranAgain.insert(id);
    }
    s_.command({{"cmd", "stamp-calls"}, {"fn", nullptr}});
    s_.command({{"cmd", "clear-calls"}});
    s_.command({{"cmd", "clear-scripts"}, {"webview", s_.webview()}});
    return lastCount_ - static_cast<int64_t>(ranAgain.size());
  }

 private:
  AppSession& s_;
  Options o_;
  int64_t nextId_ = 1;
  int64_t lastFirst_ = 0;
  int64_t lastCount_ = 0;
};

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string flag = argv[i];
    if (flag == "--requests") {
      o.requests = std::atoll(argv[i + 1]);
    } else if (flag == "--command") {
      o.command = argv[i + 1];
    } else if (flag == "--rate") {
      o.rate = std::atof(argv[i + 1]);
    } else if (flag == "--settle") {
      o.settle = std::atof(argv[i + 1]);
    } else if (flag == "--trickle") {
      o.trickle = std::atof(argv[i + 1]);
    } else {
      std::fprintf(stderr, "bridge_bench: unknown option %s\n", flag.c_str());
      std::exit(2);
    }
  }
  if (o.requests <= 0 || o.rate < 0 || o.settle < 0 || o.trickle < 0) {
    std::fprintf(stderr,
                 "bridge_bench: --requests must be positive, --rate, --settle and --trickle not "
                 "negative\n");
    std::exit(2);
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = parse(argc, argv);
  AppSession session;
  try {
    if (!session.start()) {
      std::fprintf(stderr, "bridge_bench: the application did not open its main window\n");
      return 1;
    }
    const pid_t app = session.process().pid();
    std::vector<std::pair<std::string, Footprint>> footprints{
        {"before the runs", footprintOf(app)}};
    Bench bench(session, options);
    bench.run(testing_support::Via::kBoth, 2000, 0);  // warm-up, not reported

    std::printf("%d requests of \"%s\" per run; paced runs post ",
                static_cast<int>(options.requests), options.command.c_str());
    if (options.rate > 0) {
      std::printf("%.0f requests per second\n", options.rate);
    } else {
      std::printf("at half the burst's rate\n");
    }
    std::printf("%-12s %-7s %9s %9s %12s %12s %12s %12s\n", "path", "posts", "answered",
                "ran again", "posted/s", "requests/s", "median us", "p99 us");
    for (auto via : {testing_support::Via::kQueue, testing_support::Via::kHostBridge,
                     testing_support::Via::kBoth}) {
      double burstRate = 0;
      for (bool paced : {false, true}) {
        double rate = options.rate > 0 ? options.rate : burstRate / 2;
        if (paced && rate <= 0) continue;
        Outcome o = bench.run(via, options.requests, paced ? 1e6 / rate : 0);
        if (!paced) burstRate = o.perSecond;
        // Paced posts that the shell answered more slowly than they came.
        bool backlog = paced && (o.answered < options.requests || o.perSecond < 0.97 * rate);
        std::printf("%-12s %-7s %9lld %9lld %12.0f %12.0f %12.1f %12.1f%s\n",
                    testing_support::viaName(via), paced ? "paced" : "burst",
                    static_cast<long long>(o.answered), static_cast<long long>(o.ranAgain),
                    o.postedPerSecond, o.perSecond, o.medianMicros, o.p99Micros,
                    backlog ? "  backlog" : "");
        std::fflush(stdout);
        bench.settle(options.settle, options.trickle);
        Footprint settled = footprintOf(app);
        settled.held = bench.heldOfLastRun(via);
        footprints.emplace_back(
            std::string(testing_support::viaName(via)) + (paced ? " paced" : " burst"), settled);
      }
    }
    std::printf(
        "\nthe application %.0f s after each run: resident memory, threads, and how many of "
        "the run's request ids it still holds",
        options.settle);
    if (options.trickle > 0) {
      std::printf(" (a page asking %.0f times a second meanwhile)", options.trickle);
    }
    std::printf("\n");
    std::printf("%-20s %12s %9s %9s\n", "when", "resident MB", "threads", "ids held");
    for (const auto& [when, f] : footprints) {
      std::printf("%-20s %12.1f %9lld %9s\n", when.c_str(), f.residentMB,
                  static_cast<long long>(f.threads),
                  f.held < 0 ? "" : std::to_string(f.held).c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bridge_bench: %s\n%s", e.what(), session.process().errSoFar().c_str());
    return 1;
  }
  session.requestQuit();
  testing_support::Exit exit = session.wait();
  if (exit.status != 0)
    std::fprintf(stderr, "bridge_bench: the application ended with %d\n%s", exit.status,
                 exit.err.c_str());
  return exit.status == 0 ? 0 : 1;
}
