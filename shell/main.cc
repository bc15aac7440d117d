#include <cstdio>

#include "shell/run.h"

int main() {
  if (auto status = shell::run(); !status) {
    std::fprintf(stderr, "brovik-work: %s\n", status.error().message.c_str());
    return 1;
  }
  return 0;
}
