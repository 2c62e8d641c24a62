// The help texts. The index options are listed from their table, each with
// the value a run takes when nothing overrides it.

#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/index_options.h"
#include "engine/run/first_start_defaults.h"
#include "support/product.h"

namespace {

// "--name=N" or "--[no-]name" as the option is written.
std::string OptionForm(const TIndexOption& option) {
  if (option.value_name != nullptr) return std::string("--") + option.name + "=" + option.value_name;
  switch (option.kind) {
    case TOptionKind::kFlag:
    case TOptionKind::kByteFlag: return std::string("--[no-]") + option.name;
    case TOptionKind::kChoice01: return std::string("--") + option.name + "=0|1";
    case TOptionKind::kText: return std::string("--") + option.name + "=TEXT";
    default: return std::string("--") + option.name + "=N";
  }
}

std::string DefaultText(const TIndexOptions& defaults, const TIndexOption& option) {
  switch (option.kind) {
    case TOptionKind::kNamed: {
      // The named choice whose number the defaults hold (the classic style's), else the first one named.
      const std::string choices = option.value_name != nullptr ? option.value_name : "";
      const int32_t number = OptionNumber(defaults, option);
      for (size_t start = 0; option.parse != nullptr && start <= choices.size();) {
        size_t end = choices.find('|', start);
        if (end == std::string::npos) end = choices.size();
        const std::string choice = choices.substr(start, end - start);
        if (int32_t parsed = 0; option.parse(choice.c_str(), &parsed) && parsed == number) return choice;
        start = end + 1;
      }
      return choices.substr(0, choices.find('|'));
    }
    case TOptionKind::kStyle: return "classic";
    case TOptionKind::kPatterns: return "none";
    case TOptionKind::kPageName:
    case TOptionKind::kFolder:
    case TOptionKind::kText: {
      const std::string& text = OptionText(defaults, option);
      return text.empty() ? "none" : "'" + text + "'";
    }
    case TOptionKind::kFlag:
    case TOptionKind::kByteFlag: return OptionNumber(defaults, option) != 0 ? "on" : "off";
    default: return std::to_string(OptionNumber(defaults, option));
  }
}

}  // namespace

void PrintVersion() { std::printf("vellumcast-cli %s\n", kProductVersion); }

void PrintUsage(bool to_stderr) {
  std::FILE* out = to_stderr ? stderr : stdout;
  std::fputs(
      "Usage:\n"
      "  vellumcast-cli index [OPTION...] FOLDER\n"
      "  vellumcast-cli clean [--dry-run|-n] [--firstpage=NAME] FOLDER\n"
      "  vellumcast-cli decode [--key=TEXT] [--flags=N] [--request=WxH] IMAGE OUT.ppm\n"
      "  vellumcast-cli theme export [--force] DIR\n"
      "  vellumcast-cli -h|--help | -V|--version\n"
      "\n"
      "index   writes catalog pages into FOLDER and every folder below it\n"
      "clean   removes below FOLDER every file and thumbnail folder runs wrote\n"
      "decode  loads one image and writes it as a PPM file (for checks)\n"
      "theme   writes the built-in theme of the modern pages into DIR, to edit\n"
      "\n"
      "'vellumcast-cli COMMAND --help' lists the options of a command.\n",
      out);
}

void PrintIndexHelp(std::FILE* out) {
  TIndexOptions defaults;
  ApplyFirstStartDefaults(defaults);
  std::fprintf(out,
               "Usage: vellumcast-cli index [OPTION...] FOLDER\n"
               "Writes catalog pages into FOLDER and every folder below it.\n"
               "\n"
               "  -h, --help             show this help\n"
               "  -V, --version          show the version\n"
               "  -q, --quiet            print errors only\n"
               "  -v, --verbose          print more about the run\n"
               "      --settings         start from the desktop window's saved settings\n"
               "                         (%s);\n"
               "                         without FOLDER, its starting folder is used\n"
               "      --config=FILE      then read name=value lines with the names below\n"
               "                         ('#' starts a comment line)\n"
               "\n"
               "Catalog options (the command line overrides --config, which overrides\n"
               "--settings; --NAME=VALUE or --NAME VALUE; on/off options also take\n"
               "--NAME=0|1, yes|no, on|off):\n",
               WindowSettingsPath().c_str());
  for (const TIndexOption& option : IndexOptions()) {
    const std::string form = OptionForm(option);
    const std::string help = option.help != nullptr ? option.help : "";
    std::fprintf(out, "  %-24s %s [%s]\n", form.c_str(), help.c_str(), DefaultText(defaults, option).c_str());
  }
  std::fputs(
      "\n"
      "On a terminal a progress line shows folders, images, videos (and how far a\n"
      "video's web copy is), images per second and the time so far; at the end the\n"
      "three counters are printed.\n"
      "Files the run could not write are named on stderr (at most 20, then a count);\n"
      "folders not listed or not entered, paths too long and unreadable images are\n"
      "warnings (not shown with -q).\n"
      "Exit status: 0 done, 1 FOLDER missing or not a folder, 2 usage or settings\n"
      "error (also a template that cannot be read), 3 some output could not be\n"
      "written, 130, 143, 129 ended by SIGINT (Ctrl-C), SIGTERM, SIGHUP (the run\n"
      "stops like Cancel and the counters so far are printed).\n",
      out);
}
