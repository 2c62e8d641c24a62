#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kTempAttempts = 100;

std::atomic<unsigned> g_temp_counter{0};

// The process id in temporary names, asked for once: a name that is taken
// anyway (as by a forked child that kept this value) is skipped by O_EXCL.
long ProcessId() {
  static const long pid = static_cast<long>(::getpid());
  return pid;
}

bool WriteAll(int fd, const char* data, size_t length, int* error) {
  while (length > 0) {
    const ssize_t written = ::write(fd, data, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      *error = written < 0 ? errno : ENOSPC;
      return false;
    }
    data += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

unsigned NextTemporaryNumber() { return g_temp_counter.fetch_add(1); }

bool MakeTemporaryName(char* out, size_t capacity, const char* name, unsigned n) {
  const int written = std::snprintf(out, capacity, "%s.tmp%ld-%u", name, ProcessId(), n);
  return written > 0 && static_cast<size_t>(written) < capacity;
}

bool MakeTemporaryName(char* out, size_t capacity, const char* name) {
  return MakeTemporaryName(out, capacity, name, NextTemporaryNumber());
}

bool RenameIntoPlace(const TFolderHandle& folder, const char* temporary, const char* name, bool* link_refused) {
  *link_refused = false;
  struct stat info;
  const int dir = folder.Descriptor();
  if (::fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(info.st_mode)) {
    const int error = S_ISLNK(info.st_mode) ? ELOOP : S_ISDIR(info.st_mode) ? EISDIR : EEXIST;
    *link_refused = S_ISLNK(info.st_mode);
    ::unlinkat(dir, temporary, 0);
    errno = error;
    return false;
  }
  if (::renameat(dir, temporary, dir, name) == 0) return true;
  const int error = errno;
  ::unlinkat(dir, temporary, 0);
  errno = error;
  return false;
}

TAtomicFile::~TAtomicFile() { Discard(); }

void TAtomicFile::Fail(int error) {
  if (!failed_) error_ = error;
  failed_ = true;
}

bool TAtomicFile::Create(const char* path, bool compare, int64_t expected_size) {
  Discard();
  TFolderHandle folder;
  const char* leaf = nullptr;
  if (!OpenParentFolder(path, false, &folder, &leaf)) {
    error_ = errno;
    link_refused_ = false;
    return false;
  }
  return Create(folder, leaf, compare, expected_size);
}

bool TAtomicFile::Create(const TFolderHandle& folder, const char* name, bool compare, int64_t expected_size) {
  Discard();
  error_ = 0;
  failed_ = false;
  link_refused_ = false;
  unchanged_ = false;
  matched_ = 0;
  const size_t length = std::strlen(name);
  if (length == 0 || length >= sizeof name_) {
    error_ = ENAMETOOLONG;
    return false;
  }
  const int dir = ::fcntl(folder.Descriptor(), F_DUPFD_CLOEXEC, 0);
  if (dir < 0) {
    error_ = errno;
    return false;
  }
  folder_.Adopt(dir);
  std::memcpy(name_, name, length + 1);
  if (compare) {
    // Only a regular file is compared; a link of that name is never read
    // (the commit refuses to replace it).
    const int fd = ::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat info;
    if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        (expected_size < 0 || info.st_size == expected_size)) {
      existing_fd_ = fd;
      open_ = true;
      return true;
    }
    if (fd >= 0) ::close(fd);
  }
  if (!CreateTemp()) return false;
  open_ = true;
  return true;
}

bool TAtomicFile::CreateTemp() {
  for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
    if (!MakeTemporaryName(temp_name_, sizeof temp_name_, name_)) {
      Fail(ENAMETOOLONG);
      return false;
    }
    const int fd = ::openat(folder_.Descriptor(), temp_name_,
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0) {
      fd_ = fd;
      return true;
    }
    if (errno != EEXIST) {
      Fail(errno);
      return false;
    }
  }
  Fail(EEXIST);
  return false;
}

void TAtomicFile::CloseExisting() {
  if (existing_fd_ >= 0) ::close(existing_fd_);
  existing_fd_ = -1;
}

bool TAtomicFile::ExistingContinuesWith(const char* data, size_t length) {
  char chunk[4096];
  while (length > 0) {
    const size_t want = length < sizeof chunk ? length : sizeof chunk;
    const ssize_t got = ::read(existing_fd_, chunk, want);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || std::memcmp(chunk, data, static_cast<size_t>(got)) != 0) return false;
    data += got;
    length -= static_cast<size_t>(got);
  }
  return true;
}

void TAtomicFile::Diverge() {
  if (!CreateTemp()) {
    CloseExisting();
    return;
  }
  char chunk[4096];
  off_t at = 0;
  uint64_t left = matched_;
  while (left > 0 && !failed_) {
    const size_t want = left < sizeof chunk ? static_cast<size_t>(left) : sizeof chunk;
    const ssize_t got = ::pread(existing_fd_, chunk, want, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      Fail(got < 0 ? errno : EIO);
      break;
    }
    int error = 0;
    if (!WriteAll(fd_, chunk, static_cast<size_t>(got), &error)) Fail(error);
    at += got;
    left -= static_cast<uint64_t>(got);
  }
  CloseExisting();
}

bool TAtomicFile::Write(const void* data, size_t length) {
  if (!open_ || failed_) return false;
  const char* bytes = static_cast<const char*>(data);
  if (existing_fd_ >= 0) {
    if (ExistingContinuesWith(bytes, length)) {
      matched_ += length;
      return true;
    }
    Diverge();
  }
  if (fd_ < 0 || failed_) return false;
  int error = 0;
  // A short file must never take the real name.
  if (!WriteAll(fd_, bytes, length, &error)) Fail(error);
  return !failed_;
}

int TAtomicFile::Descriptor() {
  if (!open_) return -1;
  if (existing_fd_ >= 0) Diverge();
  return failed_ ? -1 : fd_;
}

bool TAtomicFile::Commit() {
  if (!open_) return false;
  open_ = false;
  if (existing_fd_ >= 0 && !failed_) {
    // Equal so far: the same file only when the existing one ends here too.
    char extra;
    ssize_t got;
    do {
      got = ::read(existing_fd_, &extra, 1);
    } while (got < 0 && errno == EINTR);
    if (got == 0) {
      CloseExisting();
      unchanged_ = true;
      return true;
    }
    Diverge();
  }
  CloseExisting();
  if (fd_ < 0) {
    if (error_ == 0) error_ = EIO;
    return false;
  }
  const bool closed = ::close(fd_) == 0;
  if (!closed) Fail(errno);
  fd_ = -1;
  if (failed_) {
    ::unlinkat(folder_.Descriptor(), temp_name_, 0);
    return false;
  }
  if (!RenameIntoPlace(folder_, temp_name_, name_, &link_refused_)) {
    error_ = errno;
    failed_ = true;
    return false;
  }
  return true;
}

void TAtomicFile::Discard() {
  open_ = false;
  CloseExisting();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    ::unlinkat(folder_.Descriptor(), temp_name_, 0);
  }
  folder_.Close();
}

namespace {

// Writes the whole of `data` into the file `created` (or not) and commits it;
// on failure errno tells why.
bool PutWhole(TAtomicFile& file, bool created, const uint8_t* data, size_t size) {
  if (created) {
    file.Write(data, size);
    if (file.Commit()) return true;
  }
  errno = file.Error() != 0 ? file.Error() : EIO;
  return false;
}

}  // namespace

bool WriteFileReplacing(const char* path, const uint8_t* data, size_t size) {
  if (path == nullptr || path[0] == '\0') return false;
  TAtomicFile file;
  return PutWhole(file, file.Create(path, false), data, size);
}

bool WriteFileReplacing(const TFolderHandle& folder, const char* name, const uint8_t* data, size_t size) {
  TAtomicFile file;
  return PutWhole(file, file.Create(folder, name, false), data, size);
}

bool WriteFileIfChanged(const char* path, const uint8_t* data, size_t size) {
  if (path == nullptr || path[0] == '\0') return false;
  TAtomicFile file;
  return PutWhole(file, file.Create(path, true, static_cast<int64_t>(size)), data, size);
}

bool WriteFileIfChanged(const TFolderHandle& folder, const char* name, const uint8_t* data, size_t size) {
  TAtomicFile file;
  return PutWhole(file, file.Create(folder, name, true, static_cast<int64_t>(size)), data, size);
}

bool FileHoldsBytes(const char* path, const uint8_t* data, size_t size) {
  if (path == nullptr || path[0] == '\0') return false;
  const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<uint64_t>(info.st_size) != size) {
    close(fd);
    return false;
  }
  uint8_t chunk[16384];
  size_t done = 0;
  bool same = true;
  while (same && done < size) {
    const size_t want = size - done < sizeof chunk ? size - done : sizeof chunk;
    const ssize_t n = read(fd, chunk, want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      same = false;
      break;
    }
    same = std::memcmp(chunk, data + done, static_cast<size_t>(n)) == 0;
    done += static_cast<size_t>(n);
  }
  // A file that grew while it was read is no longer the same.
  if (same) {
    uint8_t extra;
    ssize_t n;
    do {
      n = read(fd, &extra, 1);
    } while (n < 0 && errno == EINTR);
    same = n == 0;
  }
  close(fd);
  return same;
}
