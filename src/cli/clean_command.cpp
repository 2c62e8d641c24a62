#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "engine/clean.h"

namespace {

void PrintRemovedPath(const char* path, bool /*is_folder*/, void* /*context*/) { std::printf("%s\n", path); }

}  // namespace

int RunCleanCommand(int argc, char** argv) {
  const char* folder = nullptr;
  TCleanOptions options;
  bool options_ended = false;
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (!options_ended && std::strcmp(arg, "--") == 0) {
      options_ended = true;
      continue;
    }
    if (!options_ended && std::strcmp(arg, "--help") == 0) {
      PrintUsage(false);
      return 0;
    }
    if (!options_ended && (std::strcmp(arg, "--dry-run") == 0 || std::strcmp(arg, "-n") == 0)) {
      options.dry_run = true;
      continue;
    }
    if (!options_ended && std::strncmp(arg, "--firstpage=", 12) == 0) {
      const char* name = arg + 12;
      if (*name == '\0' || std::strchr(name, '/') != nullptr) {
        std::fprintf(stderr, "vellumcast-cli clean: --firstpage needs a file name without '/'\n");
        return 2;
      }
      options.firstpage = name;
      continue;
    }
    if (!options_ended && arg[0] == '-' && arg[1] != '\0') {
      std::fprintf(stderr, "vellumcast-cli clean: unknown option '%s'\n", arg);
      return 2;
    }
    if (folder != nullptr) {
      std::fprintf(stderr, "vellumcast-cli clean: exactly one FOLDER expected\n");
      return 2;
    }
    folder = arg;
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
  if (options.dry_run) {
    // Every path that a clean-up would remove, one a line; nothing is touched.
    options.on_remove = PrintRemovedPath;
    const TCleanResult result = DeleteGenerated(folder, options);
    std::printf("Would remove %d files and %d folders.\n", result.files_removed, result.folders_removed);
    return 0;
  }
  const TCleanResult result = DeleteGenerated(folder, options);
  std::printf("Removed %d files and %d folders.\n", result.files_removed, result.folders_removed);
  return 0;
}
