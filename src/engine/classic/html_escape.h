#pragma once
// File and folder names written into pages. In a URL position (href, src,
// the refresh URL) the bytes that would end, cut or redirect the URL are
// percent-encoded (%XX, upper-case hex) and "&" is written "&amp;"; a ":" is
// encoded too, so that no name can read as a scheme ("javascript:"). In a
// text position "&", "<" and ">" become entities, and every character beyond
// ASCII becomes a decimal character reference, so pages are pure ASCII and
// read the same whatever encoding a browser guesses. A printable ASCII name
// without such bytes is written unchanged, inner spaces included.

#include <string>

// Encodes bytes below 0x21 (a space only at either end of the name, where
// browsers would strip it), bytes 0x7F and above, and '"', '#', '%', ':',
// '?', '\'. The exact bytes of the name survive: a browser decodes them back.
void AppendUrlEscaped(std::string& out, const char* name);

// As AppendUrlEscaped, and also "'" (%27): the refresh header's URL parser
// would take a quote for the start of a quoted URL.
void AppendRefreshUrlEscaped(std::string& out, const char* name);

// A name as text: "&", "<", ">" as entities; each character of a valid UTF-8
// sequence beyond ASCII as "&#N;"; each byte that is not part of one as
// "&#65533;" (the replacement character).
void AppendHtmlText(std::string& out, const char* text);

// Text the user typed as markup (title, footer text): ASCII bytes are written
// as they are, so tags take effect; beyond ASCII as in AppendHtmlText.
void AppendMarkupText(std::string& out, const char* text);
