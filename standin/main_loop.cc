#include "main_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <mutex>

#include "dispatch_main_queue.h"
#include "events.h"
#include "state.h"
#include "trace.h"

namespace standin {

namespace {

struct Loop {
  std::mutex mu;
  bool running = false;
  bool stopRequested = false;
  uint64_t runs = 0;
  std::deque<std::function<void()>> work;
  int wakeFd = -1;
};

Loop& loop() {
  static Loop* l = [] {
    Loop* made = new Loop;
    made->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return made;
  }();
  return *l;
}

void wake() {
  uint64_t one = 1;
  ssize_t ignored = write(loop().wakeFd, &one, sizeof one);
  (void)ignored;
}

// The self-pipe: the handler only writes the signal's number, the loop reads
// it and does the rest outside signal context.
int signalPipe[2] = {-1, -1};

extern "C" void onQuitSignal(int signo) {
  int saved = errno;
  unsigned char byte = static_cast<unsigned char>(signo);
  ssize_t ignored = write(signalPipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

struct InstalledSignals {
  struct sigaction oldInt {};
  struct sigaction oldTerm {};
};

bool installSignals(InstalledSignals& saved) {
  if (signalPipe[0] < 0 && pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action {};
  action.sa_handler = onQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, &saved.oldInt);
  sigaction(SIGTERM, &action, &saved.oldTerm);
  return true;
}

void restoreSignals(const InstalledSignals& saved) {
  sigaction(SIGINT, &saved.oldInt, nullptr);
  sigaction(SIGTERM, &saved.oldTerm, nullptr);
}

void drainFd(int fd, std::deque<int>* signals) {
  unsigned char buf[64];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return;
    if (signals) {
      for (ssize_t i = 0; i < n; ++i) signals->push_back(buf[i]);
    }
  }
}

}  // namespace

bool runMainLoop(std::string& error) {
  Loop& l = loop();
  if (gettid() != getpid()) {
    error = "nimbrel_core_run_main_thread must be called on the main thread";
    return false;
  }
  {
    std::lock_guard lock(l.mu);
    if (l.running) {
      error = "the event loop is already running";
      return false;
    }
    l.running = true;
    ++l.runs;
  }
  connectMainDispatchQueue(wake);
  InstalledSignals saved;
  bool withSignals = installSignals(saved);
  traceLine("event loop started");

  for (;;) {
    std::deque<std::function<void()>> work;
    {
      std::lock_guard lock(l.mu);
      if (l.stopRequested) {
        l.stopRequested = false;
        l.running = false;
        break;
      }
      work.swap(l.work);
    }
    for (auto& item : work) item();
    bool queued = serviceMainDispatchQueue();
    if (!work.empty() || queued) continue;

    pollfd fds[2] = {{l.wakeFd, POLLIN, 0}, {withSignals ? signalPipe[0] : -1, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;  // EINTR: look again
    drainFd(l.wakeFd, nullptr);
    if (withSignals && (fds[1].revents & POLLIN)) {
      std::deque<int> signals;
      drainFd(signalPipe[0], &signals);
      for (int signo : signals) {
        requestQuit(signo == SIGINT ? "SIGINT" : "SIGTERM", false);
      }
    }
  }

  if (withSignals) restoreSignals(saved);
  // Callbacks already on their way are made before the loop hands control
  // back, as the platform makes its last events inside its loop; a process
  // that ends right after must not have one running into its teardown.
  try {
    drainDeliveries();
  } catch (const DeliveryError& e) {
    error = e.what();
    return false;
  }
  traceLine("event loop ended");
  return true;
}

void requestLoopStop() {
  Loop& l = loop();
  {
    std::lock_guard lock(l.mu);
    l.stopRequested = true;
  }
  wake();
}

void postToMainLoop(std::function<void()> work) {
  Loop& l = loop();
  {
    std::lock_guard lock(l.mu);
    l.work.push_back(std::move(work));
  }
  wake();
}

void forgetPendingLoopStop() {
  Loop& l = loop();
  std::lock_guard lock(l.mu);
  if (!l.running) l.stopRequested = false;
}

json mainLoopJson() {
  Loop& l = loop();
  std::lock_guard lock(l.mu);
  return {{"running", l.running},
          {"runs", l.runs},
          {"stopPending", l.stopRequested},
          {"queuedWork", l.work.size()}};
}

bool requestQuit(const std::string& reason, bool wait) {
  VoidFn quit = nullptr;
  {
    std::lock_guard lock(model().mu);
    quit = model().quitRequestedHandler;
  }
  traceLine("quit requested (" + reason + ")" + (quit ? "" : ": nobody listens"));
  if (!quit) return false;
  Deliveries d;
  d.push_back({"quitRequested", json::array(), [quit] { quit(); }});
  if (wait) {
    deliverNow(std::move(d));
  } else {
    deliverLater(std::move(d));
  }
  return true;
}

}  // namespace standin
