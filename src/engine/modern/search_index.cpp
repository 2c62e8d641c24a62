#include "engine/modern/search_index.h"

#include <algorithm>
#include <cstdio>

#include "engine/modern/html.h"

namespace {

void AppendField(std::string& out, const char* name, const std::string& value) {
  out += ",\"";
  out += name;
  out += "\":";
  AppendScriptJsonString(out, value);
}

}  // namespace

void AppendScriptJsonString(std::string& out, std::string_view text) {
  std::string valid;
  AppendValidUtf8(valid, text.data(), text.size());
  out += '"';
  for (size_t i = 0; i < valid.size(); ++i) {
    const auto c = static_cast<unsigned char>(valid[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F || c == '<' || c == '>' || c == '&') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else if (c == 0xE2 && i + 2 < valid.size() && static_cast<unsigned char>(valid[i + 1]) == 0x80 &&
               (static_cast<unsigned char>(valid[i + 2]) == 0xA8 || static_cast<unsigned char>(valid[i + 2]) == 0xA9)) {
      // Line and paragraph separators end a string in older script engines.
      out += static_cast<unsigned char>(valid[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

std::string TSearchIndex::ScriptText() const {
  std::vector<const TSearchEntry*> order;
  order.reserve(entries_.size());
  for (const TSearchEntry& entry : entries_) order.push_back(&entry);
  std::sort(order.begin(), order.end(), [](const TSearchEntry* a, const TSearchEntry* b) { return a->page < b->page; });
  std::string out = "// The photos of this catalog for its search box: written by Vellumcast.\n";
  out += "window.vellumcastSearch = [\n";
  for (size_t k = 0; k < order.size(); ++k) {
    const TSearchEntry& entry = *order[k];
    out += "{\"n\":";
    AppendScriptJsonString(out, entry.name);
    AppendField(out, "p", entry.page);
    AppendField(out, "t", entry.thumbnail);
    AppendField(out, "ti", entry.title);
    AppendField(out, "c", entry.caption);
    out += ",\"k\":[";
    for (size_t w = 0; w < entry.keywords.size(); ++w) {
      if (w > 0) out += ',';
      AppendScriptJsonString(out, entry.keywords[w]);
    }
    out += ']';
    AppendField(out, "a", entry.album);
    AppendField(out, "d", entry.date);
    AppendField(out, "l", entry.label);
    out += k + 1 < order.size() ? "},\n" : "}\n";
  }
  out += "];\n";
  return out;
}
