#pragma once
// The web copy's MP4 written through the one atomic write: the muxer writes
// and seeks in the temporary file through an AVIOContext over its descriptor,
// and the second pass of faststart (which reads the file again to move the
// index before the media data) reads that same temporary file through
// /proc/self/fd. Nothing reaches the final name before Commit.

#include "platform/atomic_file.h"

struct AVFormatContext;
struct AVIOContext;

class TWebVideoOutput {
 public:
  explicit TWebVideoOutput(const char* target) : target_(target) {}
  ~TWebVideoOutput();
  TWebVideoOutput(const TWebVideoOutput&) = delete;
  TWebVideoOutput& operator=(const TWebVideoOutput&) = delete;

  // Starts the temporary file beside the target. False with Error() set.
  bool Open();
  // Makes `output` write into the file (its pb, url and io_open/io_close2).
  void Attach(AVFormatContext* output);
  // Puts the finished file in place. False with Error() set; the temporary file is gone then.
  bool Commit();

  // The errno of the first failed write, seek or open; 0 when none failed.
  int Error() const { return error_ != 0 ? error_ : file_.Error(); }

 private:
  static int WritePacket(void* opaque, uint8_t* data, int size);
  static int64_t Seek(void* opaque, int64_t offset, int whence);
  static int OpenForReading(AVFormatContext* output, AVIOContext** pb, const char* url, int flags,
                            struct AVDictionary** options);
  static int CloseReading(AVFormatContext* output, AVIOContext* pb);

  const char* target_;
  TAtomicFile file_;
  int fd_ = -1;  // the temporary file, owned by file_
  AVIOContext* pb_ = nullptr;
  int error_ = 0;
};
