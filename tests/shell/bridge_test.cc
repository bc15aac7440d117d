// The host bridge: the preload's configuration, what counts as a request,
// which requests are heard, and how replies and events reach the page.
#include "shell/bridge.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/shell/shell_fixture.h"

namespace {

using nlohmann::json;
using testing_support::kTestOrigin;
using testing_support::kTestToken;

const std::string kLiteral = shell::preloadConfigLiteral(kTestOrigin, kTestToken);

TEST(PreloadConfig, IsTheConfigurationAsAStringLiteral) {
  EXPECT_EQ(kLiteral,
            "\"{\\\"origin\\\":\\\"http://127.0.0.1:5180\\\",\\\"platform\\\":\\\"macos\\\","
            "\\\"screenSource\\\":\\\"\\\",\\\"token\\\":\\\"" +
                std::string(kTestToken) + "\\\"}\"");
  // Read back as JavaScript would: one string, holding the JSON object.
  json once = json::parse(kLiteral);
  ASSERT_TRUE(once.is_string());
  EXPECT_EQ(json::parse(once.get<std::string>()), json({{"origin", kTestOrigin},
                                                        {"platform", "macos"},
                                                        {"screenSource", ""},
                                                        {"token", kTestToken}}));
}

TEST(PreloadConfig, ReplacesBothQuotedFormsInOnePass) {
  struct Case {
    std::string script;
    std::optional<std::string> want;
  };
  const std::string L = "<L>";
  const std::vector<Case> cases = {
      {R"(a("__BK_DESKTOP_CONFIG__"))", R"(a()" + L + ")"},
      {R"(a('__BK_DESKTOP_CONFIG__'))", R"(a()" + L + ")"},
      {R"(x="__BK_DESKTOP_CONFIG__";y='__BK_DESKTOP_CONFIG__')", "x=" + L + ";y=" + L},
      {R"(x=__BK_DESKTOP_CONFIG__)", std::nullopt},
      {R"(x="__BK_DESKTOP_CONFIG__')", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(shell::injectPreloadConfig(c.script, L), c.want) << c.script;
  }
  // What is put in is not scanned again.
  EXPECT_EQ(shell::injectPreloadConfig(R"("__BK_DESKTOP_CONFIG__")", R"("__BK_DESKTOP_CONFIG__")"),
            R"("__BK_DESKTOP_CONFIG__")");
}

TEST(Requests, DecodeByTheCodecsRules) {
  struct Case {
    std::string text;
    bool ok;
    std::string token = "";
    int64_t id = 0;
    std::string cmd = "";
    std::string args = "";
  };
  const std::vector<Case> cases = {
      {R"({"bk":"t","id":7,"cmd":"zoom","args":{"step":"in"}})", true, "t", 7, "zoom",
       R"({"step":"in"})"},
      {R"({"cmd":"x"})", true, "", 0, "x", ""},
      {R"({"bk":null,"id":null,"cmd":"x","args":null})", true, "", 0, "x", "null"},
      {R"({"BK":"t","ID":3,"Cmd":"c"})", true, "t", 3, "c", ""},
      {R"({"bk":"t","id":"7"})", false},
      {R"({"bk":"t","id":1.5})", false},
      {R"({"bk":5})", false},
      {R"({"bk":"t"} {})", false},
      {R"([1,2])", false},
      {R"({"bk":"t")", false},
      {"", false},
  };
  for (const Case& c : cases) {
    std::optional<shell::request> r = shell::decodeRequest(c.text);
    ASSERT_EQ(r.has_value(), c.ok) << c.text;
    if (!r) continue;
    EXPECT_EQ(r->Token, c.token) << c.text;
    EXPECT_EQ(r->ID, c.id) << c.text;
    EXPECT_EQ(r->Cmd, c.cmd) << c.text;
    EXPECT_EQ(r->Args.text, c.args) << c.text;
  }
}

TEST(DeliveredIds, AreTrimmedToTheNewestOnceThereAreMany) {
  shell::appWindow w(true, kTestOrigin, true);
  for (int64_t id = 1; id <= 512; ++id) ASSERT_TRUE(w.firstDelivery(id));
  EXPECT_FALSE(w.firstDelivery(512));
  EXPECT_FALSE(w.firstDelivery(1));
  // 513 forgets 1 to 257 and keeps 258 to 513.
  EXPECT_TRUE(w.firstDelivery(513));
  EXPECT_FALSE(w.firstDelivery(258));
  EXPECT_TRUE(w.firstDelivery(257));
  EXPECT_TRUE(w.firstDelivery(1));
}

TEST(DeliveredIds, ANewIdFarBelowTrimsNothing) {
  shell::appWindow w(true, kTestOrigin, true);
  for (int64_t id = 1000; id <= 1511; ++id) ASSERT_TRUE(w.firstDelivery(id));
  EXPECT_TRUE(w.firstDelivery(1));
  for (int64_t id = 1000; id <= 1511; ++id) EXPECT_FALSE(w.firstDelivery(id)) << id;
}

TEST(DeliveredIds, NearTheBottomOfTheRangeNothingWrapsRound) {
  // id - 256 would wrap to the top of the range and forget every id.
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  shell::appWindow w(true, kTestOrigin, true);
  for (int64_t id = 1; id <= 512; ++id) ASSERT_TRUE(w.firstDelivery(id));
  EXPECT_TRUE(w.firstDelivery(kMin + 5));
  EXPECT_FALSE(w.firstDelivery(100));
  EXPECT_FALSE(w.firstDelivery(512));
}

TEST(DeliveredIds, ANavigationForgetsThem) {
  shell::appWindow w(true, kTestOrigin, true);
  EXPECT_TRUE(w.firstDelivery(0));
  EXPECT_FALSE(w.firstDelivery(0));
  w.navigated();
  EXPECT_TRUE(w.firstDelivery(0));
}

// The same requests by both roads, the second road running `lag` requests
// behind the first: each runs once, however far behind it is.
TEST(DeliveredIds, EveryRequestByBothRoadsRunsOnceHoweverLate) {
  for (int64_t lag : {int64_t{0}, int64_t{255}, int64_t{300}, int64_t{1000}, int64_t{20000}}) {
    SCOPED_TRACE(lag);
    shell::deliveredIds ids;
    constexpr int64_t kRequests = 20000;
    int64_t runs = 0;
    for (int64_t n = 1; n <= kRequests + lag; ++n) {
      if (n <= kRequests) runs += ids.first(n, shell::route::hostBridge, true);
      if (n > lag) runs += ids.first(n - lag, shell::route::queue, true);
    }
    EXPECT_EQ(runs, kRequests);
    // Once both copies are in, only the newest few hundred are kept.
    EXPECT_LE(ids.held(), 512u);
  }
}

TEST(DeliveredIds, AnIdUsedTwiceOnOnePageRunsOnceByEitherRoad) {
  shell::deliveredIds ids;
  EXPECT_TRUE(ids.first(0, shell::route::hostBridge, true));
  EXPECT_FALSE(ids.first(0, shell::route::hostBridge, true));  // a second request, id 0 again
  EXPECT_FALSE(ids.first(0, shell::route::queue, true));       // the first's copy
  EXPECT_FALSE(ids.first(0, shell::route::queue, true));       // the second's copy
}

// ---- What is held for copies, in time ----------------------------------------------

using shell::route;
using Clock = shell::deliveryClock;
using namespace std::chrono_literals;

// One page's posts as they reach the window: id, road and when.
struct Arrival {
  int64_t id;
  route by;
  Clock::duration at;
};

// How many of `arrivals` the window ran.
int64_t runsOf(shell::appWindow& w, Clock::time_point t0, const std::vector<Arrival>& arrivals) {
  int64_t runs = 0;
  for (const Arrival& a : arrivals) runs += w.firstDelivery(a.id, a.by, t0 + a.at);
  return runs;
}

// Requests `from` to `to`, one every `every` from `start`, by `by`.
std::vector<Arrival> paced(int64_t from, int64_t to, route by, Clock::duration start,
                           Clock::duration every) {
  std::vector<Arrival> out;
  for (int64_t id = from; id <= to; ++id) out.push_back({id, by, start + (id - from) * every});
  return out;
}

std::vector<Arrival> operator+(std::vector<Arrival> a, const std::vector<Arrival>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(DeliveredIds, ACopyByALateSecondRoadIsKnown) {
  // The queue brings its first copies six seconds after the callback brought
  // the first requests.
  shell::appWindow w(true, kTestOrigin, true);
  const Clock::time_point t0 = Clock::now();
  const auto first = paced(1, 1000, route::hostBridge, 0s, 6ms);
  const auto copies = paced(1, 1000, route::queue, 6s, 100us);
  EXPECT_EQ(runsOf(w, t0, first + copies), 1000);
}

// Both roads, then the queue loses part of a burst: what was held for the
// lost copies goes once their wait is over.
TEST(DeliveredIds, CopiesThatNeverComeAreWaitedForTheirTimeOnly) {
  shell::appWindow w(true, kTestOrigin, true);
  const Clock::time_point t0 = Clock::now();
  const auto both =
      paced(1, 1000, route::hostBridge, 0s, 1ms) + paced(1, 1000, route::queue, 0s, 1ms);
  const auto lost = paced(1001, 3000, route::hostBridge, 1s, 1ms);
  EXPECT_EQ(runsOf(w, t0, both + lost), 3000);
  // A copy that comes late, but within its wait, is still known.
  EXPECT_FALSE(w.firstDelivery(1500, route::queue, t0 + 5s));
  EXPECT_FALSE(w.firstDelivery(2999, route::queue, t0 + 5s));
  // The requests after the wait let go of them, a few hundred at each,
  // until only the newest few hundred are held.
  for (int64_t id = 3001; id <= 3010; ++id) {
    EXPECT_TRUE(w.firstDelivery(id, route::hostBridge, t0 + 3s + shell::kCopyWait));
  }
  EXPECT_LE(w.deliveredIdsHeld(), 513u + 10u);
}

// A burst whose copies never come, on a page that then goes quiet: what
// waited for them goes once the wait is over, with no request to let go of it.
TEST(DeliveredIds, WhatWaitedGoesOnAQuietPageToo) {
  support::TimerTestClock clock;
  auto w = std::make_shared<shell::appWindow>(true, kTestOrigin, true);
  for (int64_t id = 1; id <= 5000; ++id) ASSERT_TRUE(w->firstDelivery(id, route::hostBridge));
  ASSERT_GE(w->deliveredIdsHeld(), 5000u);
  clock.advance(std::chrono::duration_cast<std::chrono::milliseconds>(shell::kCopyWait) / 2);
  EXPECT_GE(w->deliveredIdsHeld(), 5000u) << "still within the wait";
  clock.advance(std::chrono::duration_cast<std::chrono::milliseconds>(shell::kCopyWait));
  EXPECT_LE(w->deliveredIdsHeld(), 512u);
}

// A core that moves from both roads to one: once the old road has been
// silent for a copy's wait, nothing more is held for it, however many
// requests come.
TEST(DeliveredIds, AfterASwitchOfRoadsNothingIsHeldForTheSilentOne) {
  shell::appWindow w(true, kTestOrigin, true);
  const Clock::time_point t0 = Clock::now();
  const auto both =
      paced(1, 100, route::hostBridge, 0s, 1ms) + paced(1, 100, route::queue, 0s, 1ms);
  const auto queueOnly = paced(101, 100'000, route::queue, 1s, 200us);  // 20 s of them
  EXPECT_EQ(runsOf(w, t0, both + queueOnly), 100'000);
  EXPECT_LE(w.deliveredIdsHeld(), 512u);
  // A request of a road that has come back is awaited again.
  EXPECT_TRUE(w.firstDelivery(100'001, route::hostBridge, t0 + 30s));
  EXPECT_TRUE(w.firstDelivery(100'002, route::queue, t0 + 30s));
  EXPECT_FALSE(w.firstDelivery(100'002, route::hostBridge, t0 + 30s));
}

// Both roads in use, then a quiet page, then requests by the callback whose
// copies the queue brings `lag` later: the pause changes nothing, and each
// runs once.
TEST(DeliveredIds, AQuietPageKeepsBothRoadsInUse) {
  struct Case {
    const char* name;
    Clock::duration quiet;
    int64_t requests;
    Clock::duration every;
    Clock::duration lag;
    bool lastCopyLost;  // the queue lost the copy of the last request before the pause
  };
  const std::vector<Case> cases = {
      {"1,000 paced over a second after 11 s", 11s, 1000, 1ms, 600ms, false},
      {"5,000 whose copies lag 5 s, after 6 s", 6s, 5000, 1ms, 5s, false},
      {"a burst of 100,000 after 11 s", 11s, 100'000, 0s, 1s, false},
      {"1,000 after 11 s, the copy before the pause lost", 11s, 1000, 1ms, 600ms, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    shell::appWindow w(true, kTestOrigin, true);
    const Clock::time_point t0 = Clock::now();
    std::vector<Arrival> arrivals = paced(1, 100, route::hostBridge, 0s, 1ms) +
                                    paced(1, c.lastCopyLost ? 99 : 100, route::queue, 1ms, 1ms);
    const Clock::duration resumed = 100ms + c.quiet;
    arrivals = arrivals + paced(101, 100 + c.requests, route::hostBridge, resumed, c.every) +
               paced(101, 100 + c.requests, route::queue, resumed + c.lag, c.every);
    std::stable_sort(arrivals.begin(), arrivals.end(),
                     [](const Arrival& a, const Arrival& b) { return a.at < b.at; });
    EXPECT_EQ(runsOf(w, t0, arrivals), 100 + c.requests);
    EXPECT_LE(w.deliveredIdsHeld(), 513u);
  }
}

// A one-road core: the other road is given its wait after the web view's
// first message, then nothing is held for it.
TEST(DeliveredIds, OneRoadHoldsNothingPastTheFirstWait) {
  shell::appWindow w(true, kTestOrigin, true);
  const Clock::time_point t0 = Clock::now();
  EXPECT_EQ(runsOf(w, t0, paced(1, 30'000, route::hostBridge, 0s, 1ms)), 30'000);
  EXPECT_LE(w.deliveredIdsHeld(), 512u);
}

// Each web view's roads are its own: one whose core uses a single road
// holds nothing for the other because another view gets both.
TEST(DeliveredIds, EachWebviewsRoadsAreItsOwn) {
  shell::appWindow both(true, kTestOrigin, true);
  shell::appWindow single(false, kTestOrigin, true);
  const Clock::time_point t0 = Clock::now();
  std::vector<Arrival> toBoth;
  std::vector<Arrival> toSingle;
  for (int64_t id = 1; id <= 20'000; ++id) {
    const Clock::duration at = (id - 1) * 1ms;
    toBoth.push_back({id, route::hostBridge, at});
    toBoth.push_back({id, route::queue, at});
    toSingle.push_back({id, route::queue, at});
  }
  EXPECT_EQ(runsOf(both, t0, toBoth), 20'000);
  EXPECT_EQ(runsOf(single, t0, toSingle), 20'000);
  EXPECT_LE(single.deliveredIdsHeld(), 512u);
}

// With ids 1 to 512 in by both roads and 513 by one, the trimming forgets 1
// to 257 as it does on one road, and id 1 runs again, once.
TEST(DeliveredIds, TheTrimmedIdsRunAgainWithMixedRoads) {
  shell::appWindow w(true, kTestOrigin, true);
  const Clock::time_point t0 = Clock::now();
  const auto both = paced(1, 512, route::hostBridge, 0s, 0s) + paced(1, 512, route::queue, 0s, 0s);
  ASSERT_EQ(runsOf(w, t0, both), 512);
  EXPECT_TRUE(w.firstDelivery(513, route::hostBridge, t0));
  EXPECT_FALSE(w.firstDelivery(258, route::queue, t0));
  EXPECT_TRUE(w.firstDelivery(1, route::queue, t0));
  EXPECT_FALSE(w.firstDelivery(1, route::hostBridge, t0));
  EXPECT_FALSE(w.firstDelivery(1, route::queue, t0));
}

// However many requests lack their copies at once, what waits for them is
// bounded; the oldest go first.
TEST(DeliveredIds, WhatWaitsForCopiesIsBoundedInNumber) {
  shell::deliveredIds ids;
  const Clock::time_point t0 = Clock::now();
  const int64_t kMany = static_cast<int64_t>(shell::deliveredIds::kMaxAwaited) + 1000;
  for (int64_t id = 1; id <= kMany; ++id) ASSERT_TRUE(ids.first(id, route::hostBridge, true, t0));
  EXPECT_LE(ids.held(), shell::deliveredIds::kMaxAwaited + 512);
  EXPECT_TRUE(ids.first(1, route::queue, true, t0)) << "the oldest went";
  EXPECT_FALSE(ids.first(kMany, route::queue, true, t0));
}

// Ids that fall instead of rising escape the trimming rule; they are held
// to a bound all the same.
TEST(DeliveredIds, FallingIdsAreBoundedToo) {
  shell::deliveredIds ids;
  const Clock::time_point t0 = Clock::now();
  for (int64_t id = 200'000; id > 0; --id) ASSERT_TRUE(ids.first(id, route::queue, false, t0));
  EXPECT_LE(ids.held(), shell::deliveredIds::kMaxAccepted);
}

// Beyond the bound on ids that do not rise, those that came first go: the
// newest are still known.
TEST(DeliveredIds, BeyondTheBoundTheOldestIdsGoFirst) {
  shell::deliveredIds ids;
  const Clock::time_point t0 = Clock::now();
  constexpr int64_t kFalling = 70'000;
  for (int64_t id = kFalling; id > 0; --id) ASSERT_TRUE(ids.first(id, route::queue, false, t0));
  EXPECT_FALSE(ids.first(2, route::queue, false, t0));
  EXPECT_FALSE(ids.first(100, route::queue, false, t0));
  EXPECT_TRUE(ids.first(kFalling, route::queue, false, t0)) << "the first to come went";
  EXPECT_LE(ids.held(), shell::deliveredIds::kMaxAccepted);
}

TEST(DeliveryRoutes, ACopyIsAwaitedWhileTheOtherRoadMayBringIt) {
  const Clock::time_point t0 = Clock::now();
  const auto wait = shell::kCopyWait;
  const auto pause = shell::kRoadPause;
  const auto step = pause / 4;  // far closer than a pause
  // New requests by one road, one every `step` from `from` to `to`.
  struct Span {
    route by;
    Clock::duration from;
    Clock::duration to;
  };
  auto at = [](route by, Clock::duration when) { return Span{by, when, when}; };
  struct Case {
    const char* name;
    std::vector<Span> arrivals;
    route asked;
    Clock::duration when;
    bool awaited;
  };
  const std::vector<Case> cases = {
      {"nothing came yet", {}, route::queue, wait * 10, true},
      {"one road, within the first wait",
       {at(route::hostBridge, {})},
       route::hostBridge,
       wait / 2,
       true},
      {"one road, past the first wait",
       {at(route::hostBridge, {})},
       route::hostBridge,
       wait,
       false},
      {"a later message by the same road does not restart the first wait",
       {at(route::queue, {}), at(route::queue, wait)},
       route::queue,
       wait + wait / 2,
       false},
      {"both roads, the other just now",
       {at(route::queue, {}), at(route::hostBridge, wait * 3)},
       route::queue,
       wait * 3 + wait / 2,
       true},
      {"both roads, then a page quiet for the wait",
       {at(route::queue, {}), at(route::hostBridge, wait * 3)},
       route::queue,
       wait * 4,
       true},
      {"both roads, then a page quiet for many waits",
       {at(route::hostBridge, {}), at(route::queue, {}), at(route::hostBridge, step)},
       route::hostBridge,
       wait * 50,
       true},
      {"both roads, then this road alone for less than the wait",
       {at(route::queue, {}), at(route::hostBridge, {}), {route::queue, step, wait / 2}},
       route::queue,
       wait / 2 + step,
       true},
      {"both roads, then this road alone for the wait",
       {at(route::queue, {}), at(route::hostBridge, {}), {route::queue, step, wait}},
       route::queue,
       wait + step,
       false},
      {"this road alone for the wait, but with a pause in it",
       {at(route::queue, {}),
        at(route::hostBridge, {}),
        {route::queue, step, wait / 2},
        {route::queue, wait / 2 + pause * 2, wait + pause * 2}},
       route::queue,
       wait + pause * 2 + step,
       true},
      {"the other road came back",
       {at(route::queue, {}), at(route::hostBridge, {}), at(route::hostBridge, wait * 50)},
       route::queue,
       wait * 50,
       true},
      {"the other road came back after it was taken as unused",
       {at(route::queue, {}),
        at(route::hostBridge, {}),
        {route::queue, step, wait * 2},
        at(route::hostBridge, wait * 2 + step)},
       route::queue,
       wait * 2 + step * 2,
       true},
  };
  for (const Case& c : cases) {
    shell::deliveryRoutes routes;
    for (const Span& span : c.arrivals) {
      for (Clock::duration when = span.from; when <= span.to; when += step) {
        routes.arrived(span.by, true, t0 + when);
      }
    }
    EXPECT_EQ(routes.copyMayFollow(c.asked, t0 + c.when), c.awaited) << c.name;
  }
}

// Requests through the core, on both of its roads, into a real window.
class BridgeTest : public testing_support::ShellTest {
 protected:
  void SetUp() override {
    auto opened = s->openWindow(std::string(kTestOrigin) + "/inbox", true, true);
    ASSERT_TRUE(opened.ok()) << opened.error().message;
    window = *opened;
    makeMain(window);
  }

  static std::string request(int64_t id, const std::string& cmd, const json& args = nullptr,
                             const std::string& token = kTestToken) {
    json r = {{"bk", token}, {"id", id}, {"cmd", cmd}};
    if (!args.is_null()) r["args"] = args;
    return r.dump();
  }

  void post(const std::string& message, const std::string& via) {
    command(
        {{"cmd", "post"}, {"webview", window->view.load()}, {"message", message}, {"via", via}});
  }

  std::vector<json> repliesTo(int64_t id) const {
    std::vector<json> out;
    for (const json& value : received(window)) {
      if (value.contains("id") && value["id"] == id) out.push_back(value);
    }
    return out;
  }

  // Waits for the reply to `id`; the replies of one page come in any order.
  json replyTo(int64_t id) const {
    std::vector<json> replies;
    EXPECT_TRUE(eventually([&] { return !(replies = repliesTo(id)).empty(); }))
        << "no reply to " << id;
    return replies.empty() ? json() : replies.front();
  }

  shell::windowPtr window;
};

TEST_F(BridgeTest, ARequestOnBothRoadsIsAnsweredOnce) {
  // The callback's copy first, then the queued one as the drain would take it.
  post(request(1, "notification_permission"), "both");
  EXPECT_EQ(replyTo(1), json::parse(R"({"id":1,"ok":true,"result":"granted"})"));
  auto queued = s->core->PopNextQueuedHostMessageString();
  ASSERT_TRUE(queued.has_value());
  ASSERT_EQ(s->windowForView(queued->WebviewID), window);
  s->onHostMessage(window, queued->Message);

  // The queued copy first, then the callback's.
  post(request(2, "notification_permission"), "queue");
  queued = s->core->PopNextQueuedHostMessageString();
  ASSERT_TRUE(queued.has_value());
  s->onHostMessage(window, queued->Message);
  replyTo(2);
  s->hostBridge(window->view, queued->Message);

  // A later request's reply shows that neither was answered twice.
  post(request(3, "notification_permission"), "host-bridge");
  replyTo(3);
  EXPECT_EQ(repliesTo(1).size(), 1u);
  EXPECT_EQ(repliesTo(2).size(), 1u);
}

TEST_F(BridgeTest, UnheardRequestsGetNoReply) {
  // Acceptance is decided before onHostMessage returns, so a request refused
  // here can have no reply on its way.
  s->onHostMessage(window, request(1, "notification_permission", nullptr, "wrong"));
  s->onHostMessage(window,
                   R"({"bk":")" + std::string(kTestToken) + R"(","id":2,"cmd":"x"} trailing)");
  s->onHostMessage(window, request(3, "notification_permission"));
  replyTo(3);
  s->onHostMessage(window, request(3, "set_title", {{"title", "again"}}));
  window->setURL("https://elsewhere.example/inbox");
  s->onHostMessage(window, request(4, "notification_permission"));
  window->setURL(std::string(kTestOrigin) + "/back");
  s->onHostMessage(window, request(5, "notification_permission"));
  replyTo(5);
  EXPECT_TRUE(repliesTo(1).empty());
  EXPECT_TRUE(repliesTo(2).empty());
  EXPECT_EQ(repliesTo(3).size(), 1u);
  EXPECT_TRUE(repliesTo(4).empty());
  EXPECT_TRUE(callsOf("setWindowTitle").empty());
}

TEST_F(BridgeTest, FailuresAndRepliesAreWrittenSafelyForAScript) {
  post(request(1, "Zoom"), "host-bridge");
  EXPECT_EQ(replyTo(1), json::parse(R"({"error":"unknown command: Zoom","id":1,"ok":false})"));
  post(request(2, "set_badge_count", {{"count", "many"}}), "host-bridge");
  EXPECT_EQ(replyTo(2)["error"], "bad arguments for set_badge_count");

  post(request(3, "zoom</script>", nullptr), "host-bridge");
  replyTo(3);
  json scripts = command({{"cmd", "scripts"}, {"webview", window->view.load()}})["scripts"];
  bool found = false;
  for (const auto& script : scripts) {
    std::string text = script.get<std::string>();
    if (text.find("zoom") == std::string::npos) continue;
    found = true;
    EXPECT_NE(text.find("zoom\\u003c/script\\u003e"), std::string::npos) << text;
    EXPECT_EQ(text.find("</script>"), std::string::npos) << text;
  }
  EXPECT_TRUE(found);
}

TEST_F(BridgeTest, EventsReachOnlyPagesOnTheAppOrigin) {
  s->emit(window, "bk:open", [](support::json::Writer& w) { w.string("/inbox/7"); });
  window->setURL("https://elsewhere.example/");
  s->emit(window, "bk:open", [](support::json::Writer& w) { w.string("/lost"); });
  std::vector<json> events;
  for (const json& value : received(window)) {
    if (value.contains("event") && value["event"] == "bk:open") events.push_back(value);
  }
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], json::parse(R"({"event":"bk:open","payload":"/inbox/7"})"));
}

TEST_F(BridgeTest, AValueJsonCannotHoldIsNotSent) {
  command({{"cmd", "clear-scripts"}, {"webview", window->view.load()}});
  s->send(window, [](support::json::Writer& w) {
    w.beginObject().key("x").number(std::numeric_limits<double>::quiet_NaN()).endObject();
  });
  s->send(window, [](support::json::Writer& w) { w.raw("{not json"); });
  s->send(window, [](support::json::Writer& w) { w.raw(""); });
  // The window's own events may still arrive; only what was sent here counts.
  std::vector<json> values;
  for (const json& value : received(window)) {
    if (!value.is_object() || !value.contains("event")) values.push_back(value);
  }
  ASSERT_EQ(values.size(), 1u);
  EXPECT_TRUE(values[0].is_null());
}

TEST_F(BridgeTest, MessagesForUnknownWebviewsAreDropped) {
  EXPECT_EQ(s->windowForView(window->view), window);
  EXPECT_EQ(s->windowForView(window->view + 1000), nullptr);
  s->hostBridge(window->view + 1000, request(1, "notification_permission"));
  post(request(2, "notification_permission"), "host-bridge");
  replyTo(2);
  EXPECT_TRUE(repliesTo(1).empty());
}

}  // namespace
