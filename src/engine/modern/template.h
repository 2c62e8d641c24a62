#pragma once
// Header and footer templates in the modern pages. The page's own head
// stays; a template's markup goes into the body:
// - header: the template up to its first body or html end tag; the part
//   after its body start tag (or after its head end tag) goes to the top of
//   the body, and from the part before it only style sheets (<style> and
//   <link> elements) go into the page's head;
// - footer: the part after its body start tag (the whole template without
//   one) up to its first body or html end tag, just before the body's end.
// Document tags (doctype, html, head, body) left in those parts are
// dropped, and the text is made valid UTF-8. A template that cannot be read
// adds nothing.

#include <string>

// Up to this many bytes of a template are read.
inline constexpr size_t kMaxModernTemplateBytes = 1 << 20;

void ReadModernHeaderTemplate(const char* path, std::string* head_extra, std::string* body_top);
void ReadModernFooterTemplate(const char* path, std::string* body_end);
