#include "shell/diagnostics.h"
#include "shell/run.h"
#include "support/memory.h"

int main() {
  support::setUpAllocator();
  if (auto status = shell::run(); !status) {
    shell::printLine(status.error().message);
    return 1;
  }
  return 0;
}
