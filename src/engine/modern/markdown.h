#pragma once
// Markdown of captions and album texts as HTML for the pages, through
// CommonMark (cmark): raw HTML in the text is left out and links whose
// address could run code (javascript:, vbscript:, file:, data: other than
// images) lose their address, so a caption cannot put script into a page.

#include <string>
#include <string_view>

// The HTML of `markdown` (UTF-8). Empty for an empty or blank text.
std::string MarkdownToHtml(std::string_view markdown);

// The plain text of `markdown`'s first line of prose, without its marks
// (for a cell caption or a title attribute), trimmed; empty when none.
std::string MarkdownFirstLine(std::string_view markdown);
