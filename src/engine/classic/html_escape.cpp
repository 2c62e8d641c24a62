#include "engine/classic/html_escape.h"

#include <cstdint>
#include <cstring>

#include "support/utf8.h"

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
    case ':':   // a name must never read as a scheme ("javascript:")
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

constexpr uint32_t kReplacementCharacter = 0xFFFD;

void AppendCharacterReference(std::string& out, uint32_t code_point) {
  out += "&#";
  out += std::to_string(code_point);
  out += ';';
}

// Writes text, with each ASCII byte through `ascii` and every other
// character as a character reference.
template <typename AsciiWriter>
void AppendWithReferences(std::string& out, const char* text, AsciiWriter ascii) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  const size_t length = std::strlen(text);
  for (size_t i = 0; i < length;) {
    if (bytes[i] < 0x80) {
      ascii(out, static_cast<char>(bytes[i]));
      ++i;
      continue;
    }
    uint32_t code_point = 0;
    const size_t size = DecodeUtf8Sequence(bytes + i, length - i, &code_point);
    if (size == 0) {
      AppendCharacterReference(out, kReplacementCharacter);
      ++i;
    } else {
      AppendCharacterReference(out, code_point);
      i += size;
    }
  }
}

void AppendTextByte(std::string& out, char c) {
  switch (c) {
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
      out += c;
  }
}

void AppendMarkupByte(std::string& out, char c) { out += c; }

}  // namespace

void AppendUrlEscaped(std::string& out, const char* name) { AppendUrl(out, name, false); }

void AppendRefreshUrlEscaped(std::string& out, const char* name) { AppendUrl(out, name, true); }

void AppendHtmlText(std::string& out, const char* text) { AppendWithReferences(out, text, AppendTextByte); }

void AppendMarkupText(std::string& out, const char* text) { AppendWithReferences(out, text, AppendMarkupByte); }
