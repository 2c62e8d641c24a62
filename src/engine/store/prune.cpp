#include "engine/store/prune.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <unordered_set>

#include "engine/store/generated_names.h"
#include "engine/store/modern_manifest.h"
#include "platform/dir_listing.h"
#include "platform/folder_handle.h"
#include "support/path_util.h"

namespace {

// Removes `path` when it is a regular file (not a link).
void RemoveRegularFile(const char* path) {
  struct stat info;
  if (::lstat(path, &info) == 0 && S_ISREG(info.st_mode)) RemoveFileInFolder(path);
}

bool IsRealFolder(const char* path) {
  struct stat info;
  return ::lstat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

bool ThumbnailFolderPath(char* out, size_t capacity, const char* folder) {
  return PathJoin(out, capacity, kMaxPath, folder, kThumbnailFolder);
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

void PruneModernFiles(const char* folder, const char* const* names, int32_t count) {
  char thumbs[kPathBufferSize];
  if (!ThumbnailFolderPath(thumbs, sizeof thumbs, folder) || !IsRealFolder(thumbs)) return;
  std::unordered_set<std::string> current;
  for (int32_t i = 0; i < count; ++i) current.insert(names[i]);
  // Only what the manifest shows a run made, for images the folder no longer has.
  char path[kPathBufferSize];
  for (const TModernManifestEntry& entry : ReadModernManifest(folder)) {
    if (current.count(entry.name) != 0) continue;
    for (const std::string* relative : {&entry.result.thumb_1x, &entry.result.thumb_2x, &entry.result.web_copy,
                                        &entry.result.video.web_copy}) {
      if (!relative->empty() && PathJoin(path, sizeof path, kMaxPath, folder, relative->c_str())) {
        RemoveRegularFile(path);
      }
    }
  }
}
