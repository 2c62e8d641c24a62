#pragma once
// A table-driven command-line parser in the GNU manner: "--name=value" and
// "--name value", on/off options as "--name", "--no-name" or "--name=0|1",
// one-letter options ("-q", clustered "-qv"), "--" to end the options, and
// options and operands in any order. Every command describes its options in
// a table; the parser only checks the syntax and hands back what it found,
// in command-line order, for the command to check and apply.

#include <cstddef>
#include <span>
#include <string>
#include <vector>

enum class TOptionArity {
  kNone,   // a plain switch: --help
  kValue,  // needs a value: --cellwidth=200, --cellwidth 200
  kOnOff,  // --createthumbs (1), --no-createthumbs (0), --createthumbs=VALUE
};

struct TOptionSyntax {
  const char* name;        // long name without "--"
  char short_name;         // 0: none
  TOptionArity arity;
};

struct TParsedOption {
  size_t index = 0;        // row of the syntax table
  std::string value;       // "1"/"0" for a bare on/off option; empty for kNone
  std::string spelling;    // as written ("--no-hlinks", "-q"), for messages
};

struct TParsedArguments {
  bool ok = true;
  std::string error;       // why not, without program name or newline
  std::vector<TParsedOption> options;
  std::vector<std::string> operands;
};

TParsedArguments ParseArguments(std::span<const TOptionSyntax> syntax, int argc, const char* const* argv);

// "0"/"1" for the words an on/off value may be written as (0, 1, no, yes,
// off, on, false, true, any case); nullptr for anything else.
const char* OnOffDigit(const std::string& value);
