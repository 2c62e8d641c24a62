// The readers of the window's INI settings file and of name=value files.

#include "support/setting_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/tree_writer.h"

namespace {

// The value the INI reader gives for "key=<raw>" in [General].
std::string IniValue(const std::string& raw) {
  const TSettingLines lines = ParseQtIniText("[General]\nkey=" + raw + "\n");
  EXPECT_TRUE(lines.ok) << raw << ": " << lines.error;
  if (lines.lines.size() != 1) return "<" + std::to_string(lines.lines.size()) + " lines>";
  return lines.lines[0].value;
}

TEST(QtIniText, ValuesUnescapeAsQSettingsReadsThem) {
  struct TCase {
    std::string raw;
    std::string value;
  };
  const std::vector<TCase> cases = {
      {"140", "140"},
      {"Vellumcast!", "Vellumcast!"},
      {"  padded  ", "padded"},                       // unquoted blanks go
      {"\"  kept  \"", "  kept  "},                   // quoted blanks stay
      {"\"a, b; c=d\"", "a, b; c=d"},                 // quoted separators
      {"a, b ,c", "a, b, c"},                          // a list reads as the window shows it
      {"C:\\\\photos\\\\", "C:\\photos\\"},
      {"say \\\"hi\\\"", "say \"hi\""},
      {"one\\ntwo\\tthree\\r", "one\ntwo\tthree\r"},
      {"\\a\\b\\f\\v\\'\\?", "\a\b\f\v'?"},
      {"bell\\x7", "bell\x07"},
      {"\\x1f\\x41", "\x1f" "A"},
      {"\\xe9t\\xe9", "\xC3\xA9t\xC3\xA9"},            // a UTF-16 unit becomes UTF-8
      {"\\x20ac", "\xE2\x82\xAC"},
      {"\\0", std::string(1, '\0')},
      {"\\101", "A"},                                  // octal
      {"caf\xC3\xA9", "caf\xC3\xA9"},                  // UTF-8 as written
      {"@@at", "@at"},
      {"@String(text)", "text"},
      {"@ByteArray(bytes)", "bytes"},
      {"", ""},
      {"\"\"", ""},
      {"x\"y\"z", "xyz"},
  };
  for (const TCase& c : cases) EXPECT_EQ(IniValue(c.raw), c.value) << c.raw;
}

TEST(QtIniText, SectionsCommentsAndOtherTypes) {
  const TSettingLines lines = ParseQtIniText(
      "\xEF\xBB\xBF"
      "top=1\r\n"
      "; a comment\n"
      "[General]\n"
      "a=2\n"
      "%55nit=3\n"
      "gone=@Invalid()\n"
      "rect=@Rect(0 0 1 1)\n"
      "[Other]\n"
      "b=4\n"
      "[General]\n"
      "c = 5\n");
  ASSERT_TRUE(lines.ok) << lines.error;
  std::vector<std::string> seen;
  for (const TSettingLine& line : lines.lines) seen.push_back(line.name + "=" + line.value + "@" + std::to_string(line.line));
  EXPECT_EQ(seen, (std::vector<std::string>{"top=1@1", "a=2@4", "Unit=3@5", "c=5@11"}));
}

TEST(QtIniText, WhatItWillNotGuessIsAnErrorWithItsLine) {
  struct TCase {
    std::string text;
    int line;
    std::string error;
  };
  const std::vector<TCase> cases = {
      {"[General]\nok=1\nno equals here\n", 3, "a line without '='"},
      {"[General\n", 1, "a section header without ']'"},
      {"k=\"open\n", 1, "a quote is not closed"},
      {"k=end\\\n", 1, "a backslash ends the value"},
      {"k=\\q\n", 1, "unknown escape \\q"},
      {"k=\\x\n", 1, "\\x without hexadecimal digits"},
      {"k=\\xd800\n", 1, "an escape of half a UTF-16 surrogate pair"},
      {"k=\\x10000\n", 1, "an escape beyond \\xffff"},
      {"=1\n", 1, "a key that is empty or badly escaped"},
      {"%zz=1\n", 1, "a key that is empty or badly escaped"},
      {std::string("\n\nk=a\0b\n", 8), 3, "a NUL byte in the line"},
  };
  for (const TCase& c : cases) {
    const TSettingLines lines = ParseQtIniText(c.text);
    EXPECT_FALSE(lines.ok) << c.text;
    EXPECT_EQ(lines.error_line, c.line) << c.text;
    EXPECT_EQ(lines.error, c.error) << c.text;
    EXPECT_TRUE(lines.lines.empty());
  }
}

TEST(ConfigText, NameValueLines) {
  const TSettingLines lines = ParseConfigText("# comment\n\n  cellwidth = 200 \r\ntitle=a = b\n\tempty=\n#x=1");
  ASSERT_TRUE(lines.ok) << lines.error;
  std::vector<std::string> seen;
  for (const TSettingLine& line : lines.lines) seen.push_back(line.name + "|" + line.value + "|" + std::to_string(line.line));
  EXPECT_EQ(seen, (std::vector<std::string>{"cellwidth|200|3", "title|a = b|4", "empty||5"}));

  const TSettingLines bad = ParseConfigText("a=1\n = 2\n");
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(bad.error_line, 2);
  EXPECT_EQ(bad.error, "a name is missing before '='");
}

}  // namespace
