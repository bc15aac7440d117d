// The single-instance socket on real sockets in a short temporary directory:
// its name, the hand-off of a later launch, and the listener of the running
// instance with its faults.
#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "shell/instance.h"
#include "tests/handoff_peer.h"
#include "tests/other_user.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::HasSubstr;
using testing::UnorderedElementsAreArray;
using testing_support::closedByPeer;
using testing_support::connectTo;
using testing_support::kOtherUser;
using testing_support::OtherUserListener;
using testing_support::PeerListener;
using testing_support::readableWithin;
using testing_support::readToEnd;
using testing_support::ScopedEnv;
using testing_support::sendAsOtherUser;
using testing_support::sendBytes;
using testing_support::sendRefusingTheAnswer;
using testing_support::SharedDir;
using testing_support::TempDir;
using Args = std::vector<std::string>;

const nimbrel::AppInfo kApp{"work.brovik.dira", "Brovik Dira", "dev"};

std::string uidText() {
  const passwd* entry = getpwuid(getuid());
  return entry != nullptr ? std::to_string(entry->pw_uid) : "user";
}

std::string socketName() {
  return "work.brovik.dira.dev." + uidText() + ".sock";
}

// The argument lists a listener handed on, in the order they came.
class Recorder {
 public:
  shell::argsHandler handler() {
    return [this](Args args) {
      std::lock_guard lock(mu_);
      lists_.push_back(std::move(args));
      changed_.notify_all();
    };
  }
  // Waits (with a guard against hangs) until `count` lists came.
  std::vector<Args> waitFor(size_t count) {
    std::unique_lock lock(mu_);
    changed_.wait_for(lock, testing_support::kPeerGuard, [&] { return lists_.size() >= count; });
    return lists_;
  }

 private:
  std::mutex mu_;
  std::condition_variable changed_;
  std::vector<Args> lists_;
};

// A handler that holds every call until released.
class Gate {
 public:
  shell::argsHandler handler() {
    return [this](Args) {
      std::unique_lock lock(mu_);
      ++entered_;
      changed_.notify_all();
      changed_.wait(lock, [&] { return open_; });
      ++left_;
      changed_.notify_all();
    };
  }
  // Waits until every call that entered has returned, so that nothing of a
  // handler outlives the test's gate.
  void waitLeft() {
    std::unique_lock lock(mu_);
    changed_.wait_for(lock, testing_support::kPeerGuard, [&] { return left_ == entered_; });
  }
  void waitEntered() {
    std::unique_lock lock(mu_);
    changed_.wait_for(lock, testing_support::kPeerGuard, [&] { return entered_ > 0; });
  }
  void open() {
    std::lock_guard lock(mu_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mu_;
  std::condition_variable changed_;
  int entered_ = 0;
  int left_ = 0;
  bool open_ = false;
};

class Instance : public testing::Test {
 protected:
  Instance() : env_({{"TMPDIR", dir_.path()}}) {}

  std::string path() const { return dir_.path() + "/" + socketName(); }

  TempDir dir_;
  ScopedEnv env_;
};

// The socket in a directory that every local user may write to, as /tmp.
class SharedInstance : public testing::Test {
 protected:
  SharedInstance() : env_({{"TMPDIR", dir_.path()}}) {}

  std::string path() const { return dir_.path() + "/" + socketName(); }

  SharedDir dir_;
  ScopedEnv env_;
};

// The file-creation mask for a scope.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(umask(mask)) {}
  ~ScopedUmask() { umask(old_); }

 private:
  mode_t old_;
};

mode_t modeOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

void writeFile(const std::string& path, const std::string& data) {
  std::ofstream(path) << data;
}

uid_t ownerOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

// Listens, and succeeds only when `launch` became the instance at the name
// (rather than failing, or handing its arguments to one already there).
testing::AssertionResult listensAtTheName(shell::instance& launch, shell::argsHandler handler,
                                          const Args& args = {}, shell::handOffResult asked = {}) {
  auto outcome = launch.listen(std::move(handler), args, asked);
  if (!outcome) return testing::AssertionFailure() << outcome.error().message;
  if (*outcome != shell::listenOutcome::listening) {
    return testing::AssertionFailure() << "handed its arguments off instead";
  }
  return testing::AssertionSuccess();
}

// ---- The socket's name ------------------------------------------------------

TEST(InstanceName, LiesInTheTemporaryDirectory) {
  struct Case {
    std::optional<std::string> tmpdir;
    std::string path;
  } cases[] = {
      {std::nullopt, "/tmp/" + socketName()},
      {"", "/tmp/" + socketName()},
      {"/var/tmp", "/var/tmp/" + socketName()},
      {"/var//tmp/", "/var/tmp/" + socketName()},
  };
  for (const auto& c : cases) {
    ScopedEnv env({{"TMPDIR", c.tmpdir}});
    EXPECT_EQ(shell::instanceFor(kApp).path, c.path) << c.tmpdir.value_or("(unset)");
  }
}

TEST(InstanceName, IsHashedOnlyBeyondAHundredBytes) {
  const std::string name = socketName();
  // "/" + dir + "/" + name
  const std::string exactly100 = "/" + std::string(98 - name.size(), 'd');
  const std::string exactly101 = "/" + std::string(99 - name.size(), 'd');
  {
    ScopedEnv env({{"TMPDIR", exactly100}});
    const std::string path = shell::instanceFor(kApp).path;
    EXPECT_EQ(path, exactly100 + "/" + name);
    EXPECT_EQ(path.size(), 100u);
  }
  {
    ScopedEnv env({{"TMPDIR", exactly101}});
    const std::string plain = exactly101 + "/" + name;
    ASSERT_EQ(plain.size(), 101u);
    EXPECT_EQ(shell::instanceFor(kApp).path,
              exactly101 + "/" + shell::hashedSocketName(plain).value());
  }
  {
    // The hashed path is not measured again.
    const std::string deep = "/" + std::string(150, 'd');
    ScopedEnv env({{"TMPDIR", deep + "/"}});
    const std::string path = shell::instanceFor(kApp).path;
    EXPECT_EQ(path, deep + "/" + shell::hashedSocketName(deep + "/" + name).value());
  }
}

TEST(InstanceName, HashIsTheStartOfSha256InLowerCaseHex) {
  EXPECT_EQ(shell::hashedSocketName("abc"), "bk-ba7816bf8f01cfea.sock");
  EXPECT_EQ(shell::hashedSocketName(""), "bk-e3b0c44298fc1c14.sock");
}

// ---- Hand-off and listening -----------------------------------------------------

TEST_F(Instance, HandsArgumentListsToTheListener) {
  shell::instance running = shell::instanceFor(kApp);
  ASSERT_EQ(running.path, path());
  Recorder got;
  ASSERT_TRUE(listensAtTheName(running, got.handler()));
  EXPECT_TRUE(fs::is_socket(path()));

  shell::instance later = shell::instanceFor(kApp);
  EXPECT_TRUE(later.handOff({"brovik-work://inbox/1", "--autostart"}));
  EXPECT_TRUE(later.handOff({}));
  EXPECT_THAT(got.waitFor(2), UnorderedElementsAreArray(
                                  std::vector<Args>{{"brovik-work://inbox/1", "--autostart"}, {}}));
}

TEST_F(Instance, SendsTheMessageAndTakesAnyByteAsTheAnswer) {
  PeerListener peer(path());
  ASSERT_TRUE(peer.ok());
  shell::handOffResult handedOff;
  std::thread launch([&] { handedOff = shell::instanceFor(kApp).handOff({"a", "<b>"}); });
  auto exchange = peer.serveOne('?');
  launch.join();
  ASSERT_TRUE(exchange);
  EXPECT_EQ(exchange->message, "{\"args\":[\"a\",\"\\u003cb\\u003e\"]}\n");
  EXPECT_EQ(handedOff.outcome, shell::handOffResult::acknowledged);

  launch = std::thread([&] { handedOff = shell::instanceFor(kApp).handOff({}); });
  exchange = peer.serveOne('k');
  launch.join();
  ASSERT_TRUE(exchange);
  EXPECT_EQ(exchange->message, "{\"args\":null}\n");
  EXPECT_EQ(handedOff.outcome, shell::handOffResult::acknowledged);
}

TEST_F(Instance, NothingToHandOffToWithoutAListener) {
  EXPECT_EQ(shell::instanceFor(kApp).handOff({"a"}).outcome, shell::handOffResult::nobodyListens);
  EXPECT_FALSE(fs::exists(path()));
}

// The acknowledgement comes before the handler runs, and the connection
// stays open until the handler has returned.
TEST_F(Instance, AcknowledgesBeforeTheHandlerAndClosesAfterIt) {
  shell::instance running = shell::instanceFor(kApp);
  Gate gate;
  ASSERT_TRUE(listensAtTheName(running, gate.handler()));

  const int fd = connectTo(path());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(sendBytes(fd, "{\"args\":[\"x\"]}\n"));
  EXPECT_EQ(testing_support::readExactly(fd, 1), "k");
  gate.waitEntered();
  EXPECT_FALSE(readableWithin(fd, 200ms)) << "closed while the handler still ran";
  gate.open();
  EXPECT_EQ(readToEnd(fd), "");
  close(fd);
  gate.waitLeft();
}

TEST_F(Instance, TakesOverASocketFileThatNobodyListensOn) {
  {
    PeerListener killed(path());
    ASSERT_TRUE(killed.ok());
    killed.abandon();
  }
  ASSERT_TRUE(fs::is_socket(path()));
  EXPECT_EQ(shell::instanceFor(kApp).handOff({"lost"}).outcome,
            shell::handOffResult::nobodyListens);

  shell::instance running = shell::instanceFor(kApp);
  Recorder got;
  ASSERT_TRUE(listensAtTheName(running, got.handler()));
  EXPECT_TRUE(shell::instanceFor(kApp).handOff({"found"}));
  EXPECT_EQ(got.waitFor(1), std::vector<Args>{{"found"}});
}

TEST_F(Instance, TakesOverAnOrdinaryFileInTheWay) {
  dir_.write(socketName(), "not a socket");
  shell::instance running = shell::instanceFor(kApp);
  Recorder got;
  ASSERT_TRUE(listensAtTheName(running, got.handler()));
  EXPECT_TRUE(shell::instanceFor(kApp).handOff({"x"}));
  EXPECT_EQ(got.waitFor(1), std::vector<Args>{{"x"}});
}

// An instance that is alive but never answers: the later launch gives up
// after the deadline and becomes the listening instance.
TEST_F(Instance, TakesOverFromAListenerThatNeverAnswers) {
  PeerListener silent(path());
  ASSERT_TRUE(silent.ok());
  const shell::handOffResult unanswered = shell::instanceFor(kApp).handOff({"unanswered"});
  EXPECT_EQ(unanswered.outcome, shell::handOffResult::noAnswer);
  EXPECT_EQ(unanswered.socket, shell::platform::entryAt(path()));

  shell::instance running = shell::instanceFor(kApp);
  Recorder got;
  ASSERT_TRUE(listensAtTheName(running, got.handler(), {"unanswered"}, unanswered));
  EXPECT_TRUE(shell::instanceFor(kApp).handOff({"answered"}));
  EXPECT_EQ(got.waitFor(1), std::vector<Args>{{"answered"}});
}

TEST_F(Instance, ListeningFailsWhenTheSocketCannotBeMade) {
  struct Case {
    std::string tmpdir;
    std::string error;
  } cases[] = {
      {dir_.path() + "/missing", "bind: No such file or directory"},
      // Even the hashed name does not fit a socket address.
      {dir_.path() + "/" + std::string(120, 'd'), "name too long"},
  };
  for (const auto& c : cases) {
    ScopedEnv env({{"TMPDIR", c.tmpdir}});
    shell::instance running = shell::instanceFor(kApp);
    auto status = running.listen([](Args) {});
    ASSERT_FALSE(status.ok()) << c.tmpdir;
    EXPECT_THAT(status.error().message, HasSubstr("listen unix " + running.path + ": "));
    EXPECT_THAT(status.error().message, HasSubstr(c.error));
    EXPECT_FALSE(running.ln);
  }
}

// Each fault ends its own connection without a reply; the instance goes on
// serving the next launch, and no faulty message reaches the handler.
TEST_F(Instance, ClosesFaultyConnectionsWithoutAReplyAndServesOn) {
  shell::instance running = shell::instanceFor(kApp);
  Recorder got;
  ASSERT_TRUE(listensAtTheName(running, got.handler()));

  const std::string faulty[] = {
      "",
      "not json\n",
      "[\"a\"]\n",
      "\"a\"\n",
      "5\n",
      "null\n",
      "{\"args\":\"a\"}\n",
      "{\"args\":[1]}\n",
      "{\"args\":{}}\n",
      "{\"args\":[\"a\"],}\n",
      "{\"args\":[\"cut short",
  };
  for (const std::string& bytes : faulty) {
    const int fd = connectTo(path());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendBytes(fd, bytes));
    shutdown(fd, SHUT_WR);  // the end of the stream
    EXPECT_EQ(readToEnd(fd), "") << bytes;
    close(fd);
  }
  EXPECT_TRUE(shell::instanceFor(kApp).handOff({"after"}));
  EXPECT_EQ(got.waitFor(1), std::vector<Args>{{"after"}});
}

TEST_F(Instance, ReadsOnlyTheFirstValueOfAConnection) {
  shell::instance running = shell::instanceFor(kApp);
  Recorder got;
  ASSERT_TRUE(listensAtTheName(running, got.handler()));

  const int fd = connectTo(path());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(sendBytes(fd, "{\"args\":[\"first\"]}\n{\"args\":[\"second\"]}\n[[[garbage"));
  EXPECT_EQ(readToEnd(fd), "k");
  close(fd);
  EXPECT_TRUE(shell::instanceFor(kApp).handOff({"next"}));
  EXPECT_THAT(got.waitFor(2), UnorderedElementsAreArray(std::vector<Args>{{"first"}, {"next"}}));
}

// A client that connects and keeps silent (or stops half-way) holds only its
// own connection, and only until the deadline.
TEST_F(Instance, SilentClientsHoldUpNobody) {
  shell::instance running = shell::instanceFor(kApp);
  Recorder got;
  ASSERT_TRUE(listensAtTheName(running, got.handler()));

  const int silent = connectTo(path());
  const int halfway = connectTo(path());
  ASSERT_GE(silent, 0);
  ASSERT_GE(halfway, 0);
  ASSERT_TRUE(sendBytes(halfway, "{\"args\":[\"hal"));

  EXPECT_TRUE(shell::instanceFor(kApp).handOff({"meanwhile"}));
  EXPECT_EQ(got.waitFor(1), std::vector<Args>{{"meanwhile"}});

  EXPECT_EQ(readToEnd(silent), "");
  EXPECT_EQ(readToEnd(halfway), "");
  close(silent);
  close(halfway);
  EXPECT_EQ(got.waitFor(1).size(), 1u);
}

TEST_F(Instance, ManyLaunchesAtOnceAreEachHandledOnce) {
  shell::instance running = shell::instanceFor(kApp);
  Recorder got;
  ASSERT_TRUE(listensAtTheName(running, got.handler()));

  constexpr int kLaunches = 16;
  std::vector<Args> sent;
  for (int i = 0; i < kLaunches; ++i) sent.push_back({"brovik-work://inbox/" + std::to_string(i)});
  std::vector<std::thread> launches;
  std::vector<int> handedOff(kLaunches, 0);
  for (int i = 0; i < kLaunches; ++i) {
    launches.emplace_back(
        [&, i] { handedOff[i] = static_cast<bool>(shell::instanceFor(kApp).handOff(sent[i])); });
  }
  for (auto& t : launches) t.join();
  EXPECT_EQ(std::count(handedOff.begin(), handedOff.end(), 1), kLaunches);
  EXPECT_THAT(got.waitFor(kLaunches), UnorderedElementsAreArray(sent));
}

// A launch that did not get the acknowledgement handles its arguments
// itself, so the instance must not handle them too.
TEST_F(Instance, AnArgumentListWhoseAnswerCannotBeWrittenIsNotHandled) {
  shell::instance running = shell::instanceFor(kApp);
  Recorder got;
  ASSERT_TRUE(listensAtTheName(running, got.handler()));

  const int gaveUp = sendRefusingTheAnswer(path(), "{\"args\":[\"brovik-work://inbox/1\"]}\n");
  ASSERT_GE(gaveUp, 0);
  // The instance handles a list before it closes its connection.
  ASSERT_TRUE(closedByPeer(gaveUp));
  close(gaveUp);
  EXPECT_TRUE(shell::instanceFor(kApp).handOff({"answered"}));
  EXPECT_EQ(got.waitFor(1), std::vector<Args>{{"answered"}});
}

// Launches that go away before the answer make its write fail; that must
// never end the instance by a signal (here it would end the test program).
TEST_F(Instance, LaunchesThatLeaveBeforeTheAnswerLeaveTheInstanceServing) {
  shell::instance running = shell::instanceFor(kApp);
  Recorder got;
  ASSERT_TRUE(listensAtTheName(running, got.handler()));

  constexpr int kClients = 20;
  const std::string socket = path();  // the user lookup behind it is not for threads
  std::vector<int> clients(kClients, -1);
  std::vector<std::thread> sending;
  for (int i = 0; i < kClients; ++i) {
    sending.emplace_back([&, i] {
      clients[i] =
          sendRefusingTheAnswer(socket, shell::encodeHandoff({"gone " + std::to_string(i)}));
    });
  }
  for (auto& t : sending) t.join();
  for (int fd : clients) {
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(closedByPeer(fd));
    close(fd);
  }
  EXPECT_TRUE(shell::instanceFor(kApp).handOff({"after"}));
  EXPECT_EQ(got.waitFor(1), std::vector<Args>{{"after"}});
}

TEST_F(Instance, CloseStopsListeningAndRemovesTheFile) {
  shell::instance running = shell::instanceFor(kApp);
  Recorder got;
  ASSERT_TRUE(listensAtTheName(running, got.handler()));
  running.close();
  EXPECT_FALSE(fs::exists(path()));
  EXPECT_FALSE(shell::instanceFor(kApp).handOff({"late"}));
  running.close();  // once is enough; again does nothing

  // Listening again afterwards works from scratch.
  ASSERT_TRUE(listensAtTheName(running, got.handler()));
  EXPECT_TRUE(shell::instanceFor(kApp).handOff({"again"}));
  EXPECT_EQ(got.waitFor(1), std::vector<Args>{{"again"}});
}

TEST_F(Instance, CloseWithoutListeningRemovesNothing) {
  // The socket of another instance that is still running.
  PeerListener other(path());
  ASSERT_TRUE(other.ok());
  {
    shell::instance never = shell::instanceFor(kApp);
    never.close();
  }  // and going out of scope closes nothing either
  EXPECT_TRUE(fs::is_socket(path()));
}

// What a launch learnt of the file at the name when its listener kept it
// waiting past the deadline.
shell::handOffResult foundHung(const std::string& path) {
  return {shell::handOffResult::noAnswer, shell::platform::entryAt(path)};
}

// An instance that was stopped long enough for a later launch to take the
// name over must not remove that launch's file when it quits: later launches
// would find nobody and each start an instance of their own.
TEST_F(Instance, CloseLeavesTheFileOfTheLaunchThatTookOver) {
  shell::instance stopped = shell::instanceFor(kApp);
  ASSERT_TRUE(listensAtTheName(stopped, [](Args) {}));
  const shell::handOffResult hung = foundHung(path());
  shell::instance taker = shell::instanceFor(kApp);
  Recorder got;
  ASSERT_TRUE(listensAtTheName(taker, got.handler(), {}, hung));

  stopped.close();
  EXPECT_TRUE(fs::is_socket(path()));
  EXPECT_TRUE(shell::instanceFor(kApp).handOff({"reached"}));
  EXPECT_EQ(got.waitFor(1), std::vector<Args>{{"reached"}});
  taker.close();
  EXPECT_FALSE(fs::exists(path()));
}

// A connection whose handler still runs when the listener closes is served to
// its end.
TEST_F(Instance, CloseLeavesAConnectionInProgressToFinish) {
  Gate gate;
  const int fd = [&] {
    shell::instance running = shell::instanceFor(kApp);
    EXPECT_TRUE(listensAtTheName(running, gate.handler()));
    const int conn = connectTo(path());
    sendBytes(conn, "{\"args\":[\"x\"]}");
    EXPECT_EQ(testing_support::readExactly(conn, 1), "k");
    gate.waitEntered();
    running.close();
    return conn;
  }();
  EXPECT_FALSE(fs::exists(path()));
  gate.open();
  EXPECT_EQ(readToEnd(fd), "");
  close(fd);
  gate.waitLeft();
}

// Running short of descriptors for a moment must not end the listener: the
// launch that came meanwhile is served once descriptors are free again.
TEST_F(Instance, ListenerOutlivesRunningShortOfDescriptors) {
  shell::instance running = shell::instanceFor(kApp);
  Recorder got;
  ASSERT_TRUE(listensAtTheName(running, got.handler()));

  const int client = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(client, 0);
  // Everything that may open a file comes before the limit.
  const sockaddr_un addr = testing_support::localAddress(path());
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  const int lowestFree = dup(0);
  ASSERT_GE(lowestFree, 0);
  close(lowestFree);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(lowestFree);  // no new descriptor at all
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);

  const bool connected =
      connect(client, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
  const int connectError = errno;
  const bool sent = connected && sendBytes(client, "{\"args\":[\"squeezed\"]}\n");
  // The accept that the connection wakes fails while the limit holds.
  std::this_thread::sleep_for(300ms);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);

  ASSERT_TRUE(connected) << strerror(connectError);
  ASSERT_TRUE(sent);
  EXPECT_EQ(readToEnd(client), "k");
  close(client);
  EXPECT_EQ(got.waitFor(1), std::vector<Args>{{"squeezed"}});
}

// ---- The claim to start -----------------------------------------------------------

// What a launch's claim came to, for a lock file it can use.
shell::claimOutcome claimOf(shell::instance& launch, const Args& args = {},
                            shell::handOffResult asked = {},
                            std::chrono::milliseconds wait = shell::kClaimWait) {
  auto outcome = launch.claim(args, asked, wait);
  if (!outcome) {
    ADD_FAILURE() << outcome.error().message;
    return shell::claimOutcome::unclaimed;
  }
  return *outcome;
}

// A launch as the entry sequence makes it: it asks, claims the start when
// nobody took its arguments, and listens unless the claim handed them off
// (also when the claim could not be had). What the claim came to, or
// handedOff when an ask or the listening handed the arguments off.
shell::claimOutcome launchAsTheEntryDoes(shell::instance& launch, const Args& args,
                                         const shell::argsHandler& handler) {
  shell::handOffResult asked = launch.handOff(args);
  if (asked) return shell::claimOutcome::handedOff;
  const auto claimed = launch.claim(args, asked);
  if (claimed && *claimed == shell::claimOutcome::handedOff) return *claimed;
  const auto listening = launch.listen(handler, args, asked);
  EXPECT_TRUE(listening.ok()) << listening.error().message;
  if (listening.ok() && *listening == shell::listenOutcome::handedOff) {
    return shell::claimOutcome::handedOff;
  }
  return claimed ? *claimed : shell::claimOutcome::unclaimed;
}

// Launches made as the entry sequence makes them, all at the same moment,
// each with its own link; the one that listens hands lists to `handler`.
// They stay listening as long as this lives.
struct LaunchedTogether {
  LaunchedTogether(int count, const shell::argsHandler& handler) {
    for (int i = 0; i < count; ++i) {
      launches.push_back(std::make_unique<shell::instance>(shell::instanceFor(kApp)));
      sent.push_back({"brovik-work://inbox/" + std::to_string(i)});
    }
    outcomes.assign(count, shell::claimOutcome::unclaimed);
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
      threads.emplace_back(
          [&, i] { outcomes[i] = launchAsTheEntryDoes(*launches[i], sent[i], handler); });
    }
    for (auto& t : threads) t.join();
  }

  size_t count(shell::claimOutcome outcome) const {
    return static_cast<size_t>(std::count(outcomes.begin(), outcomes.end(), outcome));
  }
  // What every launch that handed off sent.
  std::vector<Args> handedOn() const {
    std::vector<Args> lists;
    for (size_t i = 0; i < sent.size(); ++i) {
      if (outcomes[i] == shell::claimOutcome::handedOff) lists.push_back(sent[i]);
    }
    return lists;
  }

  std::vector<std::unique_ptr<shell::instance>> launches;
  std::vector<Args> sent;
  std::vector<shell::claimOutcome> outcomes;
};

// Launches that all found nobody to hand off to: exactly one claims the
// start and listens, and every other hands its arguments to that one.
TEST_F(Instance, OfLaunchesStartedTogetherOneStartsAndTheOthersHandOff) {
  constexpr int kLaunches = 16;
  Recorder got;
  LaunchedTogether launched(kLaunches, got.handler());
  ASSERT_EQ(launched.count(shell::claimOutcome::claimed), 1u);
  EXPECT_EQ(launched.count(shell::claimOutcome::handedOff), kLaunches - 1u);
  EXPECT_THAT(got.waitFor(kLaunches - 1), UnorderedElementsAreArray(launched.handedOn()));
}

// The holder has not listened yet: a waiting launch hands its arguments to
// whoever listens first, the holder or another launch that started without
// the claim, rather than wait out the holder.
TEST_F(Instance, AClaimWaitsForWhoeverListensFirst) {
  for (bool holderListens : {true, false}) {
    shell::instance holder = shell::instanceFor(kApp);
    ASSERT_EQ(claimOf(holder), shell::claimOutcome::claimed);
    shell::claimOutcome outcome = shell::claimOutcome::unclaimed;
    std::thread launch([&] {
      shell::instance waiting = shell::instanceFor(kApp);
      outcome = claimOf(waiting, {"waiting"});
    });
    std::this_thread::sleep_for(100ms);  // let it find the claim taken
    shell::instance other = shell::instanceFor(kApp);
    shell::instance& first = holderListens ? holder : other;
    Recorder got;
    ASSERT_TRUE(listensAtTheName(first, got.handler()));
    launch.join();
    EXPECT_EQ(outcome, shell::claimOutcome::handedOff) << holderListens;
    EXPECT_EQ(got.waitFor(1), std::vector<Args>{{"waiting"}}) << holderListens;
    EXPECT_EQ(holder.claimLock.held(), !holderListens);
  }
}

// Listening ends the claim: a running instance holds none, so a launch that
// cannot reach it (its socket file removed, say) starts at once rather than
// waiting for a claim that only the instance's end would free.
TEST_F(Instance, ARunningInstanceHoldsNoClaim) {
  shell::instance running = shell::instanceFor(kApp);
  ASSERT_EQ(claimOf(running), shell::claimOutcome::claimed);
  ASSERT_TRUE(listensAtTheName(running, [](Args) {}));
  EXPECT_FALSE(running.claimLock.held());

  fs::remove(path());  // as a cleaner of the temporary directory does
  shell::instance next = shell::instanceFor(kApp);
  const shell::handOffResult asked = next.handOff({"next"});
  EXPECT_EQ(asked.outcome, shell::handOffResult::nobodyListens);
  EXPECT_EQ(claimOf(next, {"next"}, asked), shell::claimOutcome::claimed);
}

// A listener that took the connection and never answered hangs: the launch
// that asked it takes the claim and starts without asking it again, while
// a launch that waited for the claim asks whoever took the name over.
TEST_F(Instance, AHungListenerIsAskedOnceAndTakenOver) {
  PeerListener hung(path());
  ASSERT_TRUE(hung.ok());
  shell::instance taker = shell::instanceFor(kApp);
  const shell::handOffResult asked = taker.handOff({"mine"});
  ASSERT_EQ(asked.outcome, shell::handOffResult::noAnswer);
  EXPECT_EQ(hung.dropWaiting(), 1);
  EXPECT_EQ(claimOf(taker, {"mine"}, asked), shell::claimOutcome::claimed);
  EXPECT_EQ(hung.dropWaiting(), 0);
  Recorder got;
  ASSERT_TRUE(listensAtTheName(taker, got.handler(), {"mine"}, asked));
  EXPECT_EQ(hung.dropWaiting(), 0);

  shell::instance waited = shell::instanceFor(kApp);
  EXPECT_EQ(claimOf(waited, {"waited"}, asked), shell::claimOutcome::handedOff);
  EXPECT_EQ(got.waitFor(1), std::vector<Args>{{"waited"}});
}

// Launches that all found the instance hung: one takes it over and every
// other hands its arguments to that one, once.
TEST_F(Instance, OfLaunchesThatFoundTheInstanceHungOneTakesOver) {
  PeerListener hung(path());
  ASSERT_TRUE(hung.ok());
  constexpr int kLaunches = 8;
  Recorder got;
  LaunchedTogether launched(kLaunches, got.handler());
  ASSERT_EQ(launched.count(shell::claimOutcome::claimed), 1u);
  EXPECT_EQ(launched.count(shell::claimOutcome::handedOff), kLaunches - 1u);
  EXPECT_THAT(got.waitFor(kLaunches - 1), UnorderedElementsAreArray(launched.handedOn()));
  // Each launch asked the hung one once.
  EXPECT_EQ(hung.dropWaiting(), kLaunches);
}

// A holder that ends (or closes) before it ever listened passes the claim on.
TEST_F(Instance, AClaimPassesToTheNextLaunchWhenTheHolderLetsGo) {
  shell::instance starting = shell::instanceFor(kApp);
  ASSERT_EQ(claimOf(starting), shell::claimOutcome::claimed);
  shell::instance next = shell::instanceFor(kApp);
  shell::claimOutcome outcome = shell::claimOutcome::unclaimed;
  std::thread launch([&] { outcome = claimOf(next, {"next"}); });
  std::this_thread::sleep_for(100ms);  // let it find the claim taken
  starting.close();
  launch.join();
  EXPECT_EQ(outcome, shell::claimOutcome::claimed);
  EXPECT_TRUE(next.claimLock.held());
}

// A holder that hangs before it listens: the launch starts without the claim
// once the wait is over, as a launch would without any claim.
TEST_F(Instance, AClaimGivesUpOnAHolderThatNeverListens) {
  shell::instance hanging = shell::instanceFor(kApp);
  ASSERT_EQ(claimOf(hanging), shell::claimOutcome::claimed);
  shell::instance next = shell::instanceFor(kApp);
  EXPECT_EQ(claimOf(next, {"x"}, {}, 200ms), shell::claimOutcome::unclaimed);
  EXPECT_FALSE(next.claimLock.held());
  EXPECT_TRUE(hanging.claimLock.held());
}

// No program that the instance starts (the launcher, a browser for a link)
// may keep the claim alive after the instance ends.
TEST_F(Instance, TheClaimIsNotInheritedByStartedPrograms) {
  shell::instance running = shell::instanceFor(kApp);
  ASSERT_EQ(claimOf(running), shell::claimOutcome::claimed);
  int lockFd = -1;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code gone;
    if (fs::read_symlink(entry.path(), gone) == running.claimPath()) {
      lockFd = std::stoi(entry.path().filename());
    }
  }
  ASSERT_GE(lockFd, 0);
  EXPECT_NE(fcntl(lockFd, F_GETFD) & FD_CLOEXEC, 0);
}

// A launch that cannot listen can be reached by nobody; the next launch
// must be free to start.
TEST_F(Instance, ALaunchThatCannotListenLetsGoOfTheClaim) {
  shell::instance first = shell::instanceFor(kApp);
  ASSERT_EQ(claimOf(first), shell::claimOutcome::claimed);
  dir_.write(socketName() + "/inside", "a directory that cannot be removed holds the name");
  EXPECT_FALSE(first.listen([](Args) {}).ok());
  EXPECT_FALSE(first.claimLock.held());
  shell::instance next = shell::instanceFor(kApp);
  EXPECT_EQ(claimOf(next, {}, {}, 200ms), shell::claimOutcome::claimed);
}

// Nothing of another user's, nor a link, nor anything but a plain file of
// this user's alone is used as the lock: the launch says why and starts
// without the claim, and leaves the file, and whatever it leads to or
// shares its data with, as it was.
TEST_F(SharedInstance, AClaimLeavesALockFileItCannotTrustAlone) {
  const std::string lock = shell::instanceFor(kApp).claimPath();
  const std::string target = dir_.path() + "/target";
  const auto ours = [&](mode_t mode) {
    writeFile(target, "ours");
    ASSERT_EQ(chmod(target.c_str(), mode), 0);
  };
  struct Case {
    const char* what;
    std::function<void()> make;
    std::string reason;
  } cases[] = {
      {"another user's file",
       [&] {
         writeFile(lock, "theirs");
         ASSERT_EQ(chown(lock.c_str(), kOtherUser, kOtherUser), 0);
       },
       "the file belongs to another user"},
      {"a link to a missing file", [&] { fs::create_symlink(target, lock); },
       "open: Too many levels of symbolic links"},
      {"a link to a file of ours",
       [&] {
         ours(0600);
         fs::create_symlink(target, lock);
       },
       "open: Too many levels of symbolic links"},
      {"a hard link to a file of ours",
       [&] {
         ours(0600);
         fs::create_hard_link(target, lock);
       },
       "the file has more than one name"},
      {"a hard link to a file of ours that others may read",
       [&] {
         ours(0644);
         fs::create_hard_link(target, lock);
       },
       "the file has more than one name"},
      {"a FIFO", [&] { ASSERT_EQ(mkfifo(lock.c_str(), 0600), 0); }, "not a regular file"},
      {"a directory", [&] { fs::create_directory(lock); }, "not a regular file"},
  };
  for (const auto& c : cases) {
    c.make();
    const auto before = fs::symlink_status(lock).type();
    const std::string content =
        fs::is_regular_file(fs::symlink_status(lock)) ? testing_support::readAll(lock) : "";
    const mode_t lockMode = modeOf(lock);
    const uid_t lockOwner = ownerOf(lock);
    const bool targetBefore = fs::exists(target);
    const mode_t targetMode = modeOf(target);
    shell::instance launch = shell::instanceFor(kApp);
    shell::handOffResult asked;
    auto outcome = launch.claim({}, asked, 200ms);
    ASSERT_FALSE(outcome.ok()) << c.what;
    EXPECT_EQ(outcome.error().message, "lock " + lock + ": " + c.reason) << c.what;
    EXPECT_FALSE(launch.claimLock.held()) << c.what;
    EXPECT_EQ(fs::symlink_status(lock).type(), before) << c.what;
    EXPECT_EQ(modeOf(lock), lockMode) << c.what;
    EXPECT_EQ(ownerOf(lock), lockOwner) << c.what;
    if (before == fs::file_type::regular) {
      EXPECT_EQ(testing_support::readAll(lock), content) << c.what;
    }
    EXPECT_EQ(fs::exists(target), targetBefore) << c.what;
    if (targetBefore) {
      EXPECT_EQ(testing_support::readAll(target), "ours") << c.what;
      EXPECT_EQ(modeOf(target), targetMode) << c.what;
    }
    fs::remove_all(lock);
    fs::remove(target);
  }
}

// ---- One listener at the name ---------------------------------------------------------

// A launch whose ask the listener's end cuts short (it was killed while the
// launch waited) asks again, and finds out what is at the name now: here
// the dead listener's file, which nobody listens on.
TEST_F(Instance, AHandOffCutShortByTheListenersEndAsksAgain) {
  PeerListener dying(path());
  ASSERT_TRUE(dying.ok());
  shell::handOffResult asked;
  std::thread launch([&] { asked = shell::instanceFor(kApp).handOff({"a"}); });
  ASSERT_TRUE(dying.connectionWaiting());
  dying.abandon();  // the waiting connection is reset
  launch.join();
  EXPECT_EQ(asked.outcome, shell::handOffResult::nobodyListens);
  EXPECT_EQ(asked.socket, shell::platform::entryAt(path()));
}

// Closed before the answer, then answered: the second ask is the one that
// counts. A listener that closes every ask unanswered is alive but takes
// nothing: it is neither handed the arguments nor taken over.
TEST_F(Instance, AHandOffClosedBeforeTheAnswerAsksAgain) {
  struct Case {
    std::vector<std::optional<char>> replies;
    shell::handOffResult::answer outcome;
  } cases[] = {
      {{std::nullopt, 'k'}, shell::handOffResult::acknowledged},
      {{std::nullopt, std::nullopt, 'k'}, shell::handOffResult::acknowledged},
      {{std::nullopt, std::nullopt, std::nullopt}, shell::handOffResult::turnedAway},
  };
  for (const auto& c : cases) {
    PeerListener peer(path());
    ASSERT_TRUE(peer.ok());
    shell::handOffResult asked;
    std::thread launch([&] { asked = shell::instanceFor(kApp).handOff({"a"}); });
    for (const auto& reply : c.replies) {
      auto exchange = peer.serveOne(reply);
      ASSERT_TRUE(exchange);
      EXPECT_EQ(exchange->message, "{\"args\":[\"a\"]}\n");
    }
    launch.join();
    EXPECT_EQ(asked.outcome, c.outcome) << c.replies.size();
    EXPECT_EQ(peer.dropWaiting(), 0) << "asked more often than needed";
    fs::remove(path());
  }
}

TEST_F(Instance, ALaunchTurnedAwayLeavesTheListenerItsName) {
  PeerListener refusing(path());
  ASSERT_TRUE(refusing.ok());
  const auto before = shell::platform::entryAt(path());
  shell::instance launch = shell::instanceFor(kApp);
  support::Result<shell::listenOutcome> outcome = support::makeError("not run");
  std::thread listening([&] { outcome = launch.listen([](Args) {}, {"a"}); });
  for (int ask = 0; ask < 3; ++ask) ASSERT_TRUE(refusing.serveOne(std::nullopt));
  listening.join();
  ASSERT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.error().message,
            "listen unix " + path() + ": the name is held by a listener that turns launches away");
  EXPECT_EQ(shell::platform::entryAt(path()), before);
  EXPECT_FALSE(launch.published());
}

// A listener that no longer accepts, whose queue is full: the connect waits
// for nothing, and the launch takes that for an instance that hangs.
TEST_F(Instance, AHandOffWhoseConnectTimesOutFindsTheListenerHung) {
  PeerListener full(path(), 0);
  ASSERT_TRUE(full.ok());
  std::vector<int> queued;
  for (;;) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const sockaddr_un addr = testing_support::localAddress(path());
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
      ASSERT_EQ(errno, EAGAIN) << strerror(errno);
      close(fd);
      break;
    }
    queued.push_back(fd);
    ASSERT_LT(queued.size(), 64u) << "the queue never filled";
  }
  const shell::handOffResult asked = shell::instanceFor(kApp).handOff({"a"});
  EXPECT_EQ(asked.outcome, shell::handOffResult::noAnswer);
  EXPECT_EQ(asked.socket, shell::platform::entryAt(path()));
  for (int fd : queued) close(fd);
}

// A launch that finds the name taken by a live instance hands its arguments
// to it and ends, and takes nothing away: neither the instance's file nor a
// file of its own stays changed.
TEST_F(Instance, ListeningNeverReplacesAListenerThatAnswers) {
  shell::instance running = shell::instanceFor(kApp);
  Recorder got;
  ASSERT_TRUE(listensAtTheName(running, got.handler()));
  const auto before = shell::platform::entryAt(path());

  // It found nobody when it first asked: the instance came after that.
  shell::instance later = shell::instanceFor(kApp);
  auto outcome = later.listen([](Args) { ADD_FAILURE() << "the later launch listened"; }, {"later"},
                              shell::handOffResult{});
  ASSERT_TRUE(outcome.ok()) << outcome.error().message;
  EXPECT_EQ(*outcome, shell::listenOutcome::handedOff);
  EXPECT_FALSE(later.published());
  EXPECT_EQ(got.waitFor(1), std::vector<Args>{{"later"}});
  EXPECT_EQ(shell::platform::entryAt(path()), before);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    names.push_back(entry.path().filename());
  }
  EXPECT_EQ(names, std::vector<std::string>{socketName()});
}

// Makes a file at `path` with `make` until the file system gives it the
// inode number of `gone`, a file that was removed (a freed number is often
// handed to the next file at once); `unmake` takes a file of another number
// away again. False when the file system never did.
bool remakeReusingTheInodeOf(const shell::platform::fileIdentity& gone, const std::string& path,
                             const std::function<bool()>& make,
                             const std::function<void()>& unmake) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (!make()) return false;
    const auto made = shell::platform::entryAt(path);
    if (made && made->device == gone.device && made->inode == gone.inode) return true;
    unmake();
  }
  return false;
}

// A launch found the instance hung; the instance was killed, and the launch
// that took over published a socket that got the dead one's inode number. A
// launch that still holds its first answer must ask the new one, not take
// it for the hung one and take the name over.
TEST_F(Instance, AFileReusingTheAskedSocketsInodeNumberIsAskedAfresh) {
  shell::handOffResult hung;
  {
    PeerListener killed(path());
    ASSERT_TRUE(killed.ok());
    hung = foundHung(path());
  }
  ASSERT_TRUE(hung.socket);
  ASSERT_EQ(unlink(path().c_str()), 0);
  std::optional<shell::instance> taker;
  Recorder got;
  if (!remakeReusingTheInodeOf(
          *hung.socket, path(),
          [&] {
            taker.emplace(shell::instanceFor(kApp));
            return listensAtTheName(*taker, got.handler());
          },
          [&] { taker.reset(); })) {
    GTEST_SKIP() << "this file system gives no freed inode number to the next file";
  }

  shell::instance waiting = shell::instanceFor(kApp);
  EXPECT_EQ(claimOf(waiting, {"claiming"}, hung), shell::claimOutcome::handedOff);
  shell::instance unclaimed = shell::instanceFor(kApp);
  auto outcome = unclaimed.listen([](Args) {}, {"listening"}, hung);
  ASSERT_TRUE(outcome.ok()) << outcome.error().message;
  EXPECT_EQ(*outcome, shell::listenOutcome::handedOff);
  EXPECT_THAT(got.waitFor(2),
              UnorderedElementsAreArray(std::vector<Args>{{"claiming"}, {"listening"}}));
  EXPECT_TRUE(taker->published());
}

// Launches that cannot have the claim at all still make one instance: one
// listens, and every other hands its arguments to that one.
TEST_F(Instance, OfLaunchesThatCannotHaveTheClaimOneListens) {
  const std::string lock = shell::instanceFor(kApp).claimPath();
  const std::string target = dir_.path() + "/target";
  struct Case {
    const char* what;
    std::function<void()> make;
  } cases[] = {
      {"a link", [&] { fs::create_symlink(target, lock); }},
      {"a hard link",
       [&] {
         writeFile(target, "");
         ASSERT_EQ(chmod(target.c_str(), 0600), 0);
         fs::create_hard_link(target, lock);
       }},
      {"another user's file",
       [&] {
         writeFile(lock, "");
         ASSERT_EQ(chown(lock.c_str(), kOtherUser, kOtherUser), 0);
       }},
  };
  for (const auto& c : cases) {
    c.make();
    constexpr int kLaunches = 8;
    Recorder got;
    {
      LaunchedTogether launched(kLaunches, got.handler());
      EXPECT_EQ(launched.count(shell::claimOutcome::handedOff), kLaunches - 1u) << c.what;
      EXPECT_THAT(got.waitFor(kLaunches - 1), UnorderedElementsAreArray(launched.handedOn()))
          << c.what;
    }
    fs::remove(lock);
    fs::remove(target);
  }
}

// A lock file of this user's alone that others may open would let them hold
// the claim: it is made owner-only and used.
TEST_F(Instance, AClaimMakesItsOwnLockFileOwnerOnly) {
  const std::string lock = shell::instanceFor(kApp).claimPath();
  for (mode_t mode : {0644, 0660, 0606, 0777}) {
    writeFile(lock, "");
    ASSERT_EQ(chmod(lock.c_str(), mode), 0);
    shell::instance launch = shell::instanceFor(kApp);
    EXPECT_EQ(claimOf(launch), shell::claimOutcome::claimed) << std::oct << mode;
    EXPECT_EQ(modeOf(lock), 0600u) << std::oct << mode;
    fs::remove(lock);
  }
}

// ---- Only the user's own launches --------------------------------------------------------

// Another user who listens at the name first would get every launch's
// arguments, sign-in codes among them, and the launch would end as if an
// instance had taken it.
TEST_F(SharedInstance, NeverHandsOffToAListenerOfAnotherUser) {
  OtherUserListener squatter(path());
  ASSERT_TRUE(squatter.ok());
  EXPECT_FALSE(shell::instanceFor(kApp).handOff({"work.brovik.dira://callback?code=SECRET"}));
  EXPECT_EQ(squatter.stop(), "");
}

TEST_F(SharedInstance, LeavesTheSocketOfAnotherUserAlone) {
  OtherUserListener squatter(path());
  ASSERT_TRUE(squatter.ok());
  shell::instance launch = shell::instanceFor(kApp);
  ASSERT_EQ(claimOf(launch), shell::claimOutcome::claimed);
  auto status = launch.listen([](Args) {});
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().message, "listen unix " + path() + ": the file belongs to another user");
  EXPECT_TRUE(fs::is_socket(path()));
  EXPECT_EQ(ownerOf(path()), kOtherUser);
  launch.close();  // it never listened, so it removes nothing
  EXPECT_TRUE(fs::is_socket(path()));
  EXPECT_EQ(squatter.stop(), "");
}

// Even where another user can open the socket file, the instance turns
// their connections away unanswered.
TEST_F(SharedInstance, ServesOnlyConnectionsOfItsOwnUser) {
  shell::instance running = shell::instanceFor(kApp);
  Recorder got;
  ASSERT_TRUE(listensAtTheName(running, got.handler()));
  ASSERT_EQ(chmod(path().c_str(), 0666), 0);  // as a file system that ignores modes would

  auto exchange = sendAsOtherUser(path(), "{\"args\":[\"brovik-work://injected\"]}\n");
  EXPECT_EQ(exchange.connectError, 0) << strerror(exchange.connectError);
  EXPECT_EQ(exchange.reply, "");
  EXPECT_TRUE(shell::instanceFor(kApp).handOff({"own"}));
  EXPECT_EQ(got.waitFor(1), std::vector<Args>{{"own"}});
}

// The socket and the lock file are the user's alone whatever the mask.
TEST_F(SharedInstance, TheSocketAndTheLockAreOwnerOnlyWhateverTheMask) {
  shell::instance running = shell::instanceFor(kApp);
  {
    ScopedUmask open(0);
    ASSERT_EQ(claimOf(running), shell::claimOutcome::claimed);
    ASSERT_TRUE(listensAtTheName(running, [](Args) {}));
  }
  EXPECT_EQ(modeOf(path()) & 0777, 0600u);
  EXPECT_EQ(modeOf(running.claimPath()), 0600u);
  auto exchange = sendAsOtherUser(path(), "{\"args\":[\"x\"]}\n");
  EXPECT_EQ(exchange.connectError, EACCES) << strerror(exchange.connectError);
}

}  // namespace
