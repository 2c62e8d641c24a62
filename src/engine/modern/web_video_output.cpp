#include "engine/modern/web_video_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

namespace {

constexpr int kBufferSize = 64 * 1024;

// lseek with FFmpeg's AVSEEK_SIZE (the file's size) on `fd`.
int64_t SeekDescriptor(int fd, int64_t offset, int whence) {
  if (whence & AVSEEK_SIZE) {
    struct stat info;
    return ::fstat(fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : AVERROR(errno);
  }
  const off_t at = ::lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
  return at < 0 ? AVERROR(errno) : static_cast<int64_t>(at);
}

// The second, reading view of the temporary file.
struct TReadView {
  int fd = -1;
};

int ReadPacket(void* opaque, uint8_t* data, int size) {
  const int fd = static_cast<TReadView*>(opaque)->fd;
  while (true) {
    const ssize_t got = ::read(fd, data, static_cast<size_t>(size));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return AVERROR(errno);
    return got == 0 ? AVERROR_EOF : static_cast<int>(got);
  }
}

int64_t SeekReadView(void* opaque, int64_t offset, int whence) {
  return SeekDescriptor(static_cast<TReadView*>(opaque)->fd, offset, whence);
}

AVIOContext* NewContext(void* opaque, bool writing, int (*read)(void*, uint8_t*, int),
                        int (*write)(void*, uint8_t*, int), int64_t (*seek)(void*, int64_t, int)) {
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
  if (!buffer) return nullptr;
  AVIOContext* pb = avio_alloc_context(buffer, kBufferSize, writing ? 1 : 0, opaque, read, write, seek);
  if (!pb) av_free(buffer);
  return pb;
}

void FreeContext(AVIOContext** pb) {
  if (!*pb) return;
  av_freep(&(*pb)->buffer);
  avio_context_free(pb);
}

}  // namespace

TWebVideoOutput::~TWebVideoOutput() { FreeContext(&pb_); }

bool TWebVideoOutput::Open() {
  if (!file_.Create(target_, false)) return false;
  fd_ = file_.Descriptor();
  pb_ = fd_ >= 0 ? NewContext(this, true, nullptr, WritePacket, Seek) : nullptr;
  if (!pb_) {
    if (Error() == 0) error_ = ENOMEM;
    file_.Discard();
    return false;
  }
  return true;
}

void TWebVideoOutput::Attach(AVFormatContext* output) {
  output->pb = pb_;
  output->opaque = this;
  output->io_open = OpenForReading;
  output->io_close2 = CloseReading;
  av_freep(&output->url);
  output->url = av_strdup("web-copy.mp4");
}

int TWebVideoOutput::WritePacket(void* opaque, uint8_t* data, int size) {
  auto* self = static_cast<TWebVideoOutput*>(opaque);
  if (self->error_ != 0) return AVERROR(self->error_);
  if (!self->file_.Write(data, static_cast<size_t>(size))) {
    self->error_ = self->file_.Error() != 0 ? self->file_.Error() : EIO;
    return AVERROR(self->error_);
  }
  return size;
}

int64_t TWebVideoOutput::Seek(void* opaque, int64_t offset, int whence) {
  auto* self = static_cast<TWebVideoOutput*>(opaque);
  const int64_t at = SeekDescriptor(self->fd_, offset, whence);
  if (at < 0 && self->error_ == 0) self->error_ = AVUNERROR(static_cast<int>(at));
  return at;
}

// The muxer reopens its output only to read it back (faststart); any other open is refused.
int TWebVideoOutput::OpenForReading(AVFormatContext* output, AVIOContext** pb, const char*, int flags,
                                    AVDictionary**) {
  auto* self = static_cast<TWebVideoOutput*>(output->opaque);
  *pb = nullptr;
  if (flags != AVIO_FLAG_READ || self->fd_ < 0) return AVERROR(EPERM);
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", self->fd_);
  auto* view = new (std::nothrow) TReadView;
  if (!view) return AVERROR(ENOMEM);
  view->fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (view->fd < 0) {
    const int error = errno;
    delete view;
    if (self->error_ == 0) self->error_ = error;
    return AVERROR(error);
  }
  *pb = NewContext(view, false, ReadPacket, nullptr, SeekReadView);
  if (!*pb) {
    ::close(view->fd);
    delete view;
    return AVERROR(ENOMEM);
  }
  return 0;
}

int TWebVideoOutput::CloseReading(AVFormatContext*, AVIOContext* pb) {
  if (!pb) return 0;
  auto* view = static_cast<TReadView*>(pb->opaque);
  FreeContext(&pb);
  if (view) {
    ::close(view->fd);
    delete view;
  }
  return 0;
}

bool TWebVideoOutput::Commit() {
  if (!pb_) return false;
  avio_flush(pb_);
  if (pb_->error < 0 && error_ == 0) error_ = AVUNERROR(pb_->error);
  if (error_ != 0) {
    file_.Discard();
    return false;
  }
  return file_.Commit();
}
