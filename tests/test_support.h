// Small fixtures shared by the test programs.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace testing_support {

// A fresh directory under the temporary directory, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes `data` to path()/rel, creating the directories on the way.
  std::string write(const std::string& rel, const std::string& data) const;
  std::string mkdir(const std::string& rel) const;

 private:
  std::string path_;
};

// Sets (or, with nullopt, unsets) environment variables for a scope and puts
// the old values back afterwards.
class ScopedEnv {
 public:
  ScopedEnv() = default;
  explicit ScopedEnv(const std::map<std::string, std::optional<std::string>>& values);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  void set(const std::string& name, const std::optional<std::string>& value);

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

std::string readAll(const std::string& path);

}  // namespace testing_support
