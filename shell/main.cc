#include "shell/run.h"
#include "support/memory.h"

int main() {
  support::setUpAllocator();
  return shell::run();
}
