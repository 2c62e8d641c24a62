#include "platform/folder_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>

#include "support/path_util.h"

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// The pinned folders: path (without trailing separators) and descriptor.
// A handful at a time; a plain list under one lock.
struct TPinEntry {
  char* path;
  size_t length;
  int fd;
  TPinEntry* next;
};

std::mutex g_pins_mutex;
TPinEntry* g_pins = nullptr;

// `length` of `path` without trailing separators ("/" itself stays).
size_t TrimmedLength(const char* path, size_t length) {
  while (length > 1 && path[length - 1] == kPathSeparator) --length;
  return length;
}

// The descriptor (duplicated, the caller's) of the deepest pinned folder
// that `path`'s first `length` bytes lie in, and the length of its path; -1
// when none.
int DuplicatePinFor(const char* path, size_t length, size_t* pinned_length) {
  std::lock_guard<std::mutex> lock(g_pins_mutex);
  const TPinEntry* best = nullptr;
  for (const TPinEntry* e = g_pins; e != nullptr; e = e->next) {
    if (e->length > length) continue;
    if (best != nullptr && best->length >= e->length) continue;
    if (std::memcmp(e->path, path, e->length) != 0) continue;
    // The pinned path must end at a separator of `path` (or be all of it).
    const bool whole = e->length == length;
    const bool at_separator = !whole && (path[e->length] == kPathSeparator ||
                                         (e->length > 0 && e->path[e->length - 1] == kPathSeparator));
    // The current folder ("") holds every relative path.
    const bool below = e->length == 0 ? (length == 0 || path[0] != kPathSeparator) : (whole || at_separator);
    if (below) best = e;
  }
  if (best == nullptr) return -1;
  *pinned_length = best->length;
  return ::fcntl(best->fd, F_DUPFD_CLOEXEC, 0);
}

}  // namespace

TFolderHandle::TFolderHandle(TFolderHandle&& other) noexcept : fd_(other.fd_), error_(other.error_) {
  other.fd_ = -1;
}

TFolderHandle& TFolderHandle::operator=(TFolderHandle&& other) noexcept {
  if (this == &other) return *this;
  Close();
  fd_ = other.fd_;
  error_ = other.error_;
  other.fd_ = -1;
  return *this;
}

bool TFolderHandle::Open(const char* path) {
  Close();
  fd_ = ::open(path[0] != '\0' ? path : ".", kFolderFlags);
  error_ = fd_ < 0 ? errno : 0;
  return fd_ >= 0;
}

bool TFolderHandle::OpenAt(const TFolderHandle& parent, const char* name) {
  Close();
  fd_ = ::openat(parent.fd_, name, kFolderFlags | O_NOFOLLOW);
  error_ = fd_ < 0 ? errno : 0;
  return fd_ >= 0;
}

bool TFolderHandle::OpenExpected(const char* path, dev_t device, ino_t inode) {
  if (!Open(path)) return false;
  dev_t d = 0;
  ino_t i = 0;
  if (Identity(&d, &i) && d == device && i == inode) return true;
  Close();
  error_ = ESTALE;
  return false;
}

void TFolderHandle::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void TFolderHandle::Adopt(int fd) {
  Close();
  fd_ = fd;
  error_ = 0;
}

bool TFolderHandle::Identity(dev_t* device, ino_t* inode) const {
  struct stat info;
  if (fd_ < 0 || ::fstat(fd_, &info) != 0) return false;
  *device = info.st_dev;
  *inode = info.st_ino;
  return true;
}

TFolderPin::TFolderPin(const char* path, dev_t device, ino_t inode) {
  TFolderHandle handle;
  if (!handle.OpenExpected(path, device, inode)) {
    error_ = handle.Error();
    return;
  }
  const size_t length = TrimmedLength(path, std::strlen(path));
  auto* entry = new (std::nothrow) TPinEntry{nullptr, length, -1, nullptr};
  char* copy = static_cast<char*>(::operator new(length + 1, std::nothrow));
  if (entry == nullptr || copy == nullptr) {
    delete entry;
    ::operator delete(copy);
    error_ = ENOMEM;
    return;
  }
  std::memcpy(copy, path, length);
  copy[length] = '\0';
  entry->path = copy;
  entry->fd = ::fcntl(handle.Descriptor(), F_DUPFD_CLOEXEC, 0);
  if (entry->fd < 0) {
    error_ = errno;
    ::operator delete(copy);
    delete entry;
    return;
  }
  std::lock_guard<std::mutex> lock(g_pins_mutex);
  entry->next = g_pins;
  g_pins = entry;
  entry_ = entry;
  pinned_ = true;
}

TFolderPin::~TFolderPin() {
  if (!pinned_) return;
  auto* entry = static_cast<TPinEntry*>(entry_);
  {
    std::lock_guard<std::mutex> lock(g_pins_mutex);
    for (TPinEntry** at = &g_pins; *at != nullptr; at = &(*at)->next) {
      if (*at != entry) continue;
      *at = entry->next;
      break;
    }
  }
  ::close(entry->fd);
  ::operator delete(entry->path);
  delete entry;
}

bool OpenParentFolder(const char* path, bool make_missing, TFolderHandle* folder, const char** leaf) {
  const size_t length = std::strlen(path);
  const char* slash = std::strrchr(path, kPathSeparator);
  *leaf = slash != nullptr ? slash + 1 : path;
  if (**leaf == '\0') {
    errno = EISDIR;
    return false;
  }
  // The folder part: "" for a bare name, "/" for a file at the root.
  const size_t folder_length = slash == nullptr ? 0 : (slash == path ? 1 : static_cast<size_t>(slash - path));
  if (folder_length >= kPathBufferSize || length > kMaxPath) {
    errno = ENAMETOOLONG;
    return false;
  }
  char folder_path[kPathBufferSize];
  std::memcpy(folder_path, path, folder_length);
  folder_path[folder_length] = '\0';
  const size_t trimmed = TrimmedLength(folder_path, folder_length);

  size_t pinned_length = 0;
  const int pinned = DuplicatePinFor(folder_path, trimmed, &pinned_length);
  if (pinned < 0) {
    if (make_missing && folder_length > 0) {
      char made[kPathBufferSize + 1];
      std::memcpy(made, folder_path, folder_length + 1);
      if (CheckDirPath(made, 1) == 0 && errno != EEXIST) return false;
    }
    if (folder->Open(folder_path)) return true;
    errno = folder->Error();
    return false;
  }
  // Down from the pinned folder, one name at a time, never through a link.
  int fd = pinned;
  size_t at = pinned_length;
  while (at < trimmed) {
    while (at < trimmed && folder_path[at] == kPathSeparator) ++at;
    if (at >= trimmed) break;
    size_t end = at;
    while (end < trimmed && folder_path[end] != kPathSeparator) ++end;
    char name[kPathBufferSize];
    std::memcpy(name, folder_path + at, end - at);
    name[end - at] = '\0';
    at = end;
    int next = ::openat(fd, name, kFolderFlags | O_NOFOLLOW);
    if (next < 0 && errno == ENOENT && make_missing) {
      if (::mkdirat(fd, name, 0777) != 0 && errno != EEXIST) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
      }
      next = ::openat(fd, name, kFolderFlags | O_NOFOLLOW);
    }
    const int error = errno;
    ::close(fd);
    if (next < 0) {
      errno = error;
      return false;
    }
    fd = next;
  }
  folder->Adopt(fd);
  return true;
}

bool RemoveFileInFolder(const char* path) {
  TFolderHandle folder;
  const char* leaf = nullptr;
  if (!OpenParentFolder(path, false, &folder, &leaf)) return errno == ENOENT;
  return ::unlinkat(folder.Descriptor(), leaf, 0) == 0 || errno == ENOENT;
}

bool MakeParentFolder(const char* path) {
  TFolderHandle folder;
  const char* leaf = nullptr;
  return OpenParentFolder(path, true, &folder, &leaf);
}
