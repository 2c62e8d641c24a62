#pragma once
// A generated text file (catalog page, back-link page): every "\n" written is
// stored as CR LF. The text goes to a temporary file in the same folder
// ("<name>.tmp<pid>-<n>", which the clean-up's name rules also remove) and
// replaces the real name only when complete, so a page is never seen half
// written and a link or folder of the same name is never written through.
// A symbolic link standing under the real name is never replaced: the
// file then fails. The text is collected in a buffer and written in large pieces: a page of
// ordinary size takes one write.

#include <cstddef>
#include <string>

#include "support/path_util.h"

class TPageFile {
 public:
  TPageFile() = default;
  ~TPageFile();  // an uncommitted file is discarded
  TPageFile(const TPageFile&) = delete;
  TPageFile& operator=(const TPageFile&) = delete;

  // Starts the file that will become `path` (at most kMaxPath characters).
  bool Create(const char* path);
  bool IsOpen() const { return fd_ >= 0; }

  void Write(const char* data, size_t length);
  void Write(const char* text);
  void Write(const std::string& text) { Write(text.data(), text.size()); }

  // Closes the file and renames it into place. False when anything failed:
  // then no file was changed and the temporary file is gone.
  bool Commit();
  void Discard();
  // Why Create or Commit failed, as text; "" while nothing failed.
  const char* FailureReason() const;

 private:
  static constexpr size_t kBufferSize = 16384;

  void Put(const char* data, size_t length);
  void Flush();

  int fd_ = -1;
  bool failed_ = false;
  int error_ = 0;            // errno of the first failure
  bool link_refused_ = false;
  size_t buffered_ = 0;
  char buffer_[kBufferSize];
  char final_path_[kPathBufferSize] = {};
  char temp_path_[kPathBufferSize + 32] = {};
};
