#pragma once
// Readers of the two kinds of settings text a command-line run can start
// from: the INI file the window's settings store (QSettings) writes, and a
// plain "name=value" configuration file. Both are strict: a line they cannot
// read is an error that names the line, never a guess. Neither throws past an
// allocation failure of the standard strings.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// One name and its value, with the 1-based line it came from.
struct TSettingLine {
  std::string name;
  std::string value;
  int line = 0;
};

struct TSettingLines {
  bool ok = true;
  int error_line = 0;     // 1-based line of the error (0: none, or the file as a whole)
  std::string error;      // what is wrong there
  std::vector<TSettingLine> lines;
};

// The [General] section (and keys before any section) of a QSettings INI
// text, values unescaped the way QSettings reads them: quotes, \\ \" \n \t
// and the other C escapes, \xHHHH and octal escapes, "@@" for a leading "@".
// An unquoted list "a, b" becomes the text "a, b" (as the window shows it).
// Values QSettings stores as other types ("@Invalid()", "@Variant(...)",
// "@Rect(...)" ...) are left out: the default stands for them.
TSettingLines ParseQtIniText(std::string_view text);

// The same reading, but a line it cannot read is skipped instead of failing
// the text. `holds_only_texts` tells whether every line of every section was
// readable and held only texts and numbers, the values a settings store
// writes. QSettings decodes a "@Variant(...)" value with a data stream whose
// lengths come from the file, so a few edited bytes can ask it for gigabytes:
// a text that is not only texts must not reach QSettings as it stands.
TSettingLines SalvageQtIniText(std::string_view text, bool* holds_only_texts);

// Lines "name = value": whitespace around both is trimmed, blank lines and
// lines starting with '#' are skipped. The value is taken as written.
TSettingLines ParseConfigText(std::string_view text);

// Upper bound for settings and config files (ReadWholeRegularFile,
// support/path_util.h): settings are a few hundred bytes.
inline constexpr size_t kMaxSettingsFileBytes = 1 << 20;
