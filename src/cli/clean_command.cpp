#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/option_parser.h"
#include "engine/store/clean.h"

namespace {

void PrintRemovedPath(const char* path, bool /*is_folder*/, void* /*context*/) { std::printf("%s\n", path); }

constexpr TOptionSyntax kCleanSyntax[] = {
    {"help", 'h', TOptionArity::kNone},    {"version", 'V', TOptionArity::kNone},
    {"dry-run", 'n', TOptionArity::kNone}, {"firstpage", 0, TOptionArity::kValue},
    {"quiet", 'q', TOptionArity::kNone},   {"verbose", 'v', TOptionArity::kNone},
};
enum : size_t { kHelp, kVersion, kDryRun, kFirstPage, kQuiet, kVerbose };

void PrintCleanHelp() {
  std::fputs(
      "Usage: vellumcast-cli clean [OPTION...] FOLDER\n"
      "Removes below FOLDER the files runs write, by their exact names\n"
      "(vellumcast.html, vellumcastN.html, imageback.html, quarto_tn/quarto_tnN.jpg\n"
      "and the like), and each quarto_tn folder it empties. Other files stay.\n"
      "\n"
      "  -h, --help             show this help\n"
      "  -V, --version          show the version\n"
      "  -n, --dry-run          print every path it would remove; remove nothing\n"
      "      --firstpage=NAME   also remove pages named NAME that Vellumcast wrote\n"
      "  -q, --quiet            print errors only\n"
      "  -v, --verbose          print every path it removes\n"
      "\n"
      "Exit status: 0 done, 1 FOLDER missing or not a folder, 2 usage error.\n",
      stdout);
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "vellumcast-cli clean: %s\nTry 'vellumcast-cli clean --help'.\n", message.c_str());
  return 2;
}

}  // namespace

int RunCleanCommand(int argc, char** argv) {
  const TParsedArguments parsed = ParseArguments(kCleanSyntax, argc, argv);
  if (!parsed.ok) return UsageError(parsed.error);
  TCleanOptions options;
  int verbosity = 1;
  for (const TParsedOption& option : parsed.options) {
    switch (option.index) {
      case kHelp: PrintCleanHelp(); return 0;
      case kVersion: PrintVersion(); return 0;
      case kDryRun: options.dry_run = true; break;
      case kFirstPage:
        if (option.value.empty() || option.value.find('/') != std::string::npos) {
          return UsageError("--firstpage needs a file name without '/'");
        }
        options.firstpage = option.value.c_str();
        break;
      case kQuiet: verbosity = 0; break;
      case kVerbose: verbosity = 2; break;
      default: break;
    }
  }
  if (parsed.operands.size() > 1) return UsageError("exactly one FOLDER expected");
  const char* folder = parsed.operands.empty() ? nullptr : parsed.operands[0].c_str();
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
  // A dry run lists every path a clean-up would remove (nothing is touched);
  // -v lists what it removes.
  if ((options.dry_run && verbosity > 0) || verbosity > 1) options.on_remove = PrintRemovedPath;
  const TCleanResult result = DeleteGenerated(folder, options);
  if (verbosity > 0) {
    std::printf("%s %d files and %d folders.\n", options.dry_run ? "Would remove" : "Removed",
                result.files_removed, result.folders_removed);
  }
  return 0;
}
