#include "engine/page_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

std::atomic<unsigned> g_temp_counter{0};

}  // namespace

TPageFile::~TPageFile() { Discard(); }

bool TPageFile::Create(const char* path) {
  Discard();
  const size_t length = std::strlen(path);
  if (length == 0 || length > kMaxPath) return false;
  std::memcpy(final_path_, path, length + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int written = std::snprintf(temp_path_, sizeof temp_path_, "%s.tmp%ld-%u", path,
                                      static_cast<long>(::getpid()), g_temp_counter.fetch_add(1));
    if (written < 0 || static_cast<size_t>(written) >= sizeof temp_path_) return false;
    const int fd = ::open(temp_path_, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
      ::close(fd);
      ::unlink(temp_path_);
      return false;
    }
    failed_ = false;
    return true;
  }
  return false;
}

void TPageFile::Write(const char* data, size_t length) {
  if (file_ == nullptr) return;
  while (length > 0) {
    const void* found = std::memchr(data, '\n', length);
    const size_t run = found != nullptr ? static_cast<size_t>(static_cast<const char*>(found) - data) : length;
    if (run > 0 && std::fwrite(data, 1, run, file_) != run) failed_ = true;
    if (found == nullptr) break;
    if (std::fwrite("\r\n", 1, 2, file_) != 2) failed_ = true;
    data += run + 1;
    length -= run + 1;
  }
}

void TPageFile::Write(const char* text) { Write(text, std::strlen(text)); }

bool TPageFile::Commit() {
  if (file_ == nullptr) return false;
  const bool flushed = std::fflush(file_) == 0 && std::ferror(file_) == 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (failed_ || !flushed || !closed || std::rename(temp_path_, final_path_) != 0) {
    ::unlink(temp_path_);
    return false;
  }
  return true;
}

void TPageFile::Discard() {
  if (file_ == nullptr) return;
  std::fclose(file_);
  file_ = nullptr;
  ::unlink(temp_path_);
}
