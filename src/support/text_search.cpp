#include "support/text_search.h"

#include <strings.h>

#include <cctype>
#include <cstring>

ptrdiff_t FindNoCase(const char* line, size_t length, const char* needle) {
  const size_t needle_length = std::strlen(needle);
  if (needle_length > length) return -1;
  for (size_t i = 0; i + needle_length <= length; ++i) {
    size_t k = 0;
    while (k < needle_length &&
           std::tolower(static_cast<unsigned char>(line[i + k])) == static_cast<unsigned char>(needle[k])) {
      ++k;
    }
    if (k == needle_length) return static_cast<ptrdiff_t>(i);
  }
  return -1;
}

bool EndsWithNoCase(const char* text, size_t length, const char* suffix) {
  const size_t suffix_length = std::strlen(suffix);
  return length > suffix_length && ::strncasecmp(text + length - suffix_length, suffix, suffix_length) == 0;
}

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}
