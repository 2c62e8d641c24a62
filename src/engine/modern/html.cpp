#include "engine/modern/html.h"

#include <cstdint>
#include <cstring>

#include "support/utf8.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

template <typename TAppendAscii>
void AppendUtf8(std::string& out, const char* text, size_t length, TAppendAscii append_ascii) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0;
  while (i < length) {
    uint32_t code_point = 0;
    const size_t n = DecodeUtf8Sequence(p + i, length - i, &code_point);
    if (n == 0) {
      out += kReplacement;
      ++i;
    } else if (n == 1) {
      append_ascii(out, static_cast<char>(p[i]));
      ++i;
    } else {
      out.append(text + i, n);
      i += n;
    }
  }
}

bool IsUrlSafe(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '-':
    case '.':
    case '_':
    case '~':
    case '!':
    case '$':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
    case '@':
      return true;
    default:
      return false;
  }
}

void AppendSegment(std::string& out, const char* name, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (IsUrlSafe(c)) {
      out += static_cast<char>(c);
      continue;
    }
    out += '%';
    out += kHexDigits[c >> 4];
    out += kHexDigits[c & 0x0F];
  }
}

}  // namespace

void AppendModernText(std::string& out, const char* text) { AppendModernText(out, text, std::strlen(text)); }

void AppendModernText(std::string& out, const char* text, size_t length) {
  AppendUtf8(out, text, length, [](std::string& o, char c) {
    switch (c) {
      case '&':
        o += "&amp;";
        break;
      case '<':
        o += "&lt;";
        break;
      case '>':
        o += "&gt;";
        break;
      case '"':
        o += "&quot;";
        break;
      case '\0':
        o += kReplacement;
        break;
      default:
        o += c;
    }
  });
}

void AppendValidUtf8(std::string& out, const char* text, size_t length) {
  AppendUtf8(out, text, length, [](std::string& o, char c) {
    if (c == '\0') {
      o += kReplacement;
    } else {
      o += c;
    }
  });
}

void AppendModernUrl(std::string& out, const char* name) {
  const size_t length = std::strlen(name);
  // "." and ".." as a name would move up or stay; encoded they name the file.
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
    for (size_t i = 0; i < length; ++i) out += "%2E";
    return;
  }
  AppendSegment(out, name, length);
}

void AppendModernUrlPath(std::string& out, const char* path) {
  const char* segment = path;
  for (const char* p = path;; ++p) {
    if (*p == '/' || *p == '\0') {
      const std::string part(segment, static_cast<size_t>(p - segment));
      if (part == "..") {
        out += "..";
      } else {
        AppendModernUrl(out, part.c_str());
      }
      if (*p == '\0') return;
      out += '/';
      segment = p + 1;
    }
  }
}
