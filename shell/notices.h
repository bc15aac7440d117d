// The notifications shown lately, so that a click can find its page.
#pragma once

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
  void add(notice n);
  std::string find(const std::string& title, const std::string& subtitle, const std::string& body);

 private:
  std::mutex mu;
  std::vector<notice> list;  // oldest first, at most 64
};

}  // namespace shell
