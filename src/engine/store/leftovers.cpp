#include "engine/store/leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "engine/store/generated_names.h"

namespace {

// A writer is gone when no process has its id. Our own id is never gone:
// those files are being written now.
bool IsWriterGone(long writer) {
  if (writer == static_cast<long>(::getpid())) return false;
  if (writer <= 0 || writer > INT_MAX) return true;  // no process can have that id
  return ::kill(static_cast<pid_t>(writer), 0) != 0 && errno == ESRCH;
}

// Removes the leftovers of the open folder `dir_fd` whose names pass `is_generated`.
void RemoveLeftoversIn(int dir_fd, bool (*is_generated)(const char*)) {
  const int list_fd = ::dup(dir_fd);
  if (list_fd < 0) return;
  DIR* dir = ::fdopendir(list_fd);
  if (dir == nullptr) {
    ::close(list_fd);
    return;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (!HasTemporarySuffix(name) || !is_generated(name) || !IsWriterGone(TemporaryWriterId(name))) continue;
    struct stat info;
    if (::fstatat(dir_fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) continue;
    ::unlinkat(dir_fd, name, 0);
  }
  ::closedir(dir);
}

// Whether entries of the open thumbnail folder were made, renamed or removed
// after its manifest was renamed into place (which sets the manifest's
// change time and the folder's modification time together). True when
// there is no manifest or either time cannot be read.
bool ChangedSinceManifest(int thumbnail_fd) {
  struct stat folder_info;
  struct stat manifest_info;
  if (::fstat(thumbnail_fd, &folder_info) != 0 ||
      ::fstatat(thumbnail_fd, kManifestFile, &manifest_info, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(manifest_info.st_mode)) {
    return true;
  }
  const timespec& changed = folder_info.st_mtim;
  const timespec& placed = manifest_info.st_ctim;
  return changed.tv_sec != placed.tv_sec ? changed.tv_sec > placed.tv_sec : changed.tv_nsec > placed.tv_nsec;
}

}  // namespace

long TemporaryWriterId(const char* name) {
  size_t base = 0;
  if (!HasTemporarySuffix(name, &base)) return -1;
  long writer = 0;
  for (const char* p = name + base + 4; *p >= '0' && *p <= '9'; ++p) {
    if (writer > (LONG_MAX - 9) / 10) return -1;
    writer = writer * 10 + (*p - '0');
  }
  return writer;
}

void RemoveLeftoverTemporaries(const char* folder, TLeftoverHint hint) {
  if (!hint.in_folder && !hint.thumbnail_folder) return;
  const int folder_fd = ::open(*folder == '\0' ? "." : folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd < 0) return;
  if (hint.in_folder) RemoveLeftoversIn(folder_fd, IsGeneratedFolderFileName);
  const int thumbnail_fd = hint.thumbnail_folder ? ::openat(folder_fd, kThumbnailFolder,
                                                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                                                 : -1;
  if (thumbnail_fd >= 0) {
    if (ChangedSinceManifest(thumbnail_fd)) RemoveLeftoversIn(thumbnail_fd, IsGeneratedThumbnailFileName);
    ::close(thumbnail_fd);
  }
  ::close(folder_fd);
}
