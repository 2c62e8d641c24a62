#include <cstdio>

#include "cli/commands.h"

// Placeholder until the image pipeline lands.
int RunDecodeCommand(int, char**) {
  std::fprintf(stderr, "vellumcast-cli: decode is not available in this build\n");
  return 2;
}
