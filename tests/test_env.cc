#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/test_support.h"

namespace testing_support {

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/bk-test-XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& rel, const std::string& data) const {
  std::filesystem::path p = std::filesystem::path(path_) / rel;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out << data;
  return p.string();
}

std::string TempDir::mkdir(const std::string& rel) const {
  std::filesystem::path p = std::filesystem::path(path_) / rel;
  std::filesystem::create_directories(p);
  return p.string();
}

ScopedEnv::ScopedEnv(const std::map<std::string, std::optional<std::string>>& values) {
  for (const auto& [name, value] : values) set(name, value);
}

void ScopedEnv::set(const std::string& name, const std::optional<std::string>& value) {
  if (!saved_.count(name)) {
    const char* old = getenv(name.c_str());
    saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
  }
  if (value) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  for (const auto& [name, value] : saved_) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace testing_support
