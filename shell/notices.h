// The notifications shown lately, so that a click can find its page, and the
// road a click takes to the shell.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace shell {

struct notice {
  std::string title;
  std::string subtitle;
  std::string body;
  std::string target;  // an in-app path, or ""
};

class noticeLog {
 public:
  static constexpr size_t kCapacity = 64;

  // Appends `n`; beyond kCapacity entries the oldest go.
  void add(notice n);
  // The target of the newest notice with all three texts equal, else of the
  // newest with the title equal, else "". Texts compare byte for byte.
  std::string find(const std::string& title, const std::string& subtitle, const std::string& body);

 private:
  std::mutex mu;
  std::vector<notice> list;  // oldest first, at most kCapacity
};

// `s` when it is a path of the app's own pages that is safe to open; else "".
std::string appPath(const std::string& s);

// What a notification click runs, given the clicked notice's three texts.
using noticeClickHandler = std::function<void(const std::string& title, const std::string& subtitle,
                                              const std::string& body)>;

// Makes `handler` the one that clicks reach from now on. The start sequence
// publishes it once, before the platform can report a click.
void publishNoticeClickHandler(noticeClickHandler handler);

// A click reported by the platform: runs the published handler on a
// background task of its own and returns at once. Before a handler is
// published the click is dropped.
void clickedNotice(std::string title, std::string subtitle, std::string body);

}  // namespace shell
