#include "shell/diagnostics.h"
#include "shell/run.h"
#include "support/fatal.h"
#include "support/memory.h"

int main() {
  support::setUpAllocator();
  support::setFatalReport(shell::printLine);
  return shell::run();
}
