// Measures a second launch that hands its arguments to the running instance:
// the time from starting the process to its end, beside the time of a start
// of the same executable that ends at once with an error (its bundle's
// version file removed), the least that any launch costs. The ratio of the
// two medians is what the hand-off adds to a bare start.
//
//   handoff_bench [--runs N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "support/process.h"
#include "tests/process/app_session.h"

namespace {

namespace fs = std::filesystem;
using testing_support::AppSession;
using testing_support::TempBundle;
using Clock = std::chrono::steady_clock;

struct Sample {
  double medianMicros = 0;
  double minMicros = 0;
  int failures = 0;  // runs that did not end with the expected status
};

// Starts `executable` `runs` times one after the other, each with `args` and
// `env`, and times each from start to end.
Sample timeRuns(const std::string& executable, const std::vector<std::string>& args,
                const std::vector<std::string>& env, int runs, int expectedStatus) {
  const int nullDevice = open("/dev/null", O_RDWR | O_CLOEXEC);
  std::vector<double> micros;
  Sample sample;
  for (int i = 0; i < runs; ++i) {
    support::SpawnRequest request;
    request.path = executable;
    request.args = {executable};
    request.args.insert(request.args.end(), args.begin(), args.end());
    request.environment = env;
    request.stdoutFd = nullDevice;
    request.stderrFd = nullDevice;
    const auto start = Clock::now();
    auto pid = support::spawnProcess(request);
    if (!pid) {
      std::fprintf(stderr, "handoff_bench: %s\n", pid.error().message.c_str());
      std::exit(1);
    }
    auto status = support::waitForProcess(*pid);
    const auto end = Clock::now();
    if (!status || *status != expectedStatus) ++sample.failures;
    micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }
  close(nullDevice);
  std::sort(micros.begin(), micros.end());
  sample.medianMicros = micros[micros.size() / 2];
  sample.minMicros = micros.front();
  return sample;
}

std::vector<std::string> environmentOf(testing_support::AppProcess& app) {
  std::vector<std::string> env;
  for (const auto& [name, value] : app.env()) {
    if (value) env.push_back(name + "=" + *value);
  }
  return env;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 100;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::atoi(argv[++i]);
  }
  if (runs < 1) runs = 1;

  AppSession running;
  if (!running.start()) {
    std::fprintf(stderr, "handoff_bench: the first instance did not start\n");
    return 1;
  }
  // Later launches of the same user: the running instance's home and
  // temporary directory, and, as the launcher would, its mark.
  const std::vector<std::string> env = environmentOf(running.process());

  TempBundle broken;
  fs::remove(broken.resourcesDir() + "/version.json");

  const Sample bare = timeRuns(broken.executable(), {}, env, runs, 1);
  const Sample handOff =
      timeRuns(testing_support::builtExecutable(), {"brovik-work://inbox/1"}, env, runs, 0);
  running.requestQuit();
  running.wait();

  std::printf("runs: %d each\n", runs);
  std::printf("bare start (ends at once with an error): median %.0f us, fastest %.0f us\n",
              bare.medianMicros, bare.minMicros);
  std::printf("second launch that hands off:           median %.0f us, fastest %.0f us\n",
              handOff.medianMicros, handOff.minMicros);
  std::printf("hand-off / bare start: %.2f\n", handOff.medianMicros / bare.medianMicros);
  if (bare.failures != 0 || handOff.failures != 0) {
    std::printf("unexpected ends: %d bare, %d hand-off\n", bare.failures, handOff.failures);
    return 1;
  }
  return 0;
}
