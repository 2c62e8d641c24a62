#include "engine/page_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

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
  const size_t length = std::strlen(path);
  if (length == 0 || length > kMaxPath) return false;
  std::memcpy(final_path_, path, length + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int written = std::snprintf(temp_path_, sizeof temp_path_, "%s.tmp%ld-%u", path,
                                      ProcessId(), g_temp_counter.fetch_add(1));
    if (written < 0 || static_cast<size_t>(written) >= sizeof temp_path_) return false;
    const int fd = ::open(temp_path_, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    fd_ = fd;
    failed_ = false;
    buffered_ = 0;
    return true;
  }
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
  fd_ = -1;
  if (failed_ || !closed || std::rename(temp_path_, final_path_) != 0) {
    ::unlink(temp_path_);
    return false;
  }
  return true;
}

void TPageFile::Discard() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  buffered_ = 0;
  ::unlink(temp_path_);
}
