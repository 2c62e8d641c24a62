// vellumcast-cli theme export DIR: the built-in theme's files, to edit and
// give back with index --theme=DIR.

#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/option_parser.h"
#include "engine/modern/theme.h"

namespace {

constexpr TOptionSyntax kThemeSyntax[] = {
    {"help", 'h', TOptionArity::kNone},
    {"version", 'V', TOptionArity::kNone},
    {"force", 'f', TOptionArity::kNone},
};
enum : size_t { kHelp, kVersion, kForce };

void PrintThemeHelp() {
  std::fputs(
      "Usage: vellumcast-cli theme export [--force] DIR\n"
      "Writes the files of the built-in theme of the modern pages into DIR (made\n"
      "when missing): folder.mustache, viewer.mustache, backlink.mustache, the\n"
      "partials they include, style.css and viewer.js. Edit any of them and give\n"
      "the folder to 'vellumcast-cli index --style=modern --theme=DIR'; a file\n"
      "left out of DIR comes from the built-in theme.\n"
      "\n"
      "  -h, --help      show this help\n"
      "  -V, --version   show the version\n"
      "  -f, --force     replace files of those names already in DIR (without it,\n"
      "                  nothing is written when any of them is there)\n"
      "\n"
      "Exit status: 0 done, 1 DIR could not be made or written or holds theme\n"
      "files already, 2 usage error.\n",
      stdout);
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "vellumcast-cli theme: %s\nTry 'vellumcast-cli theme --help'.\n", message.c_str());
  return 2;
}

}  // namespace

int RunThemeCommand(int argc, char** argv) {
  const TParsedArguments parsed = ParseArguments(kThemeSyntax, argc, argv);
  if (!parsed.ok) return UsageError(parsed.error);
  bool force = false;
  for (const TParsedOption& option : parsed.options) {
    switch (option.index) {
      case kHelp: PrintThemeHelp(); return 0;
      case kVersion: PrintVersion(); return 0;
      case kForce: force = true; break;
      default: break;
    }
  }
  if (parsed.operands.empty() || parsed.operands[0] != "export") return UsageError("the only action is 'export DIR'");
  if (parsed.operands.size() != 2 || parsed.operands[1].empty()) return UsageError("export needs exactly one DIR");
  std::string message;
  if (!ExportBuiltinTheme(parsed.operands[1].c_str(), force, &message)) {
    std::fprintf(stderr, "vellumcast-cli theme: %s\n", message.c_str());
    return 1;
  }
  return 0;
}
