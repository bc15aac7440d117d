// The notice log, the in-app path filter and the road of a click to the
// published handler.
#include "shell/notices.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "shell/platform/platform_glue.h"

namespace {

using shell::appPath;
using shell::notice;
using shell::noticeLog;

struct Query {
  std::string title, subtitle, body;
};

TEST(NoticeLog, FindsTheNewestExactMatchElseTheNewestTitle) {
  struct Case {
    const char* what;
    std::vector<notice> added;  // oldest first
    Query query;
    std::string want;
  } cases[] = {
      {"an exact match", {{"A", "s", "b", "/1"}}, {"A", "s", "b"}, "/1"},
      {"equal texts: the newer target",
       {{"A", "s", "b", "/old"}, {"A", "s", "b", "/new"}},
       {"A", "s", "b"},
       "/new"},
      {"an exact match before a newer title match",
       {{"A", "s", "b", "/exact"}, {"A", "x", "y", "/newer"}},
       {"A", "s", "b"},
       "/exact"},
      {"the subtitle counts",
       {{"A", "s1", "b", "/1"}, {"A", "s2", "b", "/2"}},
       {"A", "s1", "b"},
       "/1"},
      {"a body matching nothing: the newest notice with the title",
       {{"A", "s1", "b1", "/1"}, {"A", "s2", "b2", "/2"}, {"B", "s", "b", "/3"}},
       {"A", "s1", "other"},
       "/2"},
      {"the newest exact match has no target",
       {{"A", "s", "b", "/old"}, {"A", "s", "b", ""}},
       {"A", "s", "b"},
       ""},
      {"no case folding", {{"Hello", "s", "b", "/1"}}, {"hello", "s", "b"}, ""},
      {"no trimming", {{"A ", "s", "b", "/1"}}, {"A", "s", "b"}, ""},
      {"an empty title matches an empty title",
       {{"", "s", "b", "/e"}, {"A", "", "", "/a"}},
       {"", "x", "y"},
       "/e"},
      {"nothing logged", {}, {"A", "s", "b"}, ""},
  };
  for (const Case& c : cases) {
    noticeLog log;
    for (const notice& n : c.added) log.add(n);
    EXPECT_EQ(log.find(c.query.title, c.query.subtitle, c.query.body), c.want) << c.what;
  }
}

TEST(NoticeLog, KeepsTheNewest64) {
  noticeLog log;
  for (int i = 0; i <= 64; ++i) {
    std::string n = std::to_string(i);
    log.add({"n" + n, "s", "b", "/n" + n});
  }
  EXPECT_EQ(log.find("n0", "s", "b"), "");
  EXPECT_EQ(log.find("n1", "s", "b"), "/n1");
  EXPECT_EQ(log.find("n64", "s", "b"), "/n64");
}

TEST(NoticeLog, AnEvictedNoticeIsFoundOnlyThroughANewerTitle) {
  for (bool newerWithTitle : {false, true}) {
    noticeLog log;
    log.add({"call", "Anna", "missed", "/calls/1"});
    for (int i = 0; i < 63; ++i) log.add({"other" + std::to_string(i), "", "", "/o"});
    log.add({newerWithTitle ? "call" : "last", "Ben", "missed", "/calls/2"});
    EXPECT_EQ(log.find("call", "Anna", "missed"), newerWithTitle ? "/calls/2" : "");
  }
}

TEST(NoticeLog, AddsAndFindsFromManyThreads) {
  noticeLog log;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 200; ++i) {
        std::string title = "t" + std::to_string(t);
        log.add({title, std::to_string(i), "", "/" + title});
        // The other threads may have pushed it out already, but never give
        // another thread's target.
        std::string found = log.find(title, "", "");
        EXPECT_TRUE(found.empty() || found == "/" + title) << found;
      }
    });
  }
  for (auto& thread : threads) thread.join();
}

TEST(AppPath, KeepsOnlySafeInAppPaths) {
  const std::string huge = "/" + std::string(1 << 20, 'a');
  struct Case {
    std::string target;
    bool kept;
  } cases[] = {
      {"/inbox/42", true},
      {"/", true},
      {"/inbox?tab=files#top", true},
      {"/a%20b/%2F%2Fx", true},
      {"/a//b", true},
      {"/a:b", true},
      {"/a?q=%zz", true},  // the query is not examined
      {"/a?q=%zz#ok", true},
      {huge, true},
      {"", false},
      {"inbox", false},
      {" /inbox", false},
      {"//evil.example/x", false},
      {"https://evil.example/", false},
      {"/a\\b", false},
      {"/\\evil.example", false},
      {"/a\rb", false},
      {"/a\nb", false},
      {"/a%zz", false},
      {"/a%2", false},
      {"/a%", false},
      {"/a#%zz", false},  // the fragment is
      {"/a?x#b%", false},
      {"/a\x01", false},
      {"/a\x7f", false},
      {"/a?\x1f", false},
      {std::string("/a\0b", 4), false},
      // A control byte in the fragment is refused too, as everywhere else.
      {"/a#\x01", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(appPath(c.target), c.kept ? c.target : "") << testing::PrintToString(c.target);
  }
}

// The road of a click: the handler runs on a task of its own.
class ClickedNotice : public testing::Test {
 protected:
  struct Click {
    std::string title, subtitle, body;
    std::thread::id thread;
  };

  // Publishes a handler that records its clicks; it outlives the test.
  struct Recorder {
    std::mutex mu;
    std::vector<Click> clicks;
    std::vector<Click> waitFor(size_t n) {
      auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      for (;;) {
        {
          std::lock_guard lock(mu);
          if (clicks.size() >= n || std::chrono::steady_clock::now() > guard) return clicks;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    }
  };

  static std::shared_ptr<Recorder> publishRecorder() {
    auto recorder = std::make_shared<Recorder>();
    shell::publishNoticeClickHandler(
        [recorder](const std::string& t, const std::string& s, const std::string& b) {
          std::lock_guard lock(recorder->mu);
          recorder->clicks.push_back({t, s, b, std::this_thread::get_id()});
        });
    return recorder;
  }
};

TEST_F(ClickedNotice, BeforeAHandlerIsPublishedAClickIsDropped) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // In a process of its own, where nothing was published yet.
  EXPECT_EXIT(
      {
        shell::clickedNotice("t", "s", "b");
        bkNotificationClicked("t", nullptr, nullptr);
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(ClickedNotice, RunsTheHandlerOnATaskOfItsOwnAndReturnsAtOnce) {
  auto release = std::make_shared<std::promise<void>>();
  std::shared_future<void> released = release->get_future().share();
  auto ran = std::make_shared<std::promise<std::thread::id>>();
  shell::publishNoticeClickHandler(
      [released, ran](const std::string&, const std::string&, const std::string&) {
        // Held until the click has returned: it must not run on the caller.
        released.wait_for(std::chrono::seconds(20));
        ran->set_value(std::this_thread::get_id());
      });
  shell::clickedNotice("t", "s", "b");
  release->set_value();
  auto done = ran->get_future();
  ASSERT_EQ(done.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_NE(done.get(), std::this_thread::get_id());
}

TEST_F(ClickedNotice, TheNewestPublishedHandlerReceivesTheClicks) {
  auto older = publishRecorder();
  auto newer = publishRecorder();
  shell::clickedNotice("t", "s", "b");
  std::vector<Click> clicks = newer->waitFor(1);
  ASSERT_EQ(clicks.size(), 1u);
  EXPECT_EQ(clicks[0].title, "t");
  EXPECT_EQ(clicks[0].subtitle, "s");
  EXPECT_EQ(clicks[0].body, "b");
  EXPECT_TRUE(older->waitFor(0).empty());
}

TEST_F(ClickedNotice, TheExportedEntryPointReadsNullAsEmpty) {
  auto recorder = publishRecorder();
  bkNotificationClicked(nullptr, "s", nullptr);
  std::vector<Click> clicks = recorder->waitFor(1);
  ASSERT_EQ(clicks.size(), 1u);
  EXPECT_EQ(clicks[0].title, "");
  EXPECT_EQ(clicks[0].subtitle, "s");
  EXPECT_EQ(clicks[0].body, "");
}

}  // namespace
