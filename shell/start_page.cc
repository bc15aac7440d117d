#include "shell/start_page.h"

#include "shell/resources.h"
#include "support/url.h"

namespace shell {

std::string startURL(const nimbrel::BundlePaths& bundle, const nimbrel::AppInfo& info) {
  std::string configured = runtimeSetting(bundle.ResourcesDir, "appUrl");
  if (auto parsed = support::url::parse(configured);
      parsed && (parsed->scheme == "http" || parsed->scheme == "https") && !parsed->host.empty()) {
    return parsed->toString();
  }
  return info.Channel == "dev" ? kDevelopmentAppOrigin : kProductionAppOrigin;
}

}  // namespace shell
