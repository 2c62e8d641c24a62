#pragma once
// File and folder names written into pages. In a URL position (href, src,
// the refresh URL) the bytes that would end, cut or redirect the URL are
// percent-encoded (%XX, upper-case hex) and "&" is written "&amp;"; in a text
// position "&", "<" and ">" become entities. A printable ASCII name without
// such bytes is written unchanged, inner spaces included.

#include <string>

// Encodes bytes below 0x21 (a space only at either end of the name, where
// browsers would strip it), bytes 0x7F and above, and '"', '#', '%', '?', '\'.
void AppendUrlEscaped(std::string& out, const char* name);

// As AppendUrlEscaped, and also "'" (%27): the refresh header's URL parser
// would take a quote for the start of a quoted URL.
void AppendRefreshUrlEscaped(std::string& out, const char* name);

void AppendHtmlText(std::string& out, const char* text);
