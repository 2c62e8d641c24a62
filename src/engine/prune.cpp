#include "engine/prune.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <unordered_set>

#include "engine/generated_names.h"
#include "engine/modern_page_parts.h"
#include "engine/page_writer.h"
#include "platform/dir_listing.h"
#include "support/path_util.h"

namespace {

// Removes `path` when it is a regular file (not a link).
void RemoveRegularFile(const char* path) {
  struct stat info;
  if (::lstat(path, &info) == 0 && S_ISREG(info.st_mode)) ::unlink(path);
}

bool IsRealFolder(const char* path) {
  struct stat info;
  return ::lstat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

bool ThumbnailFolderPath(char* out, size_t capacity, const char* folder) {
  return PathJoin(out, capacity, kMaxPath, folder, kThumbnailFolder);
}

void PruneFolderPages(const char* folder, int32_t pages_kept, bool back_link_kept) {
  TDirListing listing(folder, "*.*");
  if (!listing.IsOpen()) return;
  char path[kPathBufferSize];
  while (listing.Next()) {
    const char* name = listing.Name();
    int32_t page = 0;
    // Only the exact names this build writes: vellumcast.html and
    // vellumcast<N>.html in lower case, as the page writer spells them.
    bool stale = false;
    if (IsCatalogPageName(name, &page)) {
      char expected[kPathBufferSize];
      stale = page >= pages_kept && PageFileName(expected, sizeof expected, nullptr, page) &&
              std::strcmp(name, expected) == 0;
    } else if (!back_link_kept && std::strcmp(name, kBackLinkPageFile) == 0) {
      stale = true;
    }
    if (stale && PathJoin(path, sizeof path, kMaxPath, folder, name)) RemoveRegularFile(path);
  }
}

void PruneThumbnails(const char* folder, int32_t kept, const TThumbManifest& manifest) {
  char thumbs[kPathBufferSize];
  if (!ThumbnailFolderPath(thumbs, sizeof thumbs, folder) || !IsRealFolder(thumbs)) return;
  char path[kPathBufferSize];
  for (int32_t i = 0; i < manifest.Count(); ++i) {
    const int32_t position = manifest.Record(i).position;
    if (position < kept) continue;
    char relative[64];
    if (CellThumbnailPath(relative, sizeof relative, position) &&
        PathJoin(path, sizeof path, kMaxPath, folder, relative)) {
      RemoveRegularFile(path);
    }
  }
  if (kept > 0) return;
  if (PathJoin(path, sizeof path, kMaxPath, thumbs, kManifestFile)) RemoveRegularFile(path);
  ::rmdir(thumbs);  // only when nothing else is left in it
}

void PruneAllThumbnails(const char* folder) {
  char thumbs[kPathBufferSize];
  char path[kPathBufferSize];
  if (!ThumbnailFolderPath(thumbs, sizeof thumbs, folder) || !IsRealFolder(thumbs)) return;
  if (!PathJoin(path, sizeof path, kMaxPath, thumbs, kManifestFile)) return;
  TThumbManifest manifest;
  // Without a readable manifest nothing shows which thumbnails a run wrote.
  if (!manifest.Read(path)) return;
  PruneThumbnails(folder, 0, manifest);
}

namespace {

bool IsLowerCase(const char* name) {
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p >= 'A' && *p <= 'Z') return false;
  }
  return true;
}

// Removes from `folder` the regular files of one kind of generated name
// (`is_kind`) that are not in `current`. A run writes these names in lower
// case; another spelling is not one a run wrote.
void RemoveNamesNoLongerWritten(const char* folder, bool (*is_kind)(const char*),
                                const std::unordered_set<std::string>& current) {
  TDirListing listing(folder, "*.*");
  char path[kPathBufferSize];
  while (listing.IsOpen() && listing.Next()) {
    const char* name = listing.Name();
    if (!is_kind(name) || !IsLowerCase(name) || current.count(name) != 0) continue;
    if (PathJoin(path, sizeof path, kMaxPath, folder, name)) RemoveRegularFile(path);
  }
}

}  // namespace

void PruneModernFiles(const char* folder, const char* const* names, int32_t count) {
  // The exact names the folder's current images have.
  std::unordered_set<std::string> current;
  char stem[32];
  for (int32_t i = 0; i < count; ++i) {
    current.insert(ViewerPageName(names[i]));
    NamedImageStem(names[i], stem, sizeof stem);
    for (const char* suffix : kNamedImageSuffixes) current.insert(std::string(stem) + suffix);
  }
  RemoveNamesNoLongerWritten(folder, IsViewerPageName, current);
  char thumbs[kPathBufferSize];
  if (!ThumbnailFolderPath(thumbs, sizeof thumbs, folder) || !IsRealFolder(thumbs)) return;
  RemoveNamesNoLongerWritten(thumbs, IsNamedImageName, current);
}
