#include "support/path_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

bool IsSeparator(char c) { return c == kPathSeparator || c == '/'; }

// A level named "." or ".." (the prefix ends in one) is taken as present.
bool EndsInDotLevel(const char* prefix, size_t length) {
  size_t start = length;
  while (start > 0 && !IsSeparator(prefix[start - 1])) --start;
  const size_t level = length - start;
  if (level == 1) return prefix[start] == '.';
  if (level == 2) return prefix[start] == '.' && prefix[start + 1] == '.';
  return false;
}

}  // namespace

bool PathAddSeparator(char* path, size_t capacity) {
  const size_t length = std::strlen(path);
  if (length == 0 || path[length - 1] == kPathSeparator) return true;
  if (length + 2 > capacity) return false;
  path[length] = kPathSeparator;
  path[length + 1] = '\0';
  return true;
}

bool PathJoin(char* out, size_t capacity, size_t max_length, const char* folder, const char* name) {
  if (capacity == 0) return false;
  out[0] = '\0';
  const size_t folder_length = std::strlen(folder);
  const size_t name_length = std::strlen(name);
  const bool needs_separator = folder_length > 0 && folder[folder_length - 1] != kPathSeparator;
  const size_t total = folder_length + (needs_separator ? 1 : 0) + name_length;
  if (total > max_length || total + 1 > capacity) return false;
  std::memcpy(out, folder, folder_length);
  size_t at = folder_length;
  if (needs_separator) out[at++] = kPathSeparator;
  std::memcpy(out + at, name, name_length);
  out[total] = '\0';
  return true;
}

void PathToUrlSlashes(char* text) {
  for (char* p = text; *p != '\0'; ++p) {
    if (*p == kPathSeparator) *p = '/';
  }
}

bool HasExtension(const char* name, const char* extension) {
  const char* dot = std::strrchr(name, '.');
  if (dot == nullptr) return false;
  for (;; ++dot, ++extension) {
    const int a = std::toupper(static_cast<unsigned char>(*dot));
    const int b = std::toupper(static_cast<unsigned char>(*extension));
    if (a != b) return false;
    if (a == 0) return true;
  }
}

int IsDirectory(const char* path) {
  struct stat info;
  if (::stat(path, &info) != 0) return 0;
  return S_ISDIR(info.st_mode) ? 1 : 0;
}

int MakePathDirs(char* path, int create) {
  for (size_t i = 1; path[i - 1] != '\0' && path[i] != '\0'; ++i) {
    if (!IsSeparator(path[i])) continue;
    const char saved = path[i];
    path[i] = '\0';
    bool present = IsSeparator(path[i - 1]) || EndsInDotLevel(path, i) || IsDirectory(path) != 0;
    if (!present && create != 0) {
      present = ::mkdir(path, 0777) == 0 || (errno == EEXIST && IsDirectory(path) != 0);
    }
    path[i] = saved;
    if (!present) return 0;
  }
  return 1;
}

int CheckDirPath(const char* path, int create) {
  char work[kPathBufferSize];
  const size_t length = std::strlen(path);
  if (length + 2 > sizeof work) return 0;
  std::memcpy(work, path, length + 1);
  if (!PathAddSeparator(work, sizeof work)) return 0;
  return MakePathDirs(work, create);
}

const char* PathFileName(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (IsSeparator(*p)) name = p + 1;
  }
  return name;
}

char* PathFileName(char* path) {
  return const_cast<char*>(PathFileName(static_cast<const char*>(path)));
}

void StrLower(char* text) {
  for (char* p = text; *p != '\0'; ++p) {
    *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  }
}

bool IsRegularFileOrMissing(const char* path) {
  struct stat info;
  if (::stat(path, &info) != 0) return errno == ENOENT || errno == ENOTDIR;
  return S_ISREG(info.st_mode);
}

bool IsReservedDeviceName(const char* path) { return !IsRegularFileOrMissing(path); }

namespace {

// Opens a regular file for reading; -1 when it cannot be opened or is not a
// regular file (errno then tells why; EINVAL for another kind of file).
// `info` describes the open file.
int OpenRegularFile(const char* path, struct stat* info, bool follow_links = true) {
  // A device is refused before anything opens it: opening some has effects.
  if ((follow_links ? ::stat(path, info) : ::lstat(path, info)) != 0) return -1;
  if (!S_ISREG(info->st_mode)) {
    errno = S_ISLNK(info->st_mode) ? ELOOP : EINVAL;
    return -1;
  }
  // Non-blocking, so a FIFO swapped in since the check cannot hold the open.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (follow_links ? 0 : O_NOFOLLOW));
  if (fd < 0) return -1;
  // O_NONBLOCK has no effect on a regular file, so it may stay set.
  if (::fstat(fd, info) != 0 || !S_ISREG(info->st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

}  // namespace

long ReadRegularFileHead(const char* path, unsigned char* out, size_t size, bool* whole) {
  if (whole != nullptr) *whole = false;
  struct stat info;
  const int fd = OpenRegularFile(path, &info);
  if (fd < 0) return -1;
  long total = 0;
  while (static_cast<size_t>(total) < size) {
    const ssize_t got = ::read(fd, out + total, size - static_cast<size_t>(total));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += got;
  }
  if (whole != nullptr) *whole = static_cast<uint64_t>(info.st_size) <= static_cast<uint64_t>(total);
  ::close(fd);
  return total;
}

std::FILE* OpenRegularFileForReading(const char* path) {
  struct stat info;
  const int fd = OpenRegularFile(path, &info);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) ::close(fd);
  return file;
}

bool ReadWholeRegularFile(const char* path, size_t max_bytes, TLinkRule links, std::string* text,
                          std::string* error) {
  text->clear();
  struct stat info;
  const int fd = OpenRegularFile(path, &info, links == TLinkRule::kFollow);
  if (fd < 0) {
    *error = errno == EINVAL ? "not a regular file" : errno == ELOOP ? "a symbolic link" : std::strerror(errno);
    return false;
  }
  const std::string too_large = "larger than " + std::to_string(max_bytes) + " bytes";
  if (static_cast<uint64_t>(info.st_size) > max_bytes) {
    ::close(fd);
    *error = too_large;
    return false;
  }
  // The size may change while it is read; the limit holds for what is read.
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = std::strerror(errno);
      ::close(fd);
      text->clear();
      return false;
    }
    if (got == 0) break;
    if (text->size() + static_cast<size_t>(got) > max_bytes) {
      *error = too_large;
      ::close(fd);
      text->clear();
      return false;
    }
    text->append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return true;
}
