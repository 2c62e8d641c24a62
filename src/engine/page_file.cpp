#include "engine/page_file.h"

#include <fcntl.h>
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

bool TPageFile::Create(const char* path) {
  Discard();
  error_ = 0;
  link_refused_ = false;
  const size_t length = std::strlen(path);
  if (length == 0 || length > kMaxPath) {
    error_ = ENAMETOOLONG;
    return false;
  }
  std::memcpy(final_path_, path, length + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int written = std::snprintf(temp_path_, sizeof temp_path_, "%s.tmp%ld-%u", path,
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
    failed_ = false;
    buffered_ = 0;
    return true;
  }
  error_ = EEXIST;
  return false;
}

void TPageFile::Flush() {
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
  if (fd_ < 0) return;
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
  if (fd_ < 0) return false;
  Flush();
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
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  buffered_ = 0;
  ::unlink(temp_path_);
}
