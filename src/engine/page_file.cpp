#include "engine/page_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/run_report.h"
#include "platform/symbolic_link.h"

namespace {

std::atomic<unsigned> g_temp_counter{0};

// The process id in temporary names, asked for once: a name that is taken
// anyway (as by a forked child that kept this value) is skipped by O_EXCL.
long ProcessId() {
  static const long pid = static_cast<long>(::getpid());
  return pid;
}

}  // namespace

TPageFile::~TPageFile() { Discard(); }

bool TPageFile::Create(const char* path, bool compare) {
  Discard();
  error_ = 0;
  link_refused_ = false;
  const size_t length = std::strlen(path);
  if (length == 0 || length > kMaxPath) {
    error_ = ENAMETOOLONG;
    return false;
  }
  std::memcpy(final_path_, path, length + 1);
  failed_ = false;
  unchanged_ = false;
  buffered_ = 0;
  matched_ = 0;
  if (compare) {
    // Only a regular file is compared; a link of that name is never read
    // (the commit refuses to replace it).
    const int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat info;
    if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
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

bool TPageFile::CreateTemp() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int written = std::snprintf(temp_path_, sizeof temp_path_, "%s.tmp%ld-%u", final_path_,
                                      ProcessId(), g_temp_counter.fetch_add(1));
    if (written < 0 || static_cast<size_t>(written) >= sizeof temp_path_) {
      error_ = ENAMETOOLONG;
      return false;
    }
    const int fd = ::open(temp_path_, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      error_ = errno;
      return false;
    }
    fd_ = fd;
    return true;
  }
  error_ = EEXIST;
  return false;
}

void TPageFile::CloseExisting() {
  if (existing_fd_ >= 0) ::close(existing_fd_);
  existing_fd_ = -1;
}

bool TPageFile::ExistingContinuesWith(const char* data, size_t length) {
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

void TPageFile::Diverge() {
  if (!CreateTemp()) {
    failed_ = true;
    CloseExisting();
    return;
  }
  char chunk[4096];
  off_t at = 0;
  size_t left = matched_;
  while (left > 0 && !failed_) {
    const size_t want = left < sizeof chunk ? left : sizeof chunk;
    const ssize_t got = ::pread(existing_fd_, chunk, want, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      failed_ = true;
      break;
    }
    const char* data = chunk;
    size_t todo = static_cast<size_t>(got);
    while (todo > 0) {
      const ssize_t written = ::write(fd_, data, todo);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        failed_ = true;
        break;
      }
      data += written;
      todo -= static_cast<size_t>(written);
    }
    at += got;
    left -= static_cast<size_t>(got);
  }
  CloseExisting();
}

void TPageFile::Flush() {
  if (existing_fd_ >= 0) {
    if (ExistingContinuesWith(buffer_, buffered_)) {
      matched_ += buffered_;
      buffered_ = 0;
      return;
    }
    Diverge();
  }
  if (fd_ < 0) {
    buffered_ = 0;
    return;
  }
  const char* data = buffer_;
  size_t left = buffered_;
  buffered_ = 0;
  while (left > 0 && !failed_) {
    const ssize_t written = ::write(fd_, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error_ = written < 0 ? errno : ENOSPC;
      failed_ = true;  // a short page must never take the real name
      return;
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
}

void TPageFile::Put(const char* data, size_t length) {
  while (length > 0) {
    if (buffered_ == kBufferSize) Flush();
    const size_t run = length < kBufferSize - buffered_ ? length : kBufferSize - buffered_;
    std::memcpy(buffer_ + buffered_, data, run);
    buffered_ += run;
    data += run;
    length -= run;
  }
}

void TPageFile::Write(const char* data, size_t length) {
  if (!open_) return;
  while (length > 0) {
    const void* found = std::memchr(data, '\n', length);
    const size_t run = found != nullptr ? static_cast<size_t>(static_cast<const char*>(found) - data) : length;
    Put(data, run);
    if (found == nullptr) break;
    Put("\r\n", 2);
    data += run + 1;
    length -= run + 1;
  }
}

void TPageFile::Write(const char* text) { Write(text, std::strlen(text)); }

bool TPageFile::Commit() {
  if (!open_) return false;
  Flush();
  open_ = false;
  if (existing_fd_ >= 0) {
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
  if (fd_ < 0) return false;
  const bool closed = ::close(fd_) == 0;
  if (!closed && error_ == 0) error_ = errno;
  fd_ = -1;
  // A link in the page's place is the user's: renaming would drop it.
  link_refused_ = !failed_ && closed && IsSymbolicLink(final_path_);
  if (failed_ || !closed || link_refused_ || std::rename(temp_path_, final_path_) != 0) {
    if (error_ == 0 && !link_refused_) error_ = errno;
    ::unlink(temp_path_);
    return false;
  }
  return true;
}

const char* TPageFile::FailureReason() const {
  if (link_refused_) return "a symbolic link stands in its place";
  return error_ != 0 ? ErrorText(error_) : "";
}

void TPageFile::Discard() {
  open_ = false;
  buffered_ = 0;
  CloseExisting();
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  ::unlink(temp_path_);
}
