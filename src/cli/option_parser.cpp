#include "cli/option_parser.h"

#include <strings.h>

#include <cstring>

namespace {

const TOptionSyntax* FindLong(std::span<const TOptionSyntax> syntax, const std::string& name, size_t* index) {
  for (size_t i = 0; i < syntax.size(); ++i) {
    if (name == syntax[i].name) {
      *index = i;
      return &syntax[i];
    }
  }
  return nullptr;
}

const TOptionSyntax* FindShort(std::span<const TOptionSyntax> syntax, char letter, size_t* index) {
  for (size_t i = 0; i < syntax.size(); ++i) {
    if (syntax[i].short_name != 0 && syntax[i].short_name == letter) {
      *index = i;
      return &syntax[i];
    }
  }
  return nullptr;
}

TParsedArguments Fail(std::string message) {
  TParsedArguments result;
  result.ok = false;
  result.error = std::move(message);
  return result;
}

}  // namespace

const char* OnOffDigit(const std::string& value) {
  static constexpr const char* kOn[] = {"1", "yes", "on", "true"};
  static constexpr const char* kOff[] = {"0", "no", "off", "false"};
  for (const char* word : kOn) {
    if (::strcasecmp(value.c_str(), word) == 0) return "1";
  }
  for (const char* word : kOff) {
    if (::strcasecmp(value.c_str(), word) == 0) return "0";
  }
  return nullptr;
}

TParsedArguments ParseArguments(std::span<const TOptionSyntax> syntax, int argc, const char* const* argv) {
  TParsedArguments result;
  bool options_ended = false;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      result.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    TParsedOption parsed;
    if (arg[1] == '-') {
      const size_t equals = arg.find('=');
      const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
      const bool has_value = equals != std::string::npos;
      const TOptionSyntax* option = FindLong(syntax, name, &parsed.index);
      bool negated = false;
      if (option == nullptr && name.starts_with("no-")) {
        option = FindLong(syntax, name.substr(3), &parsed.index);
        if (option != nullptr && option->arity != TOptionArity::kOnOff) option = nullptr;
        negated = option != nullptr;
      }
      if (option == nullptr) return Fail("unknown option '--" + name + "'");
      parsed.spelling = "--" + name;
      if (negated) {
        if (has_value) return Fail(parsed.spelling + " takes no value");
        parsed.value = "0";
      } else if (option->arity == TOptionArity::kNone) {
        if (has_value) return Fail(parsed.spelling + " takes no value");
      } else if (has_value) {
        parsed.value = arg.substr(equals + 1);
      } else if (option->arity == TOptionArity::kOnOff) {
        parsed.value = "1";
      } else {
        if (i + 1 >= argc) return Fail(parsed.spelling + " needs a value (--" + name + "=VALUE)");
        parsed.value = argv[++i];
      }
      result.options.push_back(std::move(parsed));
      continue;
    }
    // One or more one-letter options; one that takes a value takes the rest
    // of the argument, or the next argument.
    for (size_t k = 1; k < arg.size(); ++k) {
      TParsedOption letter;
      const TOptionSyntax* option = FindShort(syntax, arg[k], &letter.index);
      if (option == nullptr) return Fail(std::string("unknown option '-") + arg[k] + "'");
      letter.spelling = std::string("-") + arg[k];
      if (option->arity == TOptionArity::kOnOff) letter.value = "1";
      if (option->arity == TOptionArity::kValue) {
        if (k + 1 < arg.size()) {
          letter.value = arg.substr(k + 1);
        } else if (i + 1 < argc) {
          letter.value = argv[++i];
        } else {
          return Fail(letter.spelling + " needs a value");
        }
        result.options.push_back(std::move(letter));
        break;
      }
      result.options.push_back(std::move(letter));
    }
  }
  return result;
}
