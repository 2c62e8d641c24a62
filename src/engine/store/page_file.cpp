#include "engine/store/page_file.h"

#include <cerrno>
#include <cstring>

#include "engine/run/run_report.h"

bool TPageFile::Create(const char* path, bool compare) {
  Discard();
  error_ = 0;
  const size_t length = std::strlen(path);
  if (length == 0 || length > kMaxPath) {
    error_ = ENAMETOOLONG;
    return false;
  }
  return file_.Create(path, compare);
}

void TPageFile::Flush() {
  if (buffered_ > 0) file_.Write(buffer_, buffered_);
  buffered_ = 0;
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
  if (!file_.IsOpen()) return;
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
  if (!file_.IsOpen()) return false;
  Flush();
  return file_.Commit();
}

const char* TPageFile::FailureReason() const {
  // A link in the page's place is the user's: renaming would drop it.
  if (file_.LinkRefused()) return "a symbolic link stands in its place";
  const int error = error_ != 0 ? error_ : file_.Error();
  return error != 0 ? ErrorText(error) : "";
}

void TPageFile::Discard() {
  buffered_ = 0;
  file_.Discard();
}
