#include "support/thread_start.h"

#include <system_error>
#include <thread>

namespace support {

Status startThread(std::function<void()> body) {
  try {
    std::thread(std::move(body)).detach();
    return {};
  } catch (const std::system_error& e) {
    return makeError(e.code().message());
  }
}

}  // namespace support
