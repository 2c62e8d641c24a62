// A folder's index.md and the `Name: value` header shared with the Markdown
// sidecars of photos.

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "imagein/photo_text.h"
#include "imagein/photo_text_parts.h"
#include "support/path_util.h"
#include "support/text_search.h"

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// "Name: value" with a one-word name (letters, digits, '-', '_') that starts with a letter.
bool HeaderLine(std::string_view line, std::string* name, std::string* value) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  const std::string_view n = Trim(line.substr(0, colon));
  if (n.empty() || !std::isalpha(static_cast<unsigned char>(n.front()))) return false;
  for (const char c : n) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return false;
  }
  *name = std::string(n);
  *value = std::string(Trim(line.substr(colon + 1)));
  return true;
}

}  // namespace

void SplitTextHeader(std::string_view text, std::vector<std::pair<std::string, std::string>>* fields,
                     std::string_view* body) {
  fields->clear();
  if (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF && static_cast<unsigned char>(text[1]) == 0xBB &&
      static_cast<unsigned char>(text[2]) == 0xBF) {
    text.remove_prefix(3);  // a byte order mark some editors write
  }
  std::string_view rest = text;
  auto next_line = [](std::string_view* from) {
    const size_t end = from->find('\n');
    const std::string_view line = from->substr(0, end);
    from->remove_prefix(end == std::string_view::npos ? from->size() : end + 1);
    return line;
  };
  bool fenced = false;
  {
    std::string_view probe = rest;
    if (Trim(next_line(&probe)) == "---") {
      fenced = true;
      rest = probe;
    }
  }
  std::string name;
  std::string value;
  for (;;) {
    if (rest.empty()) break;
    std::string_view probe = rest;
    const std::string_view line = next_line(&probe);
    if (fenced && Trim(line) == "---") {
      rest = probe;
      break;
    }
    if (!HeaderLine(line, &name, &value)) break;
    fields->emplace_back(name, value);
    rest = probe;
  }
  if (fields->empty() && !fenced) {
    *body = text;
    return;
  }
  // One blank line between header and body is the separator.
  std::string_view probe = rest;
  if (!rest.empty() && Trim(next_line(&probe)).empty()) rest = probe;
  *body = rest;
}

bool ReadAlbumText(const char* folder, TAlbumText* album, std::string* warning) {
  *album = TAlbumText{};
  warning->clear();
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  path += "index.md";
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0 && errno == ENOENT) return false;
  std::string text;
  std::string error;
  if (!ReadWholeRegularFile(path.c_str(), static_cast<size_t>(kMaxTextSidecarBytes), TLinkRule::kFollow, &text, &error)) {
    *warning = path + ": " + error;
    return false;
  }
  if (!IsUtf8Text(text)) {
    *warning = path + ": not UTF-8 text";
    return false;
  }
  std::vector<std::pair<std::string, std::string>> fields;
  std::string_view body;
  SplitTextHeader(text, &fields, &body);
  for (const auto& [name, value] : fields) {
    if (SameNoCase(name, "title")) {
      album->title = value;
    } else if (SameNoCase(name, "thumbnail")) {
      album->cover = value;
    } else if (SameNoCase(name, "sort")) {
      for (const char* known : {"name", "natural", "date"}) {
        if (SameNoCase(value, known)) album->sort = known;
      }
    } else if (SameNoCase(name, "reverse")) {
      album->reverse = SameNoCase(value, "yes") || SameNoCase(value, "true") || value == "1";
    }
  }
  album->description = std::string(body);
  album->present = true;
  return true;
}
