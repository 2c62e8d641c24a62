#include "engine/publish/folder_place.h"

#include <algorithm>
#include <cstring>

#include "engine/classic/html_escape.h"
#include "engine/modern/html.h"

namespace {

std::vector<std::string> Components(const char* path) {
  std::vector<std::string> parts;
  const char* start = path;
  for (const char* p = path;; ++p) {
    if (*p == '/' || *p == '\0') {
      if (p > start) parts.emplace_back(start, static_cast<size_t>(p - start));
      if (*p == '\0') break;
      start = p + 1;
    }
  }
  return parts;
}

}  // namespace

bool TFolderPlace::IsLocal(const char* name) const {
  return std::binary_search(local.begin(), local.end(), std::string(name));
}

TFolderPlace PlaceInTree(const char* folder) {
  TFolderPlace place;
  place.source = folder;
  place.output = folder;
  return place;
}

std::string RelativeFolderLink(const char* from, const char* to) {
  const std::vector<std::string> a = Components(from);
  const std::vector<std::string> b = Components(to);
  size_t common = 0;
  while (common < a.size() && common < b.size() && a[common] == b[common]) ++common;
  std::string link;
  for (size_t i = common; i < a.size(); ++i) link += "../";
  for (size_t i = common; i < b.size(); ++i) link += b[i] + "/";
  return link;
}

std::string OriginalLink(const TFolderPlace& place, const char* name) {
  if (place.link_prefix.empty() || place.IsLocal(name)) return name;
  return place.link_prefix + name;
}

void AppendOriginalUrl(std::string& out, const TFolderPlace& place, const char* name) {
  if (place.link_prefix.empty() || place.IsLocal(name)) {
    AppendUrlEscaped(out, name);
    return;
  }
  for (const std::string& part : Components(place.link_prefix.c_str())) {
    if (part == "..") {
      out += "..";
    } else {
      AppendUrlEscaped(out, part.c_str());
    }
    out += '/';
  }
  AppendUrlEscaped(out, name);
}

void AppendModernOriginalUrl(std::string& out, const TFolderPlace& place, const char* name) {
  if (!place.link_prefix.empty() && !place.IsLocal(name)) {
    std::string prefix = place.link_prefix;
    prefix.pop_back();  // the path form takes no trailing '/'
    AppendModernUrlPath(out, prefix.c_str());
    out += '/';
  }
  AppendModernUrl(out, name);
}
