#include "shell/start_page.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

using testing_support::TempDir;

TEST(StartURL, AppUrlWhenItIsAnHttpAddressWithAHost) {
  struct Case {
    const char* appUrl;  // the JSON text of the setting
    const char* channel;
    std::string want;
  } cases[] = {
      {R"("https://app.example.com/start?x=1#top")", "beta",
       "https://app.example.com/start?x=1#top"},
      {R"("HTTPS://App.Example.COM/Path")", "beta", "https://App.Example.COM/Path"},
      {R"("http://127.0.0.1:9000")", "beta", "http://127.0.0.1:9000"},
      {R"("https://user@host.example:8443/a%20b")", "beta", "https://user@host.example:8443/a%20b"},
      {R"("https://host.example/a b")", "beta", "https://host.example/a%20b"},
      {R"("ftp://files.example")", "beta", shell::kProductionAppOrigin},
      {R"("https:///no-host")", "beta", shell::kProductionAppOrigin},
      {R"("/relative/path")", "dev", shell::kDevelopmentAppOrigin},
      {R"(5)", "dev", shell::kDevelopmentAppOrigin},
      {R"(null)", "beta", shell::kProductionAppOrigin},
      {R"("https://bad host")", "beta", shell::kProductionAppOrigin},
      {R"("")", "dev", shell::kDevelopmentAppOrigin},
  };
  for (const auto& c : cases) {
    TempDir resources;
    resources.write("build.json", std::string(R"({"runtime":{"appUrl":)") + c.appUrl + "}}");
    nimbrel::BundlePaths bundle{resources.path() + "/../MacOS", resources.path()};
    EXPECT_EQ(shell::startURL(bundle, {"x", "X", c.channel}), c.want) << c.appUrl;
  }
}

TEST(StartURL, TheChannelDecidesWithoutASetting) {
  struct Case {
    const char* channel;
    const char* want;
  } cases[] = {
      {"dev", shell::kDevelopmentAppOrigin},
      {"Dev", shell::kProductionAppOrigin},
      {"beta", shell::kProductionAppOrigin},
      {"", shell::kProductionAppOrigin},
  };
  TempDir noBuildJson;
  for (const auto& c : cases) {
    EXPECT_EQ(shell::startURL({noBuildJson.path(), noBuildJson.path()}, {"x", "X", c.channel}),
              c.want)
        << c.channel;
  }
}

}  // namespace
