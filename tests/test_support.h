// Small fixtures shared by the test programs.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <map>
#include <optional>
#include <string>
#include <utility>

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

// Runs `read`, which ought never to wait on the FIFO at `fifo`, and returns
// what it gives. Code that does wait would wait for a writer for good: after a
// generous guard one comes and goes, so that the code reads an empty file and
// returns, and `waited` is set. Such a test fails rather than hangs.
template <typename Read>
auto readingWithoutWaiting(const std::string& fifo, Read read, bool& waited) {
  auto result = std::async(std::launch::async, std::move(read));
  waited = result.wait_for(std::chrono::seconds(20)) != std::future_status::ready;
  while (result.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
    int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer >= 0) ::close(writer);
  }
  return result.get();
}

}  // namespace testing_support
