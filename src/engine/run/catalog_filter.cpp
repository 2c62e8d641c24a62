#include "engine/run/catalog_filter.h"

#include "engine/run/image_order.h"

#include <strings.h>

#include <cstring>
#include <iterator>

#include "imagein/format_table.h"
#include "platform/dir_listing.h"

namespace {

// Folders a NAS keeps its own data in.
constexpr const char* kMetadataFolders[] = {"@eaDir", "#recycle"};

}  // namespace

const char* const* CatalogPatterns(int32_t formats, size_t* count) {
  return FormatPatterns(formats != kFormatsAll, count);
}

std::vector<const char*> WalkPatterns(const TIndexOptions& options) {
  size_t count = 0;
  const char* const* patterns = CatalogPatterns(options.formats, &count);
  std::vector<const char*> all(patterns, patterns + count);
  if (options.style == kStyleModern) {
    const char* const* videos = VideoPatterns(&count);
    all.insert(all.end(), videos, videos + count);
  }
  return all;
}

bool ParseVideoMode(const char* text, int32_t* mode) {
  for (const int32_t candidate : {kVideoLink, kVideoTranscode, kVideoOff}) {
    if (std::strcmp(text, VideoModeName(candidate)) == 0) {
      *mode = candidate;
      return true;
    }
  }
  return false;
}

const char* VideoModeName(int32_t mode) {
  switch (mode) {
    case kVideoLink: return "link";
    case kVideoOff: return "off";
    default: return "transcode";
  }
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

bool IsExcludedName(const TIndexRun& run, const char* name) {
  for (const std::string& pattern : run.options.exclude) {
    if (!pattern.empty() && WildcardMatch(pattern.c_str(), name)) return true;
  }
  return false;
}

bool IsSkippedFolder(const TIndexRun& run, const char* name) {
  if (IsExcludedName(run, name)) return true;
  if (run.options.skiphidden == 0) return false;
  if (name[0] == '.') return true;
  for (const char* folder : kMetadataFolders) {
    if (::strcasecmp(name, folder) == 0) return true;
  }
  return false;
}

bool IsUndisplayableWithoutThumbnail(const TIndexRun& run, const char* name) {
  // The modern style makes a web copy of every image a browser cannot show.
  return run.options.style == kStyleClassic && run.options.createthumbs == 0 && !BrowserShowsPath(name);
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

void ResolveStyleDefaults(TIndexOptions& options) {
  const bool modern = options.style == kStyleModern;
  if (options.formats == kFormatsFollowStyle) options.formats = modern ? kFormatsAll : kFormatsClassic;
  if (options.order == kOrderFollowStyle) options.order = modern ? kOrderNatural : kOrderName;
  if (options.prune == kSwitchFollowStyle) options.prune = modern ? kSwitchOn : kSwitchOff;
  if (options.skiphidden == kSwitchFollowStyle) options.skiphidden = modern ? kSwitchOn : kSwitchOff;
}
