#include "ui/int_parse.h"

namespace {

int DigitValue(char c, int base) {
  int value = -1;
  if (c >= '0' && c <= '9') value = c - '0';
  else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value < base ? value : -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::optional<int32_t> ParseInt32(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  int base = 10;
  const std::string_view rest = text.substr(pos);
  if (rest.starts_with('$') || rest.starts_with('x') || rest.starts_with('X')) {
    base = 16;
    pos += 1;
  } else if (rest.starts_with("0x") || rest.starts_with("0X")) {
    base = 16;
    pos += 2;
  }
  if (pos >= text.size()) return std::nullopt;  // no digit at all

  // The magnitude may reach 2^31 only for a negative number.
  const int64_t limit = negative ? int64_t{1} << 31 : (int64_t{1} << 31) - 1;
  int64_t magnitude = 0;
  for (; pos < text.size(); ++pos) {
    const int digit = DigitValue(text[pos], base);
    if (digit < 0) return std::nullopt;
    magnitude = magnitude * base + digit;
    if (magnitude > limit) return std::nullopt;
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

int32_t StrToIntDef(const QString& text, int32_t fallback) {
  // Any character beyond Latin-1 is not a digit; toLatin1 would map it to '?',
  // which the parse refuses as well.
  const QByteArray bytes = text.toLatin1();
  const std::optional<int32_t> value =
      ParseInt32(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
  return value.value_or(fallback);
}
