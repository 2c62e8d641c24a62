#include <cstdio>

#include "cli/commands.h"

// Placeholder until the index run lands (minutes away): lets the program link.
int RunIndexCommand(int, char**) {
  std::fprintf(stderr, "vellumcast-cli: index is not available in this build yet\n");
  return 2;
}
