// CommonMark through cmark with its safe rendering (the default since 0.29):
// no raw HTML, no dangerous link targets.

#include "engine/modern/markdown.h"

#include <cmark.h>

#include <cstdlib>
#include <string>
#include <string_view>

namespace {

bool Blank(std::string_view text) {
  for (const char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  }
  return true;
}

// The text of a node's inline content, marks dropped, breaks as newlines.
void AppendPlainText(cmark_node* node, std::string* out) {
  for (cmark_node* child = cmark_node_first_child(node); child != nullptr; child = cmark_node_next(child)) {
    switch (cmark_node_get_type(child)) {
      case CMARK_NODE_TEXT:
      case CMARK_NODE_CODE: {
        const char* literal = cmark_node_get_literal(child);
        if (literal != nullptr) out->append(literal);
        break;
      }
      case CMARK_NODE_SOFTBREAK:
      case CMARK_NODE_LINEBREAK:
        out->push_back('\n');
        break;
      case CMARK_NODE_HTML_INLINE:
        break;
      default:
        AppendPlainText(child, out);
    }
  }
}

}  // namespace

std::string MarkdownToHtml(std::string_view markdown) {
  if (Blank(markdown)) return {};
  char* html = cmark_markdown_to_html(markdown.data(), markdown.size(), CMARK_OPT_DEFAULT | CMARK_OPT_VALIDATE_UTF8);
  if (html == nullptr) return {};
  std::string result(html);
  std::free(html);
  return result;
}

std::string MarkdownFirstLine(std::string_view markdown) {
  if (Blank(markdown)) return {};
  cmark_node* document = cmark_parse_document(markdown.data(), markdown.size(), CMARK_OPT_VALIDATE_UTF8);
  if (document == nullptr) return {};
  std::string text;
  cmark_iter* iter = cmark_iter_new(document);
  for (cmark_event_type event; (event = cmark_iter_next(iter)) != CMARK_EVENT_DONE;) {
    cmark_node* node = cmark_iter_get_node(iter);
    const cmark_node_type type = cmark_node_get_type(node);
    if (event == CMARK_EVENT_ENTER && (type == CMARK_NODE_PARAGRAPH || type == CMARK_NODE_HEADING)) {
      AppendPlainText(node, &text);
      if (!Blank(text)) break;
      text.clear();
    }
  }
  cmark_iter_free(iter);
  cmark_node_free(document);
  // The first line of that paragraph: up to its first break.
  text = text.substr(0, text.find('\n'));
  const size_t start = text.find_first_not_of(" \t");
  if (start == std::string::npos) return {};
  const size_t end = text.find_last_not_of(" \t");
  return text.substr(start, end - start + 1);
}
