#include "engine/catalog_filter.h"

#include "engine/image_order.h"

#include <strings.h>

#include <cstring>
#include <iterator>

#include "imagein/image_format.h"
#include "platform/dir_listing.h"

namespace {

constexpr const char* kClassicPatterns[] = {"*.gif", "*.jpg", "*.bmp"};
constexpr const char* kAllPatterns[] = {"*.gif",  "*.jpg",  "*.bmp", "*.jpeg", "*.jpe",
                                        "*.jfif", "*.png",  "*.webp", "*.heic", "*.heif",
                                        "*.avif", "*.tif",  "*.tiff", "*.tga",  "*.fts",
                                        "*.fits"};
// Folders a NAS keeps its own data in.
constexpr const char* kMetadataFolders[] = {"@eaDir", "#recycle"};

}  // namespace

const char* const* CatalogPatterns(int32_t formats, size_t* count) {
  if (formats == kFormatsAll) {
    *count = std::size(kAllPatterns);
    return kAllPatterns;
  }
  *count = std::size(kClassicPatterns);
  return kClassicPatterns;
}

bool ParseCatalogFormats(const char* text, int32_t* formats) {
  if (std::strcmp(text, "classic") == 0) {
    *formats = kFormatsClassic;
    return true;
  }
  if (std::strcmp(text, "all") == 0) {
    *formats = kFormatsAll;
    return true;
  }
  return false;
}

const char* CatalogFormatsName(int32_t formats) { return formats == kFormatsAll ? "all" : "classic"; }

bool IsExcludedName(const TThreadVellumcast& worker, const char* name) {
  for (const std::string& pattern : worker.exclude) {
    if (!pattern.empty() && WildcardMatch(pattern.c_str(), name)) return true;
  }
  return false;
}

bool IsSkippedFolder(const TThreadVellumcast& worker, const char* name) {
  if (IsExcludedName(worker, name)) return true;
  if (worker.skiphidden == 0) return false;
  if (name[0] == '.') return true;
  for (const char* folder : kMetadataFolders) {
    if (::strcasecmp(name, folder) == 0) return true;
  }
  return false;
}

bool IsUndisplayableWithoutThumbnail(const TThreadVellumcast& worker, const char* name) {
  return worker.createthumbs == 0 && !BrowserDisplaysFormat(ImageFormatOfPath(name));
}

std::vector<std::string> SplitPatternList(const std::string& text) {
  std::vector<std::string> patterns;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) patterns.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return patterns;
}

std::string JoinPatternList(const std::vector<std::string>& patterns) {
  std::string text;
  for (const std::string& pattern : patterns) {
    if (!text.empty()) text += ';';
    text += pattern;
  }
  return text;
}

void ResolveStyleDefaults(TThreadVellumcast& worker) {
  const bool modern = worker.style == 1;
  if (worker.formats == kFollowStyle) worker.formats = modern ? kFormatsAll : kFormatsClassic;
  if (worker.order == kFollowStyle) worker.order = modern ? kOrderNatural : kOrderName;
  if (worker.prune == kFollowStyle) worker.prune = modern ? 1 : 0;
  if (worker.skiphidden == kFollowStyle) worker.skiphidden = modern ? 1 : 0;
}
