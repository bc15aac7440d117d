#include "shell/run.h"

#include "binding/bundle_paths.h"
#include "binding/nimbrel.h"
#include "shell/instance.h"
#include "shell/start_page.h"

namespace shell {

support::Status run() {
  auto bundle = nimbrel::ResolveBundlePaths();
  if (!bundle) return bundle.error();
  auto info = nimbrel::ResolveAppInfoFromBundle(*bundle);
  if (!info) return info.error();
  std::vector<std::string> args = startArgs();

  auto core = nimbrel::LoadCore();
  if (!core) return core.error();
  auto paths = nimbrel::ResolvePaths(*info);
  if (!paths) return paths.error();
  std::string start = startURL(*bundle, *info);
  (void)args;
  (void)start;

  return (*core)->RunMainThread(info->Identifier, info->Name, info->Channel);
}

}  // namespace shell
