// From an index command line to filled options: first-start defaults, then
// the window's saved settings (--settings), then a configuration file
// (--config=FILE), then the options on the command line.

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/index_options.h"
#include "cli/option_parser.h"
#include "engine/run/catalog_filter.h"
#include "engine/run/first_start_defaults.h"
#include "engine/run/image_order.h"
#include "support/path_util.h"
#include "support/setting_lines.h"

namespace {

// Options of the command itself, before the table's rows.
enum TCommandOption : size_t { kHelp, kVersion, kQuiet, kVerbose, kSettings, kConfig, kCommandOptionCount };

std::vector<TOptionSyntax> IndexSyntax() {
  std::vector<TOptionSyntax> syntax = {
      {"help", 'h', TOptionArity::kNone},     {"version", 'V', TOptionArity::kNone},
      {"quiet", 'q', TOptionArity::kNone},    {"verbose", 'v', TOptionArity::kNone},
      {"settings", 0, TOptionArity::kNone},   {"config", 0, TOptionArity::kValue},
  };
  for (const TIndexOption& option : IndexOptions()) {
    const bool on_off = option.kind == TOptionKind::kFlag || option.kind == TOptionKind::kByteFlag;
    syntax.push_back({option.name, 0, on_off ? TOptionArity::kOnOff : TOptionArity::kValue});
  }
  return syntax;
}

TIndexRequest Refuse(int exit_code, std::string message) {
  TIndexRequest request;
  request.exit_code = exit_code;
  request.message = std::move(message);
  return request;
}

// A tick as the window reads it back: a whole number, ticked when nonzero.
bool WindowTicked(const std::string& value) {
  if (const char* digit = OnOffDigit(value); digit != nullptr) return digit[0] == '1';
  char* end = nullptr;
  const long number = std::strtol(value.c_str(), &end, 10);
  return !value.empty() && *end == '\0' && number != 0;
}

// A choice as the window loads it: held to -1 (nothing selected) .. 1.
bool ApplyWindowChoice(TIndexOptions& options, const TIndexOption& option, const std::string& value) {
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno != 0) return false;
  SetOptionNumber(options, option, static_cast<int32_t>(number < -1 ? -1 : number > 1 ? 1 : number));
  return true;
}

std::string Where(const std::string& file, int line) { return file + ":" + std::to_string(line) + ": "; }

// The window's saved settings. Keys of the window that are no option here
// are passed over, as are keys this version does not know.
bool ApplyWindowSettings(TIndexOptions& options, std::string* folder, std::string* error) {
  const std::string file = WindowSettingsPath();
  std::string text;
  std::string reason;
  if (!ReadWholeRegularFile(file.c_str(), kMaxSettingsFileBytes, TLinkRule::kFollow, &text, &reason)) {
    *error = "--settings: cannot read the window's settings " + file + ": " + reason;
    return false;
  }
  const TSettingLines lines = ParseQtIniText(text);
  if (!lines.ok) {
    *error = Where(file, lines.error_line) + lines.error;
    return false;
  }
  // The window passes a template only while its "Use HTML Template" box is ticked.
  int header_enable = 0;
  int footer_enable = 0;
  for (const TSettingLine& line : lines.lines) {
    if (line.name == "path") *folder = line.value;
    if (line.name == "headertemplateenable") header_enable = WindowTicked(line.value);
    if (line.name == "footertemplateenable") footer_enable = WindowTicked(line.value);
    const TIndexOption* option = FindIndexOption(line.name);
    if (option == nullptr) continue;
    if (option->kind == TOptionKind::kChoice01 && ApplyWindowChoice(options, *option, line.value)) continue;
    // An empty formats or order follows the style, as in the window; an
    // empty output folder is the window's "none".
    if ((option->kind == TOptionKind::kNamed || option->kind == TOptionKind::kFolder) && line.value.empty()) continue;
    if (option->kind == TOptionKind::kPatterns) {
      // The window keeps its patterns in one text, ';'-separated.
      options.exclude = SplitPatternList(line.value);
      continue;
    }
    std::string why;
    if (!ApplyIndexOption(options, *option, line.value, &why)) {
      *error = Where(file, line.line) + line.name + " " + why;
      return false;
    }
  }
  if (header_enable == 0) options.headertemplate.clear();
  if (footer_enable == 0) options.footertemplate.clear();
  return true;
}

// A configuration file of name=value lines with the options' names.
bool ApplyConfigFile(TIndexOptions& options, const std::string& file, std::string* error) {
  std::string text;
  std::string reason;
  if (!ReadWholeRegularFile(file.c_str(), kMaxSettingsFileBytes, TLinkRule::kFollow, &text, &reason)) {
    *error = "--config: cannot read " + file + ": " + reason;
    return false;
  }
  const TSettingLines lines = ParseConfigText(text);
  if (!lines.ok) {
    *error = Where(file, lines.error_line) + lines.error;
    return false;
  }
  for (const TSettingLine& line : lines.lines) {
    const TIndexOption* option = FindIndexOption(line.name);
    if (option == nullptr) {
      *error = Where(file, line.line) + "unknown setting '" + line.name + "'";
      return false;
    }
    std::string why;
    if (!ApplyIndexOption(options, *option, line.value, &why)) {
      *error = Where(file, line.line) + line.name + " " + why;
      return false;
    }
  }
  return true;
}

}  // namespace

std::string WindowSettingsPath() {
  const char* config_home = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (config_home != nullptr && config_home[0] == '/') {
    base = config_home;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr ? home : "") + "/.config";
  }
  return base + "/Korvane/vellumcast.conf";
}

TIndexRequest PrepareIndexRun(int argc, const char* const* argv, TIndexOptions& options) {
  const std::vector<TOptionSyntax> syntax = IndexSyntax();
  const TParsedArguments parsed = ParseArguments(syntax, argc, argv);
  if (!parsed.ok) return Refuse(2, parsed.error);

  TIndexRequest request;
  bool use_settings = false;
  std::string config_file;
  for (const TParsedOption& option : parsed.options) {
    switch (option.index) {
      case kHelp: request.show_help = true; break;
      case kVersion: request.show_version = true; break;
      case kQuiet: request.verbosity = 0; break;
      case kVerbose: request.verbosity = 2; break;
      case kSettings: use_settings = true; break;
      case kConfig:
        if (option.value.empty()) return Refuse(2, "--config needs a file name");
        config_file = option.value;
        break;
      default: break;
    }
  }
  if (request.show_help || request.show_version) return request;
  if (parsed.operands.size() > 1) return Refuse(2, "exactly one FOLDER expected");

  ApplyFirstStartDefaults(options);
  options.formats = kFormatsFollowStyle;
  options.order = kOrderFollowStyle;
  options.prune = kSwitchFollowStyle;
  options.skiphidden = kSwitchFollowStyle;
  std::string saved_folder;
  std::string error;
  if (use_settings) {
    if (!ApplyWindowSettings(options, &saved_folder, &error)) return Refuse(2, error);
    request.sources.push_back(WindowSettingsPath());
  }
  if (!config_file.empty()) {
    if (!ApplyConfigFile(options, config_file, &error)) return Refuse(2, error);
    request.sources.push_back(config_file);
  }
  for (const TParsedOption& option : parsed.options) {
    if (option.index < kCommandOptionCount) continue;
    const TIndexOption& row = IndexOptions()[option.index - kCommandOptionCount];
    std::string why;
    if (!ApplyIndexOption(options, row, option.value, &why)) return Refuse(2, option.spelling + " " + why);
  }
  ResolveStyleDefaults(options);
  if (!parsed.operands.empty()) {
    request.folder = parsed.operands[0];
  } else if (!saved_folder.empty()) {
    request.folder = saved_folder;
  } else {
    return Refuse(2, use_settings ? "FOLDER missing (the window's settings name none)" : "FOLDER missing");
  }
  return request;
}
