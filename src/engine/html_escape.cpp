#include "engine/html_escape.h"

#include <cstring>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendPercent(std::string& out, unsigned char c) {
  out += '%';
  out += kHexDigits[c >> 4];
  out += kHexDigits[c & 0x0F];
}

bool NeedsPercent(unsigned char c, bool at_edge, bool refresh) {
  if (c == ' ') return at_edge;
  if (c < 0x21 || c >= 0x7F) return true;
  switch (c) {
    case '"':
    case '#':
    case '%':
    case '?':
    case '\\':  // browsers read a backslash as a path separator
      return true;
    case '\'':
      return refresh;
    default:
      return false;
  }
}

void AppendUrl(std::string& out, const char* name, bool refresh) {
  const size_t length = std::strlen(name);
  for (size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (NeedsPercent(c, i == 0 || i + 1 == length, refresh)) {
      AppendPercent(out, c);
    } else if (c == '&') {
      out += "&amp;";
    } else {
      out += static_cast<char>(c);
    }
  }
}

}  // namespace

void AppendUrlEscaped(std::string& out, const char* name) { AppendUrl(out, name, false); }

void AppendRefreshUrlEscaped(std::string& out, const char* name) { AppendUrl(out, name, true); }

void AppendHtmlText(std::string& out, const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    switch (*p) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += *p;
    }
  }
}
