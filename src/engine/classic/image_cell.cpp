// The width and height attributes of a full-image cell, and the probe log.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "engine/classic/image_cell.h"
#include "imagein/image_record.h"
#include "raster/membitmap.h"
#include "raster/orient.h"

namespace {

constexpr const char* kProbeLogName = "fn.log";

thread_local TProbeLogSession* g_probe_log_session = nullptr;

// Only a regular file is the log: a link named fn.log is never written
// through, and a FIFO or device never blocks the run (opened without
// waiting, then refused). The run goes on without the log.
int OpenProbeLog(const char* path = kProbeLogName) {
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0666);
  if (fd < 0) return -1;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ::fcntl(fd, F_SETFL, O_WRONLY | O_APPEND) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// The line and its CR LF in one write call, so that lines of concurrent runs
// never interleave and the file is whole after every line.
void WriteProbeLine(int fd, const char* image_path) {
  iovec parts[2];
  parts[0].iov_base = const_cast<char*>(image_path);
  parts[0].iov_len = std::strlen(image_path);
  parts[1].iov_base = const_cast<char*>("\r\n");
  parts[1].iov_len = 2;
  const ssize_t written = ::writev(fd, parts, 2);
  (void)written;
}

// One line per full-image cell, in the current folder, with the CR LF line
// end every generated text file has.
void AppendProbeLog(const char* image_path) {
  if (TProbeLogSession* session = TProbeLogSession::Current()) {
    session->Append(image_path);
    return;
  }
  const int fd = OpenProbeLog();
  if (fd < 0) return;
  WriteProbeLine(fd, image_path);
  ::close(fd);
}

void AppendAttribute(std::string& out, const char* name, int32_t value) {
  char text[32];
  std::snprintf(text, sizeof text, " %s=%d", name, value);
  out += text;
}

}  // namespace

TProbeLogSession::TProbeLogSession(const char* folder) : outer_(g_probe_log_session), path_(kProbeLogName) {
  if (folder != nullptr && *folder != '\0') {
    path_ = folder;
    if (path_.back() != '/') path_ += '/';
    path_ += kProbeLogName;
  }
  g_probe_log_session = this;
}

TProbeLogSession::~TProbeLogSession() {
  g_probe_log_session = outer_;
  if (fd_ >= 0) ::close(fd_);
}

TProbeLogSession* TProbeLogSession::Current() { return g_probe_log_session; }

void TProbeLogSession::Append(const char* image_path) {
  if (fd_ < 0) fd_ = OpenProbeLog(path_.c_str());
  if (fd_ >= 0) WriteProbeLine(fd_, image_path);
}

void WriteImageSize(std::string& out, const char* image_path, const TCellOptions& options) {
  AppendProbeLog(image_path);
  TImageRecord record;
  ProbeImageRecord(image_path, kRecordSize, &record);
  int32_t width = record.width;
  int32_t height = record.height;
  if (!record.size_known || width <= 0 || height <= 0) {
    // The browser scales to the cell's width and keeps the proportions.
    AppendAttribute(out, "width", options.cellwidth);
    return;
  }
  // Browsers show a JPEG upright by its EXIF orientation: a sideways one
  // gets the fit of its turned size.
  if (OrientationSwapsSides(record.orientation)) {
    const int32_t stored_width = width;
    width = height;
    height = stored_width;
  }
  TBltRect box{0, 0, options.cellwidth, options.cellheight};
  const TBltRect src{0, 0, width, height};
  FitRect(box, src, 1, 0, 1, width, height, 1);
  AppendAttribute(out, "width", box.right - box.left);
  AppendAttribute(out, "height", box.bottom - box.top);
}
