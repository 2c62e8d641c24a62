#pragma once
// The options of "vellumcast-cli index": one table row per option, read by
// the command-line parser, the settings and configuration files and --help.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "engine/run/index_options.h"

struct TIndexOption;

enum class TOptionKind {
  kCount, kInteger, kFlag, kByteFlag, kChoice01, kText,
  kNamed,     // a name that `parse` turns into the number ("classic|all")
  kPatterns,  // a wildcard pattern added to the worker's exclusions; repeatable
  kStyle,     // classic or modern (0 or 1)
  kPageName,  // a first page's file name
  kFolder,    // a folder that, once given, may not be empty
};

// The options field a row sets: a number, an on/off value, one of the
// named choices, or a text; none for the exclusion patterns.
using TOptionField = std::variant<std::monostate, int32_t TIndexOptions::*, bool TIndexOptions::*,
                                  TStyleSwitch TIndexOptions::*, TPageStyle TIndexOptions::*,
                                  TCatalogFormats TIndexOptions::*, TImageOrder TIndexOptions::*,
                                  TImagesMode TIndexOptions::*, TCaptionsMode TIndexOptions::*, TVideoMode TIndexOptions::*,
                                  std::string TIndexOptions::*>;

// The number a non-text field holds (an on/off value as 0 or 1); 0 for a text.
int32_t OptionNumber(const TIndexOptions& options, const TIndexOption& option);
// Stores `number` in a non-text field; a text field is left alone.
void SetOptionNumber(TIndexOptions& options, const TIndexOption& option, int32_t number);
// The text a text field holds ("" for any other).
const std::string& OptionText(const TIndexOptions& options, const TIndexOption& option);

// Parses a named value (kNamed options) into its number.
using TNameParser = bool (*)(const char* text, int32_t* value);


// One row per option; a new option is one more row. `help` is its line in
// --help; the default shown there is read from options with the first-start
// defaults, so it cannot drift from what a run uses.
struct TIndexOption {
  const char* name;
  TOptionKind kind;
  TOptionField field;
  const char* help = nullptr;
  const char* value_name = nullptr;  // placeholder in --help: nullptr for N, 0|1 or TEXT
  TNameParser parse = nullptr;       // kNamed: the value's parser
};

std::span<const TIndexOption> IndexOptions();
const TIndexOption* FindIndexOption(const std::string& name);

// Checks `value` for the option and stores it in `options`. False, with
// `error` set ("needs a whole number, not 'x'"), for a value it does not take.
bool ApplyIndexOption(TIndexOptions& options, const TIndexOption& option, const std::string& value,
                      std::string* error);

// What one index command line asks for. `exit_code` < 0: run; otherwise end
// the program with it after printing `message` (to stderr unless it is 0).
struct TIndexRequest {
  int exit_code = -1;
  std::string message;
  bool show_help = false;
  bool show_version = false;
  int verbosity = 1;  // 0: errors only (-q), 1: counters, 2: more (-v)
  std::string folder;
  std::vector<std::string> sources;  // settings files read, in the order applied
};

// Fills `options` from the first-start defaults, then --settings (the
// window's saved settings), then --config=FILE, then the options given, each
// overriding the one before.
TIndexRequest PrepareIndexRun(int argc, const char* const* argv, TIndexOptions& options);

// The window's settings file: $XDG_CONFIG_HOME/Korvane/vellumcast.conf,
// with ~/.config when XDG_CONFIG_HOME is unset, empty or not absolute.
std::string WindowSettingsPath();

void PrintIndexHelp(std::FILE* out);
