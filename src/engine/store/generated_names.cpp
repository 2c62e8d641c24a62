#include "engine/store/generated_names.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/symbolic_link.h"
#include "support/fnv_hash.h"
#include "support/path_util.h"


namespace {

// Case-insensitive prefix test; the rest of the name after the prefix, or null.
const char* AfterPrefix(const char* name, const char* prefix) {
  const size_t length = std::strlen(prefix);
  if (::strncasecmp(name, prefix, length) != 0) return nullptr;
  return name + length;
}

// Decimal digits without leading zeros ("0" alone allowed when `zero_ok`),
// at most nine of them; the rest of the text after them, or null.
const char* AfterNumber(const char* text, bool zero_ok, int32_t* value) {
  if (*text < '0' || *text > '9') return nullptr;
  if (*text == '0' && (!zero_ok || (text[1] >= '0' && text[1] <= '9'))) return nullptr;
  int32_t n = 0;
  int digits = 0;
  while (*text >= '0' && *text <= '9') {
    if (++digits > 9) return nullptr;
    n = n * 10 + (*text - '0');
    ++text;
  }
  if (value != nullptr) *value = n;
  return text;
}

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

const char* AfterHex16(const char* text) {
  for (int i = 0; i < 16; ++i) {
    if (!IsHex(text[i])) return nullptr;
  }
  return text + 16;
}

bool IsBaseFolderFile(const char* name) {
  return IsCatalogPageName(name) || IsBackLinkPageName(name) || IsViewerPageName(name) ||
         IsOriginalsRecordName(name) || IsPageRecordName(name) || IsSearchIndexName(name);
}

bool IsBaseThumbnailFile(const char* name) {
  return IsCellThumbnailName(name) || IsNamedImageName(name) || IsManifestName(name) ||
         IsModernManifestName(name);
}

// Like the predicates above, on the first `length` bytes of `name`.
template <typename Predicate>
bool BaseMatches(const char* name, size_t length, Predicate predicate) {
  char base[512];
  if (length >= sizeof base) return false;
  std::memcpy(base, name, length);
  base[length] = '\0';
  return predicate(base);
}

}  // namespace

bool IsCatalogPageName(const char* name, int32_t* page) {
  const char* rest = AfterPrefix(name, "vellumcast");
  if (rest == nullptr) return false;
  if (::strcasecmp(rest, ".html") == 0) {
    if (page != nullptr) *page = 0;
    return true;
  }
  int32_t n = 0;
  rest = AfterNumber(rest, false, &n);
  if (rest == nullptr || ::strcasecmp(rest, ".html") != 0) return false;
  if (page != nullptr) *page = n;
  return true;
}

std::string CatalogPageName(int32_t page, const char* first) {
  if (page == 0) return first;
  return "vellumcast" + std::to_string(page) + ".html";
}

bool IsBackLinkPageName(const char* name) { return ::strcasecmp(name, kBackLinkPageFile) == 0; }

bool IsViewerPageName(const char* name) {
  const char* rest = AfterPrefix(name, kViewerPagePrefix);
  if (rest == nullptr) return false;
  rest = AfterHex16(rest);
  return rest != nullptr && ::strcasecmp(rest, ".html") == 0;
}

bool IsThumbnailFolderName(const char* name) { return ::strcasecmp(name, kThumbnailFolder) == 0; }

bool IsCellThumbnailName(const char* name, int32_t* position) {
  const char* rest = AfterPrefix(name, "quarto_tn");
  if (rest == nullptr) return false;
  int32_t n = 0;
  rest = AfterNumber(rest, true, &n);
  if (rest == nullptr || ::strcasecmp(rest, ".jpg") != 0) return false;
  if (position != nullptr) *position = n;
  return true;
}

bool CellThumbnailPath(char* out, size_t capacity, int32_t position) {
  const int written =
      std::snprintf(out, capacity, "%s%cquarto_tn%d.jpg", kThumbnailFolder, kPathSeparator, position);
  return written > 0 && static_cast<size_t>(written) < capacity;
}

bool IsNamedImageName(const char* name) {
  const char* rest = AfterPrefix(name, "vc-");
  if (rest == nullptr) return false;
  rest = AfterHex16(rest);
  if (rest == nullptr) return false;
  for (const char* suffix : kNamedImageSuffixes) {
    if (::strcasecmp(rest, suffix) == 0) return true;
  }
  return ::strcasecmp(rest, kNamedVideoSuffix) == 0;
}

bool IsManifestName(const char* name) { return ::strcasecmp(name, kManifestFile) == 0; }

bool IsOriginalsRecordName(const char* name) { return ::strcasecmp(name, kOriginalsRecordFile) == 0; }

bool IsPageRecordName(const char* name) { return ::strcasecmp(name, kPageRecordFile) == 0; }

bool IsSearchIndexName(const char* name) { return ::strcasecmp(name, kSearchIndexFile) == 0; }

bool IsModernManifestName(const char* name) { return ::strcasecmp(name, kModernManifestFile) == 0; }

bool HasTemporarySuffix(const char* name, size_t* base_length) {
  // The suffix is the last ".tmp" of the name; digits, '-' or '_' (with an
  // optional 'w'), digits.
  const char* found = nullptr;
  for (const char* p = name; (p = ::strcasestr(p, ".tmp")) != nullptr; ++p) found = p;
  if (found == nullptr) return false;
  const char* s = found + 4;
  if (*s < '0' || *s > '9') return false;
  while (*s >= '0' && *s <= '9') ++s;
  if (*s == '-') {
    ++s;
  } else if (*s == '_') {
    ++s;
    if (*s == 'w' || *s == 'W') ++s;
  } else {
    return false;
  }
  if (*s < '0' || *s > '9') return false;
  while (*s >= '0' && *s <= '9') ++s;
  if (*s != '\0') return false;
  if (base_length != nullptr) *base_length = static_cast<size_t>(found - name);
  return true;
}

bool IsGeneratedFolderFileName(const char* name) {
  if (IsBaseFolderFile(name)) return true;
  size_t base = 0;
  return HasTemporarySuffix(name, &base) && BaseMatches(name, base, IsBaseFolderFile);
}

bool IsGeneratedThumbnailFileName(const char* name) {
  if (IsBaseThumbnailFile(name)) return true;
  size_t base = 0;
  return HasTemporarySuffix(name, &base) && BaseMatches(name, base, IsBaseThumbnailFile);
}

bool IsGeneratedPageContent(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  // Only a regular file can be a page; a FIFO or device is never read.
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  char buffer[kGeneratorMarkerWindow + 1];
  size_t filled = 0;
  while (filled < kGeneratorMarkerWindow) {
    const ssize_t got = ::read(fd, buffer + filled, kGeneratorMarkerWindow - filled);
    if (got <= 0) break;
    filled += static_cast<size_t>(got);
  }
  ::close(fd);
  buffer[filled] = '\0';
  // A NUL byte in the page would end the search early; a generated page has none.
  return ::strcasestr(buffer, kGeneratorMarker) != nullptr;
}

void NamedImageStem(const char* source_name, char* out, size_t capacity) {
  const uint64_t h = Fnv1a64(source_name, std::strlen(source_name));
  std::snprintf(out, capacity, "vc-%016llx", static_cast<unsigned long long>(h));
}

bool IsLinkedThumbnailFolder(const char* folder) {
  char thumbs[kPathBufferSize];
  return PathJoin(thumbs, sizeof thumbs, kMaxPath, folder, kThumbnailFolder) && IsSymbolicLink(thumbs);
}
