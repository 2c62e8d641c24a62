#pragma once
// Names and texts in the modern pages, which are UTF-8. A text is written as
// valid UTF-8 (each byte that does not belong to a well-formed sequence
// becomes U+FFFD) with '&', '<', '>' and '"' as entities. A URL path segment
// is percent-encoded except for unreserved ASCII characters and the few
// sub-delimiters that never end or redirect a relative URL.

#include <cstddef>
#include <string>

// Page text or a double-quoted attribute value.
void AppendModernText(std::string& out, const char* text);
void AppendModernText(std::string& out, const char* text, size_t length);

// Markup passed on as it is (templates), made valid UTF-8.
void AppendValidUtf8(std::string& out, const char* text, size_t length);

// One path segment (a file or folder name) of a relative URL.
void AppendModernUrl(std::string& out, const char* name);

// A relative path of segments separated by '/': each segment as above.
void AppendModernUrlPath(std::string& out, const char* path);
