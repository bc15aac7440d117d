// Starting the application again through the bundle's launcher, for a launch
// that the launcher did not make itself.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "shell/instance.h"
#include "support/file.h"
#include "support/path.h"
#include "support/process.h"

namespace shell {
namespace {

bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

bool relaunch(const nimbrel::BundlePaths& bundle, const std::vector<std::string>& args) {
  // The launcher marks the processes it starts; without this check each of
  // them would relaunch again.
  if (isSet("NIMBREL_LAUNCHER_PID")) return false;
  const std::string launcher = support::joinPath({bundle.ExeDir, "launcher"});
  if (!support::pathExists(launcher)) return false;

  const int nullDevice = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (nullDevice < 0) return false;
  support::SpawnRequest request;
  request.path = launcher;
  request.args = {launcher};
  // An entry this process was given (an empty one stays where it was) would
  // come first, and the started process would read that one instead.
  std::vector<std::string> environment = support::currentEnvironment();
  std::erase_if(environment,
                [](const std::string& entry) { return entry.starts_with("BK_DESKTOP_ARGS="); });
  environment.push_back("BK_DESKTOP_ARGS=" + encodeArgList(args));
  request.environment = std::move(environment);
  request.newSession = true;
  request.stdinFd = nullDevice;
  request.stdoutFd = nullDevice;
  request.stderrFd = nullDevice;
  auto started = support::spawnProcess(request);
  ::close(nullDevice);
  if (!started) return false;
  // An AppImage's mount lives only as long as the process that mounted it,
  // so the launcher must be done with its files before this process ends.
  if (isSet("APPIMAGE")) (void)support::waitForProcess(*started);
  return true;
}

}  // namespace shell
