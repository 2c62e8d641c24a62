#include "support/setting_lines.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Appends a UTF-16 code unit from an escape as UTF-8; false for a surrogate
// half, which a single escape cannot form into a character.
bool AppendCodeUnit(uint32_t unit, std::string* out) {
  if (unit >= 0xD800 && unit <= 0xDFFF) return false;
  if (unit < 0x80) {
    out->push_back(static_cast<char>(unit));
  } else if (unit < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (unit >> 6)));
    out->push_back(static_cast<char>(0x80 | (unit & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (unit >> 12)));
    out->push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (unit & 0x3F)));
  }
  return true;
}

char SimpleEscape(char c) {
  switch (c) {
    case 'a': return '\a';
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'v': return '\v';
    case '"': return '"';
    case '\'': return '\'';
    case '?': return '?';
    case '\\': return '\\';
    default: return 0;
  }
}

// Drops trailing blanks of `item` that stand after `keep` (blanks an escape
// produced stay).
void ChopTrailingBlanks(std::string* item, size_t keep) {
  while (item->size() > keep && (item->back() == ' ' || item->back() == '\t')) item->pop_back();
}

// One INI value as QSettings reads it: quoted parts, escapes, and unquoted
// commas between the items of a list. False with `error` set on what
// QSettings would have to guess about.
bool UnescapeIniValue(std::string_view raw, std::vector<std::string>* items, bool* is_list,
                      std::string* error) {
  items->clear();
  *is_list = false;
  std::string item;
  size_t keep = 0;  // item bytes that trailing-blank chopping must leave
  bool in_quotes = false;
  bool item_quoted = false;
  size_t i = 0;
  auto skip_blanks = [&] {
    while (i < raw.size() && (raw[i] == ' ' || raw[i] == '\t')) ++i;
  };
  skip_blanks();
  while (i < raw.size()) {
    const char c = raw[i];
    if (c == '\\') {
      if (i + 1 >= raw.size()) {
        *error = "a backslash ends the value";
        return false;
      }
      const char e = raw[i + 1];
      i += 2;
      if (const char simple = SimpleEscape(e); simple != 0) {
        item.push_back(simple);
      } else if (e == 'x' || (e >= '0' && e <= '7')) {
        const bool hex = e == 'x';
        uint32_t unit = hex ? 0 : static_cast<uint32_t>(e - '0');
        size_t digits = hex ? 0 : 1;
        while (i < raw.size()) {
          const int v = hex ? HexValue(raw[i]) : (raw[i] >= '0' && raw[i] <= '7' ? raw[i] - '0' : -1);
          if (v < 0) break;
          unit = unit * (hex ? 16 : 8) + static_cast<uint32_t>(v);
          if (unit > 0xFFFF) {
            *error = "an escape beyond \\xffff";
            return false;
          }
          ++digits;
          ++i;
        }
        if (digits == 0) {
          *error = "\\x without hexadecimal digits";
          return false;
        }
        if (!AppendCodeUnit(unit, &item)) {
          *error = "an escape of half a UTF-16 surrogate pair";
          return false;
        }
      } else {
        *error = std::string("unknown escape \\") + e;
        return false;
      }
      keep = item.size();
      continue;
    }
    if (c == '"') {
      ++i;
      item_quoted = true;
      in_quotes = !in_quotes;
      if (!in_quotes) {
        keep = item.size();
        skip_blanks();
      }
      continue;
    }
    if (c == ',' && !in_quotes) {
      if (!item_quoted) ChopTrailingBlanks(&item, keep);
      items->push_back(std::move(item));
      item.clear();
      keep = 0;
      item_quoted = false;
      *is_list = true;
      ++i;
      skip_blanks();
      continue;
    }
    item.push_back(c);
    if (in_quotes) keep = item.size();
    ++i;
  }
  if (in_quotes) {
    *error = "a quote is not closed";
    return false;
  }
  if (!item_quoted) ChopTrailingBlanks(&item, keep);
  items->push_back(std::move(item));
  return true;
}

// QSettings' typed texts: "@@..." is a text starting with '@'; "@String(x)"
// and "@ByteArray(x)" are x; every other "@Name(...)" is a value of another
// type (or "@Invalid()"), which no text setting can take.
bool UntypeIniText(std::string* text) {
  if (text->empty() || (*text)[0] != '@') return true;
  if (text->size() >= 2 && (*text)[1] == '@') {
    text->erase(0, 1);
    return true;
  }
  for (const char* prefix : {"@String(", "@ByteArray("}) {
    const size_t length = std::strlen(prefix);
    if (text->size() > length && text->compare(0, length, prefix) == 0 && text->back() == ')') {
      *text = text->substr(length, text->size() - length - 1);
      return true;
    }
  }
  return false;
}

// A key as QSettings escapes it: %XX for a byte, %UXXXX for a character.
bool UnescapeIniKey(std::string_view raw, std::string* key) {
  key->clear();
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '%') {
      key->push_back(raw[i] == '\\' ? '/' : raw[i]);
      continue;
    }
    const bool wide = i + 1 < raw.size() && raw[i + 1] == 'U';
    const size_t digits = wide ? 4 : 2;
    const size_t start = i + (wide ? 2 : 1);
    if (start + digits > raw.size()) return false;
    uint32_t unit = 0;
    for (size_t d = 0; d < digits; ++d) {
      const int v = HexValue(raw[start + d]);
      if (v < 0) return false;
      unit = unit * 16 + static_cast<uint32_t>(v);
    }
    if (!AppendCodeUnit(unit, key)) return false;
    i = start + digits - 1;
  }
  return !key->empty();
}

TSettingLines Fail(TSettingLines result, int line, std::string message) {
  result.ok = false;
  result.error_line = line;
  result.error = std::move(message);
  result.lines.clear();
  return result;
}

// Calls `each(line_text, line_number)` for every line (without its line
// feed); stops and returns false as soon as `each` does.
template <typename Each>
bool ForEachLine(std::string_view text, Each each) {
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  int number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    ++number;
    if (!each(line, number)) return false;
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return true;
}

}  // namespace

namespace {

// Reads a QSettings INI text. Strict (the first unreadable line fails the
// whole text) unless `lenient`, which skips such lines. `unsafe`, when given,
// is set when some line of any section could not be read or holds a typed
// value that no text setting can take.
TSettingLines ReadQtIni(std::string_view text, bool lenient, bool* unsafe) {
  TSettingLines result;
  bool in_general = true;  // keys before any section are top-level keys too
  auto unreadable = [&](int number, const char* message) {
    if (unsafe != nullptr) *unsafe = true;
    if (lenient) return true;
    result = Fail(std::move(result), number, message);
    return false;
  };
  ForEachLine(text, [&](std::string_view raw_line, int number) {
    const std::string_view line = Trim(raw_line);
    if (line.empty() || line[0] == ';' || line[0] == '#') return true;
    if (line.find('\0') != std::string_view::npos) return unreadable(number, "a NUL byte in the line");
    if (line[0] == '[') {
      if (line.back() != ']') return unreadable(number, "a section header without ']'");
      in_general = line == "[General]";
      return true;
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) return unreadable(number, "a line without '='");
    TSettingLine entry;
    entry.line = number;
    if (!UnescapeIniKey(Trim(line.substr(0, equals)), &entry.name)) {
      return unreadable(number, "a key that is empty or badly escaped");
    }
    std::vector<std::string> items;
    bool is_list = false;
    std::string error;
    if (!UnescapeIniValue(line.substr(equals + 1), &items, &is_list, &error)) {
      return unreadable(number, error.c_str());
    }
    bool typed_other = false;
    for (std::string& item : items) typed_other = !UntypeIniText(&item) || typed_other;
    if (typed_other && unsafe != nullptr) *unsafe = true;
    if (!in_general || typed_other) return true;
    for (size_t i = 0; i < items.size(); ++i) {
      if (i > 0) entry.value += ", ";
      entry.value += items[i];
    }
    result.lines.push_back(std::move(entry));
    return true;
  });
  return result;
}

}  // namespace

TSettingLines ParseQtIniText(std::string_view text) { return ReadQtIni(text, false, nullptr); }

TSettingLines SalvageQtIniText(std::string_view text, bool* holds_only_texts) {
  bool unsafe = false;
  TSettingLines result = ReadQtIni(text, true, &unsafe);
  *holds_only_texts = !unsafe;
  return result;
}

TSettingLines ParseConfigText(std::string_view text) {
  TSettingLines result;
  ForEachLine(text, [&](std::string_view raw_line, int number) {
    const std::string_view line = Trim(raw_line);
    if (line.empty() || line[0] == '#') return true;
    if (line.find('\0') != std::string_view::npos) {
      result = Fail(std::move(result), number, "a NUL byte in the line");
      return false;
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      result = Fail(std::move(result), number, "expected name=value");
      return false;
    }
    const std::string_view name = Trim(line.substr(0, equals));
    if (name.empty()) {
      result = Fail(std::move(result), number, "a name is missing before '='");
      return false;
    }
    TSettingLine entry;
    entry.name = std::string(name);
    entry.value = std::string(Trim(line.substr(equals + 1)));
    entry.line = number;
    result.lines.push_back(std::move(entry));
    return true;
  });
  return result;
}
