#include "shell/run.h"

int main() {
  return shell::run();
}
