// One instance per user and channel, seen from outside: later launches hand
// their arguments to the running application and end, a first launch outside
// the launcher lets the launcher start it again, and the running instance
// keeps its socket against faults.
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "shell/instance.h"
#include "tests/handoff_peer.h"
#include "tests/other_user.h"
#include "tests/process/app_process.h"
#include "tests/process/app_session.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;
using testing::UnorderedElementsAreArray;
using testing_support::AppProcess;
using testing_support::AppSession;
using testing_support::Exit;
using testing_support::OtherUserListener;
using testing_support::PeerListener;
using testing_support::readToEnd;
using testing_support::SharedDir;
using testing_support::TempBundle;
using testing_support::TempDir;

constexpr auto kGuard = 30s;

std::string uidText() {
  const passwd* entry = getpwuid(getuid());
  return entry != nullptr ? std::to_string(entry->pw_uid) : "user";
}

// The socket name of the built bundle's identity.
std::string socketName() {
  const json version =
      json::parse(testing_support::readAll(BK_BUNDLE_DIR "/Contents/Resources/version.json"));
  return version.at("identifier").get<std::string>() + "." +
         version.at("channel").get<std::string>() + "." + uidText() + ".sock";
}

std::string tmpdirOf(AppProcess& app) {
  return *app.env()["TMPDIR"];
}

std::string socketOf(AppProcess& app) {
  return tmpdirOf(app) + "/" + socketName();
}

// A later launch by the same user: same home, same temporary directory.
void sameUser(AppProcess& later, AppProcess& first) {
  later.env()["HOME"] = first.env()["HOME"];
  later.env()["TMPDIR"] = first.env()["TMPDIR"];
}

// A copy of the bundle without the core library: a launch from it that does
// not end before loading the core fails.
class CorelessBundle : public TempBundle {
 public:
  CorelessBundle() { fs::remove(exeDir() + "/libNimbrelCore.dylib"); }
};

template <typename Ready>
bool eventually(Ready ready) {
  const auto until = std::chrono::steady_clock::now() + kGuard;
  while (std::chrono::steady_clock::now() < until) {
    if (ready()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

std::string link(int n) {
  return "brovik-work://inbox/" + std::to_string(n);
}

// The pages that the running instance was asked to open since `mark`.
std::vector<std::string> openedSince(AppSession& app, size_t mark) {
  std::vector<std::string> pages;
  const auto received = app.received();
  for (size_t i = mark; i < received.size(); ++i) {
    if (received[i].isEvent("bk:open")) pages.push_back(received[i].payload().get<std::string>());
  }
  return pages;
}

// ---- Handing off ----------------------------------------------------------------

TEST(SingleInstance, ASecondLaunchHandsOffWithoutLoadingTheCore) {
  AppSession first;
  ASSERT_TRUE(first.start());
  const size_t mark = first.receivedCount();

  CorelessBundle coreless;
  AppProcess second(coreless.executable());
  sameUser(second, first.process());
  second.args() = {link(42)};
  Exit exit = second.run();
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.err, "");

  auto opened = first.waitForEvent("bk:open", mark);
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->payload(), "/inbox/42");
}

TEST(SingleInstance, AnEmptyHandOffBringsTheHiddenMainWindowToTheFront) {
  AppSession first;
  first.args() = {"--autostart"};  // a login launch starts hidden
  ASSERT_TRUE(first.start());
  ASSERT_EQ(first.windowRecord(first.window()).value("visible", true), false);

  CorelessBundle coreless;
  AppProcess second(coreless.executable());
  sameUser(second, first.process());
  Exit exit = second.run();
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.err, "");
  EXPECT_TRUE(eventually([&] {
    const json record = first.windowRecord(first.window());
    return record.value("visible", false) &&
           first.state().value("activeWindow", 0u) == first.window();
  }));
}

TEST(SingleInstance, ManyLaunchesAtOnceAreEachHandledOnce) {
  AppSession first;
  ASSERT_TRUE(first.start());
  const size_t mark = first.receivedCount();

  constexpr int kLaunches = 16;
  CorelessBundle coreless;
  std::vector<std::unique_ptr<AppProcess>> launches;
  std::vector<std::string> expected;
  for (int i = 0; i < kLaunches; ++i) {
    launches.push_back(std::make_unique<AppProcess>(coreless.executable()));
    sameUser(*launches.back(), first.process());
    launches.back()->args() = {link(i)};
    expected.push_back("/inbox/" + std::to_string(i));
  }
  for (auto& launch : launches) launch->start();
  for (auto& launch : launches) {
    Exit exit = launch->wait();
    EXPECT_EQ(exit.status, 0) << exit.err;
    EXPECT_EQ(exit.err, "");
  }
  ASSERT_TRUE(eventually([&] { return openedSince(first, mark).size() >= kLaunches; }));
  EXPECT_THAT(openedSince(first, mark), UnorderedElementsAreArray(expected));
}

// Faulty connections end without a reply; the instance serves the next launch.
TEST(SingleInstance, AFaultyHandOffIsClosedWithoutReplyWhileTheInstanceServesOn) {
  AppSession first;
  ASSERT_TRUE(first.start());
  const size_t mark = first.receivedCount();
  const std::string path = socketOf(first.process());

  const int silent = testing_support::connectTo(path);
  ASSERT_GE(silent, 0);
  for (const std::string bytes :
       {"{\"args\":[1]}\n", "not json\n", "[\"brovik-work://inbox/9\"]\n"}) {
    const int fd = testing_support::connectTo(path);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(testing_support::sendBytes(fd, bytes));
    EXPECT_EQ(readToEnd(fd), "") << bytes;
    close(fd);
  }

  CorelessBundle coreless;
  AppProcess second(coreless.executable());
  sameUser(second, first.process());
  second.args() = {link(5)};
  EXPECT_EQ(second.run().status, 0);
  ASSERT_TRUE(first.waitForEvent("bk:open", mark));
  EXPECT_EQ(openedSince(first, mark), std::vector<std::string>{"/inbox/5"});
  // The silent one is let go at its deadline, without a reply.
  EXPECT_EQ(readToEnd(silent), "");
  close(silent);
}

// Launches that went away before the answer: the failed write neither ends
// the instance by a signal nor lets it open their links as well.
TEST(SingleInstance, LaunchesThatLeaveBeforeTheAnswerLeaveTheInstanceServing) {
  AppSession first;
  ASSERT_TRUE(first.start());
  const size_t mark = first.receivedCount();
  const std::string path = socketOf(first.process());

  constexpr int kClients = 20;
  std::vector<int> clients(kClients, -1);
  std::vector<std::thread> sending;
  for (int i = 0; i < kClients; ++i) {
    sending.emplace_back([&, i] {
      clients[i] = testing_support::sendRefusingTheAnswer(path, shell::encodeHandoff({link(i)}));
    });
  }
  for (auto& t : sending) t.join();
  for (int fd : clients) {
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(testing_support::closedByPeer(fd));
    close(fd);
  }

  CorelessBundle coreless;
  AppProcess second(coreless.executable());
  sameUser(second, first.process());
  second.args() = {link(99)};
  EXPECT_EQ(second.run().status, 0);
  ASSERT_TRUE(first.waitForEvent("bk:open", mark));
  EXPECT_EQ(openedSince(first, mark), std::vector<std::string>{"/inbox/99"});
  EXPECT_FALSE(first.process().ended());
}

// `count` launches of the same user as `user` (or of a user of their own,
// the first's, when there is none), each with link(i), started at once;
// `before` sees each before any starts.
std::vector<std::unique_ptr<AppSession>> launchesTogether(
    int count, AppSession* user, const std::function<void(AppSession&)>& before = {}) {
  std::vector<std::unique_ptr<AppSession>> launches;
  for (int i = 0; i < count; ++i) {
    launches.push_back(std::make_unique<AppSession>());
    AppSession* same = user != nullptr ? user : (i > 0 ? launches.front().get() : nullptr);
    if (same != nullptr) sameUser(launches.back()->process(), same->process());
    launches.back()->args() = {link(i)};
  }
  if (before) {
    for (auto& launch : launches) before(*launch);
  }
  for (auto& launch : launches) launch->process().start();
  return launches;
}

// Of launches started together, the ones that run their event loop; every
// other must have ended at once and in silence, having handed off (a loser
// may wait a moment for the winner first).
std::vector<AppSession*> runningOf(const std::vector<std::unique_ptr<AppSession>>& launches) {
  std::vector<AppSession*> running;
  for (auto& launch : launches) {
    if (launch->process().waitUntilRunning()) {
      running.push_back(launch.get());
    } else {
      Exit exit = launch->process().wait();
      EXPECT_EQ(exit.status, 0) << exit.err;
      EXPECT_EQ(exit.err, "");
    }
  }
  return running;
}

// The one instance that `count` launches made has every link(i) as a page,
// once: its own as its first page, those of the others as they came.
void expectEveryLinkOnce(AppSession& instance, int count) {
  ASSERT_TRUE(instance.waitForMainWindow());
  EXPECT_EQ(instance.state()["windows"].size(), 1u);
  const std::string firstPage = instance.webviewRecord(instance.webview()).value("url", "");
  const size_t path = firstPage.rfind("/inbox/");
  ASSERT_NE(path, std::string::npos) << firstPage;
  std::vector<std::string> pages = {firstPage.substr(path)};
  ASSERT_TRUE(eventually(
      [&] { return openedSince(instance, 0).size() >= static_cast<size_t>(count - 1); }));
  instance.sync();
  for (const std::string& page : openedSince(instance, 0)) pages.push_back(page);
  std::vector<std::string> expected;
  for (int i = 0; i < count; ++i) expected.push_back("/inbox/" + std::to_string(i));
  EXPECT_THAT(pages, UnorderedElementsAreArray(expected));
}

// First launches started at the same moment: one becomes the instance with
// the main window, and every other hands its link to it and ends.
TEST(SingleInstance, OfFirstLaunchesStartedTogetherOneRuns) {
  constexpr int kLaunches = 16;
  const auto launches = launchesTogether(kLaunches, nullptr);
  const std::vector<AppSession*> running = runningOf(launches);
  ASSERT_EQ(running.size(), 1u);
  expectEveryLinkOnce(*running.front(), kLaunches);
}

// ---- Taking the socket over --------------------------------------------------------

TEST(SingleInstance, TakesOverTheSocketFileOfAKilledInstance) {
  AppSession first;
  {
    PeerListener killed(socketOf(first.process()));
    ASSERT_TRUE(killed.ok());
    killed.abandon();
  }
  ASSERT_TRUE(fs::is_socket(socketOf(first.process())));
  ASSERT_TRUE(first.start());
  const size_t mark = first.receivedCount();

  CorelessBundle coreless;
  AppProcess second(coreless.executable());
  sameUser(second, first.process());
  second.args() = {link(1)};
  EXPECT_EQ(second.run().status, 0);
  auto opened = first.waitForEvent("bk:open", mark);
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->payload(), "/inbox/1");
  EXPECT_TRUE(first.requestQuit());
  EXPECT_EQ(first.wait().err, "");
}

// A running instance holds no claim to start, so a killed one leaves nothing
// in the way either: the next launch starts at once and takes its name over.
TEST(SingleInstance, ARunningInstanceHoldsNoClaimAndAKilledOneLeavesNone) {
  AppSession killed;
  ASSERT_TRUE(killed.start());
  const std::string lock = shell::instance(socketOf(killed.process())).claimPath();
  auto whileRunning = shell::platform::tryLockFile(lock);
  ASSERT_TRUE(whileRunning.ok()) << whileRunning.error().message;
  EXPECT_TRUE(whileRunning->held());
  whileRunning->release();
  killed.signal(SIGKILL);
  EXPECT_EQ(killed.wait().signal, SIGKILL);

  AppSession next;
  sameUser(next.process(), killed.process());
  ASSERT_TRUE(next.start());
  const size_t mark = next.receivedCount();
  CorelessBundle coreless;
  AppProcess later(coreless.executable());
  sameUser(later, next.process());
  later.args() = {link(4)};
  EXPECT_EQ(later.run().status, 0);
  auto opened = next.waitForEvent("bk:open", mark);
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->payload(), "/inbox/4");
}

// An instance whose socket file a cleaner of the temporary directory removed
// can be reached by nobody; the next launch starts on its own, without first
// waiting for a claim that the unreachable one would hold.
TEST(SingleInstance, ALaunchThatCannotReachTheRunningInstanceStartsAtOnce) {
  AppSession unreachable;
  ASSERT_TRUE(unreachable.start());
  fs::remove(socketOf(unreachable.process()));

  AppSession next;
  sameUser(next.process(), unreachable.process());
  next.args() = {link(8)};
  const auto began = std::chrono::steady_clock::now();
  ASSERT_TRUE(next.start());
  // The wait for a claim's holder is the one delay such a launch could add.
  EXPECT_LT(std::chrono::steady_clock::now() - began, shell::kClaimWait);
  EXPECT_TRUE(fs::is_socket(socketOf(next.process())));
  EXPECT_EQ(next.process().errSoFar(), "");
}

// An instance that is there but never answers: the launch gives up on it
// after the deadline and becomes the instance that later launches reach.
TEST(SingleInstance, TakesOverFromAnInstanceThatNeverAnswers) {
  AppSession first;
  PeerListener silent(socketOf(first.process()));
  ASSERT_TRUE(silent.ok());
  ASSERT_TRUE(first.start());
  const size_t mark = first.receivedCount();

  CorelessBundle coreless;
  AppProcess second(coreless.executable());
  sameUser(second, first.process());
  second.args() = {link(2)};
  EXPECT_EQ(second.run().status, 0);
  auto opened = first.waitForEvent("bk:open", mark);
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->payload(), "/inbox/2");
}

// An instance stopped for longer than a launch waits: the launch takes the
// name over once its one deadline has passed, and when the stopped one goes
// on and quits it leaves the name to the instance that took it, which later
// launches still reach.
TEST(SingleInstance, AStoppedInstanceThatWasTakenOverLeavesTheNameWhenItQuits) {
  AppSession stopped;
  ASSERT_TRUE(stopped.start());
  stopped.signal(SIGSTOP);
  AppSession taker;
  sameUser(taker.process(), stopped.process());
  taker.args() = {link(1)};
  const auto began = std::chrono::steady_clock::now();
  const bool started = taker.start();
  const auto took = std::chrono::steady_clock::now() - began;
  stopped.signal(SIGCONT);
  ASSERT_TRUE(started);
  // One 3 s deadline for the stopped one's answer, and no wait for a claim
  // on top of it (which alone would be 10 s).
  EXPECT_LT(took, shell::kClaimWait);

  ASSERT_TRUE(stopped.requestQuit());
  EXPECT_EQ(stopped.wait().status, 0);
  EXPECT_TRUE(fs::is_socket(socketOf(taker.process())));

  const size_t mark = taker.receivedCount();
  CorelessBundle coreless;
  AppProcess later(coreless.executable());
  sameUser(later, taker.process());
  later.args() = {link(2)};
  EXPECT_EQ(later.run().status, 0);
  auto opened = taker.waitForEvent("bk:open", mark);
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->payload(), "/inbox/2");
}

// Launches started together while the instance is stopped: each finds it
// hung, one takes it over, and every other hands its link to that one, once.
TEST(SingleInstance, OfLaunchesThatFindTheInstanceStoppedOneTakesOver) {
  AppSession stopped;
  ASSERT_TRUE(stopped.start());
  stopped.signal(SIGSTOP);
  // Whatever happens below, the stopped one goes on and is collected.
  struct Continue {
    AppSession& app;
    ~Continue() { app.signal(SIGCONT); }
  } goOn{stopped};

  constexpr int kLaunches = 8;
  const auto launches = launchesTogether(kLaunches, &stopped);
  const std::vector<AppSession*> running = runningOf(launches);
  ASSERT_EQ(running.size(), 1u);
  expectEveryLinkOnce(*running.front(), kLaunches);
}

// Launches started while the instance is stopped, which is then killed while
// they wait for its answer: each learns that it went rather than that it
// hangs, one takes the name over, and every other hands its link to that
// one, once, whichever inode number the new socket gets.
TEST(SingleInstance, OfLaunchesWaitingOnAStoppedInstanceThatIsKilledOneTakesOver) {
  for (int count : {2, 4, 8}) {
    AppSession stopped;
    ASSERT_TRUE(stopped.start());
    stopped.signal(SIGSTOP);
    const auto launches = launchesTogether(count, &stopped);
    std::this_thread::sleep_for(1s);  // they wait for its answer
    stopped.signal(SIGKILL);
    EXPECT_EQ(stopped.wait().signal, SIGKILL);
    const std::vector<AppSession*> running = runningOf(launches);
    ASSERT_EQ(running.size(), 1u) << count << " launches";
    expectEveryLinkOnce(*running.front(), count);
  }
}

// Whether the process `pid` is stopped by a signal.
bool isStopped(pid_t pid) {
  const std::string stat = testing_support::readAll("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'T';
}

// A launch stopped after it claimed the start but before it listened: the
// launches that wait for it start on their own once the wait is over, yet
// only one of them becomes the instance and the others hand off to it. When
// the stopped one goes on, it finds that instance at the name, hands its
// own link to it and ends.
TEST(SingleInstance, ALaunchStoppedBeforeItListensLeavesOneInstanceAndHandsOffWhenItGoesOn) {
  constexpr int kWaiting = 4;
  AppSession holder;
  holder.args() = {link(kWaiting)};
  // It stops as it loads the core: after the claim, before listening.
  holder.process().env()["NIMBREL_STANDIN_FAIL"] = R"([{"cmd":"stop-process"}])";
  holder.process().start();
  struct Continue {
    AppSession& app;
    ~Continue() { app.signal(SIGCONT); }
  } goOn{holder};
  ASSERT_TRUE(eventually([&] { return isStopped(holder.process().pid()); }));

  const auto launches = launchesTogether(kWaiting, &holder);
  const std::vector<AppSession*> running = runningOf(launches);
  ASSERT_EQ(running.size(), 1u);
  expectEveryLinkOnce(*running.front(), kWaiting);

  const size_t mark = running.front()->receivedCount();
  holder.signal(SIGCONT);
  Exit exit = holder.process().wait();
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.err, "");
  auto opened = running.front()->waitForEvent("bk:open", mark);
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->payload(), "/inbox/" + std::to_string(kWaiting));
}

// First launches that cannot use the lock beside the socket still make one
// instance, even when they all go on to listen at the same moment (here they
// are stopped as they load the core, past the claim, and go on together);
// it alone says, once, that it started without the claim.
TEST(SingleInstance, OfFirstLaunchesWithALockFileThatCannotServeOneRuns) {
  constexpr int kLaunches = 8;
  std::string lock;
  const auto launches = launchesTogether(kLaunches, nullptr, [&](AppSession& launch) {
    launch.process().env()["NIMBREL_STANDIN_FAIL"] = R"([{"cmd":"stop-process"}])";
    if (!lock.empty()) return;
    lock = shell::instance(socketOf(launch.process())).claimPath();
    fs::create_symlink(tmpdirOf(launch.process()) + "/elsewhere", lock);
  });
  struct Continue {
    const std::vector<std::unique_ptr<AppSession>>& all;
    ~Continue() {
      for (auto& launch : all) launch->signal(SIGCONT);
    }
  } goOn{launches};
  for (auto& launch : launches) {
    ASSERT_TRUE(eventually([&] { return isStopped(launch->process().pid()); }));
  }
  for (auto& launch : launches) launch->signal(SIGCONT);
  const std::vector<AppSession*> running = runningOf(launches);
  ASSERT_EQ(running.size(), 1u);
  expectEveryLinkOnce(*running.front(), kLaunches);
  EXPECT_EQ(running.front()->process().errSoFar(),
            "brovik-work: not single-instance: lock " + lock +
                ": open: Too many levels of symbolic links\n");
}

// ---- The socket's name and what goes over it ------------------------------------------

// A launch hands off to whoever listens at the name; the test listens there.
Exit handOffTo(PeerListener& peer, AppProcess& launch, std::optional<std::string>* message) {
  std::thread serve([&] {
    auto exchange = peer.serveOne('k');
    if (exchange) *message = exchange->message;
  });
  Exit exit = launch.run();
  serve.join();
  return exit;
}

TEST(SingleInstance, TheNameIsHashedOnlyBeyondAHundredBytes) {
  CorelessBundle coreless;
  TempDir base;
  const std::string name = socketName();
  for (size_t length : {100u, 101u}) {
    // base "/" dir "/" name
    const std::string dir =
        base.mkdir(std::string(length - base.path().size() - name.size() - 2, 'd'));
    const std::string plain = dir + "/" + name;
    ASSERT_EQ(plain.size(), length);
    const std::string expected =
        length <= 100 ? plain : dir + "/" + shell::hashedSocketName(plain).value();

    PeerListener peer(expected);
    ASSERT_TRUE(peer.ok()) << expected;
    AppProcess launch(coreless.executable());
    launch.env()["TMPDIR"] = dir;
    launch.args() = {"x"};
    std::optional<std::string> message;
    Exit exit = handOffTo(peer, launch, &message);
    EXPECT_EQ(exit.status, 0) << length << ": " << exit.err;
    EXPECT_EQ(message, "{\"args\":[\"x\"]}\n") << length;
  }
}

TEST(SingleInstance, ArgumentsPassedOnComeAfterTheCommandLine) {
  CorelessBundle coreless;
  AppProcess launch(coreless.executable());
  PeerListener peer(socketOf(launch));
  ASSERT_TRUE(peer.ok());
  launch.args() = {"one"};
  launch.env()["BK_DESKTOP_ARGS"] = R"(["two","three"])";
  std::optional<std::string> message;
  Exit exit = handOffTo(peer, launch, &message);
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(message, "{\"args\":[\"one\",\"two\",\"three\"]}\n");
}

// ---- Relaunching through the launcher ----------------------------------------------------

// A launcher of the test's own that writes down its environment and how it
// was started.
const char kReportingLauncher[] = R"sh(#!/bin/sh
here=$(dirname "$0")
stdin=$(readlink /proc/$$/fd/0)
stderr=$(readlink /proc/$$/fd/2)
leader=no
test "$(cut -d' ' -f6 /proc/$$/stat)" = "$$" && leader=yes
{
  echo "session-leader=$leader stdin=$stdin stderr=$stderr"
  # The entries as the process got them: the shell's own list would show
  # only one of two entries of the same name.
  tr '\0' '\n' < /proc/$$/environ | grep '^BK_DESKTOP_ARGS='
} > "$here/report.part"
mv "$here/report.part" "$here/report"
)sh";

TEST(SingleInstance, AFirstLaunchOutsideTheLauncherLetsItStartTheApplication) {
  CorelessBundle bundle;
  fs::remove(bundle.exeDir() + "/launcher");
  bundle.dir().write("Brovik Dira.app/Contents/MacOS/launcher", kReportingLauncher);
  chmod((bundle.exeDir() + "/launcher").c_str(), 0755);

  AppProcess launch(bundle.executable());
  launch.env()["NIMBREL_LAUNCHER_PID"] = std::nullopt;
  launch.args() = {"one"};
  launch.env()["BK_DESKTOP_ARGS"] = R"(["two"])";
  Exit exit = launch.run();
  EXPECT_EQ(exit.status, 0);  // and the core was never loaded
  EXPECT_EQ(exit.err, "");

  const std::string report = bundle.exeDir() + "/report";
  ASSERT_TRUE(eventually([&] { return fs::exists(report); }));
  // One entry only: the variable this launch got is gone, and the one it
  // passes on holds all of its arguments.
  EXPECT_EQ(testing_support::readAll(report),
            "session-leader=yes stdin=/dev/null stderr=/dev/null\n"
            "BK_DESKTOP_ARGS=[\"one\",\"two\"]\n");
}

// A running instance takes the launch even where the launcher could have
// started it again: the launcher here does nothing, so a launch that went
// to it would never reach the instance.
TEST(SingleInstance, AHandOffComesBeforeARelaunch) {
  AppSession first;
  ASSERT_TRUE(first.start());
  const size_t mark = first.receivedCount();

  CorelessBundle coreless;
  fs::remove(coreless.exeDir() + "/launcher");
  coreless.dir().write("Brovik Dira.app/Contents/MacOS/launcher", "#!/bin/sh\nexit 0\n");
  chmod((coreless.exeDir() + "/launcher").c_str(), 0755);
  AppProcess second(coreless.executable());
  sameUser(second, first.process());
  second.env()["NIMBREL_LAUNCHER_PID"] = std::nullopt;
  second.args() = {link(3)};
  Exit exit = second.run();
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.err, "");
  auto opened = first.waitForEvent("bk:open", mark);
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->payload(), "/inbox/3");
}

// The process ids whose parent is `parent`.
std::vector<pid_t> childrenOf(pid_t parent) {
  std::vector<pid_t> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    std::string state;
    pid_t ppid = 0;
    rest >> state >> ppid;
    if (ppid == parent && state != "Z") found.push_back(std::stoi(name));
  }
  return found;
}

std::string environmentEntry(pid_t pid, const std::string& name) {
  const std::string all = testing_support::readAll("/proc/" + std::to_string(pid) + "/environ");
  const std::string wanted = name + "=";
  for (size_t at = 0; at < all.size();) {
    const size_t end = all.find('\0', at);
    const std::string entry = all.substr(at, end - at);
    if (entry.rfind(wanted, 0) == 0) return entry.substr(wanted.size());
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return "(unset)";
}

// The whole way: the first launch starts the stand-in launcher and ends; the
// launcher starts the application marked with its own id; that application
// runs with the first launch's arguments, and the launcher ends with it.
TEST(SingleInstance, TheLauncherStartsTheApplicationAgainWithTheArguments) {
  // The launcher outlives the launch that started it; it comes to this
  // process, which collects its end.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  TempBundle bundle;
  AppProcess launch(bundle.executable());
  launch.env()["NIMBREL_LAUNCHER_PID"] = std::nullopt;
  launch.args() = {link(7)};
  Exit exit = launch.run();
  ASSERT_EQ(exit.status, 0) << exit.err;
  EXPECT_EQ(exit.err, "");

  pid_t launcher = 0;
  pid_t application = 0;
  // Whatever happens below, neither outlives the test.
  struct Reaper {
    pid_t& launcher;
    pid_t& application;
    ~Reaper() {
      if (application > 0) kill(application, SIGKILL);
      if (launcher > 0 && kill(launcher, SIGKILL) == 0) waitpid(launcher, nullptr, 0);
    }
  } reaper{launcher, application};
  ASSERT_TRUE(eventually([&] {
    for (pid_t child : childrenOf(getpid())) {
      std::error_code gone;
      if (fs::read_symlink("/proc/" + std::to_string(child) + "/exe", gone) ==
          fs::canonical(bundle.exeDir() + "/launcher")) {
        launcher = child;
      }
    }
    if (launcher == 0) return false;
    // Until it has exec'd, the launcher's child is still a copy of the
    // launcher, with the launcher's environment.
    for (pid_t grandchild : childrenOf(launcher)) {
      std::error_code gone;
      if (fs::read_symlink("/proc/" + std::to_string(grandchild) + "/exe", gone) ==
          fs::canonical(bundle.executable())) {
        application = grandchild;
      }
    }
    return application != 0;
  }));
  EXPECT_EQ(environmentEntry(application, "NIMBREL_LAUNCHER_PID"), std::to_string(launcher));
  EXPECT_EQ(environmentEntry(application, "BK_DESKTOP_ARGS"), "[\"" + link(7) + "\"]");

  // The application's core answers on the control socket that the first
  // launch was given; its main page is the linked one.
  ASSERT_TRUE(eventually([&] {
    const json state = launch.command({{"cmd", "state"}});
    if (!state.is_object() || state["webviews"].empty()) return false;
    return state["webviews"][0].value("url", "").ends_with("/inbox/7");
  }));
  launch.command({{"cmd", "quit"}});
  int status = 0;
  ASSERT_EQ(waitpid(launcher, &status, 0), launcher);
  launcher = application = 0;
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// ---- Listening and closing ----------------------------------------------------------------

TEST(SingleInstance, WithoutASocketTheApplicationRunsAlone) {
  AppSession app;
  const std::string missing = app.process().home().path() + "/no-such-directory";
  app.process().env()["TMPDIR"] = missing;
  ASSERT_TRUE(app.start());
  EXPECT_TRUE(app.requestQuit());
  Exit exit = app.wait();
  EXPECT_EQ(exit.status, 0);
  // Neither the claim to start nor the socket can be had there; one line
  // says what the user needs to know.
  EXPECT_EQ(exit.err, "brovik-work: not single-instance: listen unix " + missing + "/" +
                          socketName() + ": bind: No such file or directory\n");
}

TEST(SingleInstance, TheSocketGoesWhenTheLoopEnds) {
  AppSession app;
  ASSERT_TRUE(app.start());
  const std::string path = socketOf(app.process());
  EXPECT_TRUE(fs::is_socket(path));
  EXPECT_TRUE(app.requestQuit());
  EXPECT_EQ(app.wait().status, 0);
  EXPECT_FALSE(fs::exists(path));
}

TEST(SingleInstance, TheSocketGoesAlsoWhenTheLoopFails) {
  AppProcess app(BK_BUNDLE_DIR "/Contents/MacOS/brovik-work");
  app.env()["NIMBREL_STANDIN_FAIL"] =
      R"([{"cmd":"fail","fn":"nimbrel_core_run_main_thread","error":"the loop broke"}])";
  Exit exit = app.run();
  EXPECT_EQ(exit.status, 1);
  // Listening worked (no line says otherwise), and the file is gone.
  EXPECT_EQ(exit.err, "brovik-work: the loop broke\n");
  EXPECT_FALSE(fs::exists(socketOf(app)));
}

// ---- Only the user's own launches ------------------------------------------------------

// Another user who listens at the name in a shared directory gets nothing:
// the launch starts on its own, says why it runs without the name, and
// leaves the other user's socket where it is.
TEST(SingleInstance, AListenerOfAnotherUserGetsNothingAndTheApplicationRunsAlone) {
  SharedDir shared;
  AppSession app;
  app.process().env()["TMPDIR"] = shared.path();
  const std::string path = socketOf(app.process());
  OtherUserListener squatter(path);
  ASSERT_TRUE(squatter.ok());
  app.args() = {"work.brovik.dira://callback?code=SECRET"};
  ASSERT_TRUE(app.start());
  EXPECT_TRUE(app.requestQuit());
  Exit exit = app.wait();
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.err, "brovik-work: not single-instance: listen unix " + path +
                          ": the file belongs to another user\n");
  EXPECT_EQ(squatter.stop(), "");
  EXPECT_TRUE(fs::is_socket(path));
}

// A lock file another user put at the lock's name in a shared directory
// cannot keep launches from starting together; the launch says so, once,
// and runs.
TEST(SingleInstance, ALockFileOfAnotherUserIsReportedAndTheApplicationRuns) {
  SharedDir shared;
  AppSession app;
  app.process().env()["TMPDIR"] = shared.path();
  const std::string lock = shell::instance(socketOf(app.process())).claimPath();
  { std::ofstream(lock) << ""; }
  ASSERT_EQ(chown(lock.c_str(), testing_support::kOtherUser, testing_support::kOtherUser), 0);
  ASSERT_TRUE(app.start());
  EXPECT_TRUE(fs::is_socket(socketOf(app.process())));
  EXPECT_TRUE(app.requestQuit());
  Exit exit = app.wait();
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.err, "brovik-work: not single-instance: lock " + lock +
                          ": the file belongs to another user\n");
}

// Nor can another user's launch hand links to the running instance, even
// where it can open the socket file.
TEST(SingleInstance, ALaunchOfAnotherUserCannotReachTheInstance) {
  SharedDir shared;
  AppSession first;
  first.process().env()["TMPDIR"] = shared.path();
  ASSERT_TRUE(first.start());
  const size_t mark = first.receivedCount();
  const std::string path = socketOf(first.process());
  struct stat st {};
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  ASSERT_EQ(chmod(path.c_str(), 0666), 0);  // as a file system that ignores modes would
  auto exchange = testing_support::sendAsOtherUser(path, shell::encodeHandoff({link(6)}));
  EXPECT_EQ(exchange.connectError, 0);
  EXPECT_EQ(exchange.reply, "");

  CorelessBundle coreless;
  AppProcess second(coreless.executable());
  sameUser(second, first.process());
  second.args() = {link(7)};
  EXPECT_EQ(second.run().status, 0);
  ASSERT_TRUE(first.waitForEvent("bk:open", mark));
  EXPECT_EQ(openedSince(first, mark), std::vector<std::string>{"/inbox/7"});
}

}  // namespace
