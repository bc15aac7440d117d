// The host bridge seen from the page: the configuration its preload carries,
// requests on either delivery path and their replies, and the requests the
// shell drops without a word.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/file.h"
#include "tests/process/app_session.h"

namespace {

using nlohmann::json;
using testing_support::AppSession;
using testing_support::Received;
using testing_support::Via;

const char* const kOrigin = "http://127.0.0.1:5180";

class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(app.start()); }

  // The one reply to `id`, checked after every queued message has been taken:
  // a second one would be a fault.
  std::vector<Received> settledRepliesTo(int64_t id) {
    app.roundTrip();
    return app.repliesTo(id);
  }

  AppSession app;
};

bool isLowerHex(const std::string& s) {
  for (char c : s) {
    if (!std::isxdigit(static_cast<unsigned char>(c)) ||
        std::isupper(static_cast<unsigned char>(c)))
      return false;
  }
  return true;
}

TEST_F(BridgeTest, ThePreloadCarriesThisLaunchsConfiguration) {
  const auto& config = app.config();
  EXPECT_EQ(config.value.size(), 4u) << config.value.dump();
  EXPECT_EQ(config.origin, kOrigin);
  EXPECT_EQ(config.platform, "macos");
  EXPECT_EQ(config.screenSource, "");
  EXPECT_EQ(config.token.size(), 64u);
  EXPECT_TRUE(isLowerHex(config.token)) << config.token;

  // The bundle's script with its placeholder replaced by the configuration's
  // compact JSON as one double-quoted string literal; nothing else changes.
  auto original = support::readFile(BK_BUNDLE_DIR "/Contents/Resources/views/preload/index.js");
  ASSERT_TRUE(original.ok());
  std::string expected = *original;
  const std::string placeholder = "\"__BK_DESKTOP_CONFIG__\"";
  size_t at = expected.find(placeholder);
  ASSERT_NE(at, std::string::npos);
  std::string compact = R"({"origin":")" + std::string(kOrigin) +
                        R"(","platform":"macos","screenSource":"","token":")" + config.token +
                        R"("})";
  expected.replace(at, placeholder.size(), json(compact).dump());
  EXPECT_EQ(app.webviewRecord(app.webview())["preload"], expected);

  // Another launch has a token of its own.
  AppSession other;
  ASSERT_TRUE(other.start());
  EXPECT_NE(other.config().token, config.token);
}

TEST_F(BridgeTest, ARequestIsAnsweredOnEachPath) {
  int64_t id = 1;
  for (Via via : {Via::kQueue, Via::kHostBridge, Via::kBoth}) {
    SCOPED_TRACE(testing_support::viaName(via));
    auto reply = app.call(id, "notification_permission", nullptr, via);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->text, R"({"id":)" + std::to_string(id) + R"(,"ok":true,"result":"granted"})");
    ++id;
  }
}

// Every request reaches the shell twice when the core delivers it both ways;
// whichever copy comes first is run, and the other is dropped.
TEST_F(BridgeTest, ARequestOnBothPathsIsAnsweredOnce) {
  const int64_t kRequests = 200;
  for (int64_t id = 1; id <= kRequests; ++id) {
    app.post(app.request(id, "window_state"), Via::kBoth);
  }
  for (int64_t id = 1; id <= kRequests; ++id) ASSERT_TRUE(app.waitForReply(id)) << id;
  app.roundTrip();
  for (int64_t id = 1; id <= kRequests; ++id) {
    EXPECT_EQ(app.repliesTo(id).size(), 1u) << "request " << id;
  }
}

// A burst posted both ways at once leaves the queue's copies far behind the
// callbacks' ones; each request still runs once, however far.
TEST_F(BridgeTest, ABurstOnBothPathsIsAnsweredOncePerRequest) {
  constexpr int64_t kRequests = 3000;
  std::string message = app.request(0, "notification_permission");
  message.replace(message.find("\"id\":0"), 6, "\"id\":${n}");
  app.command({{"cmd", "post-many"},
               {"webview", app.webview()},
               {"message", message},
               {"count", kRequests},
               {"via", "both"}});
  std::vector<int> replies;
  auto count = [&] {
    replies.assign(kRequests + 1, 0);
    for (const Received& r : app.received()) {
      const int64_t id = r.value.is_object() ? r.value.value("id", int64_t{-1}) : -1;
      if (id >= 1 && id <= kRequests) ++replies[static_cast<size_t>(id)];
    }
  };
  ASSERT_TRUE(app.waitUntil([&] {
    count();
    return std::count(replies.begin() + 1, replies.end(), 0) == 0;
  }));
  app.waitUntilQueueTaken();
  app.roundTrip();
  count();
  int64_t ranAgain = 0;
  for (int64_t id = 1; id <= kRequests; ++id) ranAgain += replies[static_cast<size_t>(id)] > 1;
  EXPECT_EQ(ranAgain, 0);
}

// A request the shell refuses leaves its id unused: a good request with the
// same id, queued right after it, is the one answered. The queue is taken in
// order, so the refused copy was checked first.
TEST_F(BridgeTest, RefusedRequestsGetNoReply) {
  std::string wrongToken = app.config().token;
  wrongToken.back() = wrongToken.back() == '0' ? '1' : '0';
  struct Case {
    const char* what;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"wrong token", testing_support::requestText(wrongToken, 1, "window_state")},
      {"no token", R"({"id":2,"cmd":"window_state","args":null})"},
      {"token in another letter case", testing_support::requestText(
                                           [&] {
                                             std::string upper = app.config().token;
                                             for (char& c : upper)
                                               c = static_cast<char>(
                                                   std::toupper(static_cast<unsigned char>(c)));
                                             return upper;
                                           }(),
                                           3, "window_state")},
      {"trailing text", app.request(4, "window_state") + " x"},
      {"id as text", R"({"bk":")" + app.config().token + R"(","id":"5","cmd":"window_state"})"},
  };
  int64_t id = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    app.post(c.text, Via::kQueue);
    app.post(app.request(id, "notification_permission"), Via::kQueue);
    auto reply = app.waitForReply(id);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->value["result"], "granted") << reply->text;
    ++id;
  }
  app.roundTrip();
  for (int64_t i = 1; i < id; ++i) EXPECT_EQ(app.repliesTo(i).size(), 1u) << i;
}

TEST_F(BridgeTest, ARepeatedIdIsDroppedUntilThePageNavigates) {
  ASSERT_TRUE(app.call(7, "notification_permission", nullptr, Via::kQueue));
  app.post(app.request(7, "window_state"), Via::kQueue);
  auto replies = settledRepliesTo(7);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].value["result"], "granted");

  // A request without an id runs as 0, once.
  app.post(R"({"bk":")" + app.config().token + R"(","cmd":"notification_permission"})",
           Via::kQueue);
  ASSERT_TRUE(app.waitForReply(0));
  app.post(R"({"bk":")" + app.config().token + R"(","cmd":"window_state"})", Via::kQueue);
  EXPECT_EQ(settledRepliesTo(0).size(), 1u);

  // A new page on the app origin starts afresh.
  ASSERT_EQ(app.navigate(std::string(kOrigin) + "/inbox"), "navigated");
  auto again = app.call(7, "window_state", nullptr, Via::kQueue);
  ASSERT_TRUE(again);
  EXPECT_TRUE(again->value["result"].is_object()) << again->text;
}

TEST_F(BridgeTest, APageOffTheAppOriginIsNotHeard) {
  ASSERT_EQ(app.navigate("https://elsewhere.example/page"), "navigated");
  app.post(app.request(11, "set_title", {{"title", "from elsewhere"}}), Via::kQueue);
  app.waitUntilQueueTaken();

  ASSERT_EQ(app.navigate(std::string(kOrigin) + "/"), "navigated");
  ASSERT_TRUE(app.call(12, "set_title", {{"title", "home"}}, Via::kQueue));
  app.roundTrip();
  EXPECT_TRUE(app.repliesTo(11).empty());
  for (const json& c : app.calls("setWindowTitle")) {
    EXPECT_NE(c["args"][1], "from elsewhere");
  }
}

TEST_F(BridgeTest, CommandErrorsComeBackAsFailureReplies) {
  struct Case {
    std::string cmd;
    std::string args;  // the raw JSON text of "args"
    std::string reply;
  };
  const std::vector<Case> cases = {
      {"set_badge_count", "[1]", R"("error":"bad arguments for set_badge_count")"},
      {"set_badge_count", R"("3")", R"("error":"bad arguments for set_badge_count")"},
      {"set_badge_count", R"({"count":1.5})", R"("error":"bad arguments for set_badge_count")"},
      {"set_badge_count", R"({"count":"3"})", R"("error":"bad arguments for set_badge_count")"},
      {"Zoom", "null", R"("error":"unknown command: Zoom")"},
      {"Zoom", "[]", R"("error":"bad arguments for Zoom")"},
      {"show_download", "null", R"("error":"unknown download")"},
  };
  int64_t id = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cmd + " " + c.args);
    std::string text = R"({"bk":")" + app.config().token + R"(","id":)" + std::to_string(id) +
                       R"(,"cmd":")" + c.cmd + R"(","args":)" + c.args + "}";
    app.post(text, Via::kBoth);
    auto reply = app.waitForReply(id);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->text, "{" + c.reply + R"(,"id":)" + std::to_string(id) + R"(,"ok":false})");
    ++id;
  }
}

TEST_F(BridgeTest, RepliesCarryTheirResultOrNull) {
  auto none = app.call(1, "set_badge_count", {{"count", 2}});
  ASSERT_TRUE(none);
  EXPECT_EQ(none->text, R"({"id":1,"ok":true,"result":null})");
  auto state = app.call(2, "window_state");
  ASSERT_TRUE(state);
  EXPECT_EQ(state->text,
            R"({"id":2,"ok":true,"result":{"focused":true,"fullscreen":false,"maximized":false}})");
}

// A reply is evaluated as script text in the page: angle brackets and
// ampersands in it are escaped, so a text from the page cannot end the
// expression or the script element around it.
TEST_F(BridgeTest, MarkupInAReplyIsEscaped) {
  const std::string name = "</script><b>&";
  ASSERT_TRUE(app.call(1, name));
  std::vector<std::string> lines;
  for (const std::string& script : app.scripts()) {
    if (script.find("unknown command") != std::string::npos) lines.push_back(script);
  }
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], std::string(testing_support::kReceivePrefix) +
                          R"({"error":"unknown command: \u003c/script\u003e\u003cb\u003e\u0026",)"
                          R"("id":1,"ok":false}))");
  EXPECT_EQ(app.repliesTo(1)[0].value["error"], "unknown command: " + name);
}

}  // namespace
