#include "engine/modern/template.h"

#include <strings.h>

#include <cstring>

#include "engine/modern/html.h"
#include "engine/classic/page_writer.h"
#include "engine/classic/template_reader.h"
#include "support/text_search.h"

namespace {

bool ReadTemplate(const char* path, std::string* text) {
  TTemplateReader reader(path);
  if (!reader.IsOpen()) return false;
  const char* line;
  size_t length;
  while (reader.NextLine(&line, &length)) {
    if (text->size() + length > kMaxModernTemplateBytes) break;
    text->append(line, length);
  }
  return true;
}

ptrdiff_t Find(const std::string& text, const char* needle, size_t from = 0) {
  if (from > text.size()) return -1;
  const ptrdiff_t at = FindNoCase(text.data() + from, text.size() - from, needle);
  return at < 0 ? -1 : at + static_cast<ptrdiff_t>(from);
}

// Position just past the '>' that ends the tag starting at `at`.
size_t PastTag(const std::string& text, size_t at) {
  const size_t end = text.find('>', at);
  return end == std::string::npos ? text.size() : end + 1;
}

// Cuts the text at its first body end tag, else its first html end tag.
void CutAtDocumentEnd(std::string& text) {
  ptrdiff_t cut = Find(text, "</body");
  if (cut < 0) cut = Find(text, "</html");
  if (cut >= 0) text.resize(static_cast<size_t>(cut));
}

// True when a tag named `name` (lower case) starts at `at`: the name is
// followed by '>', '/', white space or the end.
bool TagAt(const std::string& text, size_t at, const char* name) {
  const size_t length = std::strlen(name);
  if (text.size() - at < length || ::strncasecmp(text.data() + at, name, length) != 0) return false;
  if (at + length >= text.size()) return true;
  const char next = text[at + length];
  return next == '>' || next == '/' || next == ' ' || next == '\t' || next == '\n' || next == '\r';
}

// The text without doctype, html, head and body tags.
std::string WithoutDocumentTags(const std::string& text) {
  static constexpr const char* kTags[] = {"<!doctype", "<html", "</html", "<head", "</head", "<body", "</body"};
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    bool dropped = false;
    if (text[i] == '<') {
      for (const char* tag : kTags) {
        if (TagAt(text, i, tag)) {
          i = PastTag(text, i);
          dropped = true;
          break;
        }
      }
    }
    if (!dropped) out += text[i++];
  }
  return out;
}

// Appends every element `<name ...>...</name>` (or the lone tag when
// `closed` is false) found in the text.
void CopyElements(const std::string& text, const char* name, bool closed, std::string* out) {
  const std::string open = std::string("<") + name;
  const std::string close = std::string("</") + name;
  size_t from = 0;
  for (;;) {
    const ptrdiff_t at = Find(text, open.c_str(), from);
    if (at < 0) return;
    const size_t start = static_cast<size_t>(at);
    if (!TagAt(text, start, open.c_str())) {
      from = start + 1;
      continue;
    }
    size_t end = PastTag(text, start);
    if (closed) {
      const ptrdiff_t end_tag = Find(text, close.c_str(), end);
      if (end_tag < 0) return;  // an unfinished element is left out
      end = PastTag(text, static_cast<size_t>(end_tag));
    }
    AppendValidUtf8(*out, text.data() + start, end - start);
    *out += '\n';
    from = end;
  }
}

}  // namespace

void ReadModernHeaderTemplate(const char* path, std::string* head_extra, std::string* body_top) {
  std::string text;
  if (path == nullptr || *path == '\0' || !ReadTemplate(path, &text)) return;
  CutAtDocumentEnd(text);
  size_t split = 0;
  const ptrdiff_t body = Find(text, "<body");
  const ptrdiff_t head_end = Find(text, "</head");
  if (body >= 0) {
    split = PastTag(text, static_cast<size_t>(body));
  } else if (head_end >= 0) {
    split = PastTag(text, static_cast<size_t>(head_end));
  }
  const std::string head = text.substr(0, split);
  CopyElements(head, "style", true, head_extra);
  CopyElements(head, "link", false, head_extra);
  const std::string rest = WithoutDocumentTags(text.substr(split));
  AppendValidUtf8(*body_top, rest.data(), rest.size());
}

void ReadModernFooterTemplate(const char* path, std::string* body_end) {
  std::string text;
  if (path == nullptr || *path == '\0' || !ReadTemplate(path, &text)) return;
  const ptrdiff_t body = Find(text, "<body");
  if (body >= 0) text.erase(0, PastTag(text, static_cast<size_t>(body)));
  CutAtDocumentEnd(text);
  const std::string rest = WithoutDocumentTags(text);
  AppendValidUtf8(*body_end, rest.data(), rest.size());
}
