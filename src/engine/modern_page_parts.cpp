#include "engine/modern_page_parts.h"

#include <strings.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "engine/generated_names.h"
#include "engine/modern_css.h"
#include "engine/modern_html.h"
#include "support/path_util.h"

namespace {

std::string LastComponent(std::string path) {
  while (path.size() > 1 && path.back() == kPathSeparator) path.pop_back();
  const size_t slash = path.rfind(kPathSeparator);
  if (slash == std::string::npos || path.size() == 1) return path;
  return path.substr(slash + 1);
}

}  // namespace

void AppendNumber(std::string& out, int64_t value) { out += std::to_string(value); }

void AppendModernOriginal(std::string& out, const TModernFolder& folder, const char* name) {
  if (folder.place == nullptr) {
    AppendModernUrl(out, name);
  } else {
    AppendModernOriginalUrl(out, *folder.place, name);
  }
}

std::string FolderDisplayName(const char* folder, int32_t depth) {
  if (depth > 0) return LastComponent(folder);
  // "." or "pics/" at the top: the name of the folder itself.
  char* resolved = ::realpath(*folder == '\0' ? "." : folder, nullptr);
  std::string name = LastComponent(resolved != nullptr ? resolved : folder);
  std::free(resolved);
  return name;
}

std::string ModernTitle(const TModernFolder& folder, const std::string& name) {
  std::string title = name;
  if (!folder.worker->title.empty() && folder.worker->title != name) {
    title += " \xE2\x80\x93 ";  // en dash
    title += folder.worker->title;
  }
  return title;
}

void AppendModernHead(std::string& out, const TModernFolder& folder, const std::string& title,
                      const std::string* refresh_url, const char* body_class) {
  out += "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  out += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
  out += kGeneratorMarker;
  out += '\n';
  if (refresh_url != nullptr) {
    out += "<meta http-equiv=\"refresh\" content=\"0; url=";
    out += *refresh_url;
    out += "\">\n";
  }
  out += "<title>";
  AppendModernText(out, title.c_str());
  out += "</title>\n";
  AppendModernStyle(out, folder.worker->cellwidth, folder.worker->cellheight);
  out += folder.head_extra;
  out += "</head>\n<body";
  if (body_class != nullptr) {
    out += " class=\"";
    out += body_class;
    out += '"';
  }
  out += ">\n";
}

void AppendModernFoot(std::string& out, const TModernFolder& folder) {
  if (!folder.worker->footertext.empty()) {
    out += "<footer class=\"vc-foot\"><p>";
    AppendModernText(out, folder.worker->footertext.c_str());
    out += "</p></footer>\n";
  }
  out += folder.body_end;
  out += "</body>\n</html>\n";
}

std::string ModernPageName(const TModernFolder& folder, int32_t page) {
  if (page == 0) return folder.first;
  return "vellumcast" + std::to_string(page) + ".html";
}

std::string ViewerPageName(const char* name) {
  char stem[32];
  NamedImageStem(name, stem, sizeof stem);
  // The stem is "vc-" and 16 hex digits.
  return std::string(kViewerPagePrefix) + (stem + 3) + ".html";
}

bool IsBrowserImageName(const char* name) {
  static constexpr const char* kExtensions[] = {".jpg", ".jpeg", ".jpe", ".gif", ".png",
                                                ".webp", ".bmp", ".avif", ".ico"};
  const size_t length = std::strlen(name);
  for (const char* extension : kExtensions) {
    const size_t n = std::strlen(extension);
    if (length > n && ::strcasecmp(name + length - n, extension) == 0) return true;
  }
  return false;
}
