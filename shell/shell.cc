// Building the shell record.
#include "shell/shell.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "shell/diagnostics.h"
#include "shell/links.h"
#include "support/path.h"

namespace shell {
namespace {

constexpr size_t kSecretBytes = 32;

support::Result<std::vector<unsigned char>> randomBytes(size_t n) {
  std::vector<unsigned char> bytes(n);
  if (::getentropy(bytes.data(), bytes.size()) != 0) {
    return support::makeError(std::string("random source: ") + std::strerror(errno));
  }
  return bytes;
}

std::string decimalList(const std::vector<unsigned char>& bytes) {
  std::string out;
  for (unsigned char b : bytes) {
    if (!out.empty()) out += ',';
    out += std::to_string(b);
  }
  return out;
}

std::string lowerHex(const std::vector<unsigned char>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0xf];
  }
  return out;
}

}  // namespace

support::Result<std::shared_ptr<shell>> newShell(std::shared_ptr<const nimbrel::Core> core,
                                                 const nimbrel::BundlePaths& bundle,
                                                 const nimbrel::AppInfo& app,
                                                 const std::string& startPage,
                                                 const nimbrel::Paths& paths) {
  auto exe = nimbrel::ExecutablePath();
  if (!exe) return exe.error();
  std::string executable = *exe;
  if (const char* appImage = std::getenv("APPIMAGE"); appImage && *appImage) {
    executable = appImage;
  }
  auto tokenBytes = randomBytes(kSecretBytes);
  if (!tokenBytes) return tokenBytes.error();
  auto keyBytes = randomBytes(kSecretBytes);
  if (!keyBytes) return keyBytes.error();

  auto s = std::make_shared<shell>();
  s->core = std::move(core);
  s->bundle = bundle;
  s->app = app;
  s->paths = paths;
  s->exe = executable;
  s->startPage = startPage;
  s->webviewKey = decimalList(*keyBytes);
  s->origin = originOf(startPage);
  s->token = lowerHex(*tokenBytes);
  s->prefs = std::make_unique<::shell::prefs>(support::joinPath({paths.UserData, "desktop.json"}),
                                              executable, paths.Home);
  s->labels = defaultTrayLabels;
  support::Result<coreExt> ext = loadCoreExt(bundle.ExeDir);
  if (ext) {
    s->ext = std::move(*ext);
  } else {
    printLine("no tray menu: " + ext.error().message);
  }
  auto preload = s->loadPreload();
  if (!preload) return preload.error();
  s->preload = std::move(*preload);
  return s;
}

}  // namespace shell
