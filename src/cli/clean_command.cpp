#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "engine/clean.h"

int RunCleanCommand(int argc, char** argv) {
  const char* folder = nullptr;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      PrintUsage(false);
      return 0;
    }
    if (std::strncmp(argv[i], "--", 2) == 0 && std::strcmp(argv[i], "--") != 0) {
      std::fprintf(stderr, "vellumcast-cli clean: unknown option '%s'\n", argv[i]);
      return 2;
    }
    if (std::strcmp(argv[i], "--") == 0 && i + 1 < argc) {
      if (folder != nullptr || i + 2 < argc) {
        std::fprintf(stderr, "vellumcast-cli clean: exactly one FOLDER expected\n");
        return 2;
      }
      folder = argv[i + 1];
      break;
    }
    if (folder != nullptr) {
      std::fprintf(stderr, "vellumcast-cli clean: exactly one FOLDER expected\n");
      return 2;
    }
    folder = argv[i];
  }
  if (folder == nullptr) {
    std::fprintf(stderr, "vellumcast-cli clean: FOLDER missing\n");
    PrintUsage(true);
    return 2;
  }
  struct stat info;
  if (::stat(folder, &info) != 0 || !S_ISDIR(info.st_mode)) {
    std::fprintf(stderr, "vellumcast-cli clean: '%s' does not exist or is not a folder\n", folder);
    return 1;
  }
  const TCleanResult result = DeleteGenerated(folder);
  std::printf("Removed %d files and %d folders.\n", result.files_removed, result.folders_removed);
  return 0;
}
