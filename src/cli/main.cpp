#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "platform/large_blocks.h"

int main(int argc, char** argv) {
  ReturnLargeBlocksWhenFreed();
  if (argc < 2) {
    PrintUsage(true);
    return 2;
  }
  const char* command = argv[1];
  if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0) {
    PrintUsage(false);
    return 0;
  }
  if (std::strcmp(command, "--version") == 0 || std::strcmp(command, "-V") == 0) {
    PrintVersion();
    return 0;
  }
  if (std::strcmp(command, "index") == 0) return RunIndexCommand(argc - 2, argv + 2);
  if (std::strcmp(command, "clean") == 0) return RunCleanCommand(argc - 2, argv + 2);
  if (std::strcmp(command, "decode") == 0) return RunDecodeCommand(argc - 2, argv + 2);
  if (std::strcmp(command, "theme") == 0) return RunThemeCommand(argc - 2, argv + 2);
  std::fprintf(stderr, "vellumcast-cli: unknown command '%s'\n", command);
  PrintUsage(true);
  return 2;
}
