// The entry point through which the platform's notification delegate reports
// a click. It is exported by name from the executable, with C linkage.
#include <string>

#include "shell/notices.h"
#include "shell/platform/platform_glue.h"

namespace {

std::string textOf(const char* s) {
  return s ? std::string(s) : std::string();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void bkNotificationClicked(const char* title,
                                                                             const char* subtitle,
                                                                             const char* body) {
  // The platform called in: nothing may unwind into it.
  try {
    shell::clickedNotice(textOf(title), textOf(subtitle), textOf(body));
  } catch (...) {
    // A click that cannot even be copied is dropped, like one before the
    // handler exists.
  }
}
