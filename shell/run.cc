#include "shell/run.h"

#include "binding/bundle_paths.h"
#include "binding/nimbrel.h"
#include "shell/diagnostics.h"
#include "shell/instance.h"
#include "shell/shell.h"
#include "shell/start_page.h"
#include "support/tasks.h"

namespace shell {

namespace {

// Runs the process up to the end of the event loop. The first error of
// start-up or of the loop; `failedStart` when start failed in the shell,
// which has said why itself.
support::Status runUntilTheLoopEnds(bool& failedStart) {
  auto bundle = nimbrel::ResolveBundlePaths();
  if (!bundle) return bundle.error();
  auto info = nimbrel::ResolveAppInfoFromBundle(*bundle);
  if (!info) return info.error();
  std::vector<std::string> args = startArgs();

  // A running instance, or failing that the launcher, takes this launch
  // before anything heavy is loaded. Only then does the launch claim the
  // start, so that a relaunching process holds no claim that the process the
  // launcher starts would wait for; a launch that started meanwhile takes
  // this one's arguments once it listens.
  instance single = instanceFor(*info);
  handOffResult asked = single.handOff(args);
  if (asked) return {};
  if (relaunch(*bundle, args)) return {};
  auto claimed = single.claim(args, asked);
  if (claimed && *claimed == claimOutcome::handedOff) return {};

  auto core = nimbrel::LoadCore();
  if (!core) return core.error();
  auto paths = nimbrel::ResolvePaths(*info);
  if (!paths) return paths.error();
  std::string start = startURL(*bundle, *info);
  auto made = newShell(*core, *bundle, *info, start, *paths);
  if (!made) return made.error();
  std::shared_ptr<shell> app = *made;

  // Without a listener the application still runs; later launches then
  // start on their own. However run ends from here on, `single` closes the
  // listener and removes its file when it goes. One line says what keeps the
  // launch from being the one instance: a socket it cannot have, or else a
  // claim it could not take.
  auto listening = single.listen(
      [app](std::vector<std::string> list) { app->handleArgs(std::move(list)); }, args, asked);
  if (!listening) {
    printLine("not single-instance: " + listening.error().message);
  } else if (*listening == listenOutcome::handedOff) {
    return {};
  } else if (!claimed) {
    printLine("not single-instance: " + claimed.error().message);
  }
  if (auto file = single.published()) {
    app->beforeForcedExit = [path = single.path, file = *file] {
      platform::removeIfSame(path, file);
    };
  }

  support::runInBackground([app, args] { app->start(args); });
  support::Status loop = (*core)->RunMainThread(info->Identifier, info->Name, info->Channel);
  single.close();
  // A start that could not set up the web views or open the main window
  // stopped the loop itself; that is a failed start, not a quit.
  failedStart = app->failedToStart();
  return loop;
}

}  // namespace

int run() {
  bool failedStart = false;
  support::Status status = runUntilTheLoopEnds(failedStart);
  // A failed start was told when it happened; whatever the stopped loop
  // says after it is not a second failure.
  if (failedStart) return 1;
  if (!status) {
    printLine(status.error().message);
    return 1;
  }
  return 0;
}

}  // namespace shell
