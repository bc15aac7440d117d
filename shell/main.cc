#include "shell/diagnostics.h"
#include "shell/run.h"

int main() {
  if (auto status = shell::run(); !status) {
    shell::printLine(status.error().message);
    return 1;
  }
  return 0;
}
