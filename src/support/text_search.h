#pragma once
// Finding words in bytes without regard to ASCII case.

#include <cstddef>
#include <string_view>

// Position of the lower-case `needle` in the `length` bytes of `line`,
// without regard to case; -1 when absent.
ptrdiff_t FindNoCase(const char* line, size_t length, const char* needle);

// True when the `length` bytes of `text` end with `suffix` (any case) and
// have something before it.
bool EndsWithNoCase(const char* text, size_t length, const char* suffix);

// True when `a` and `b` are the same bytes without regard to ASCII case.
bool SameNoCase(std::string_view a, std::string_view b);
