#pragma once
// A generated text file (catalog page, back-link page): every "\n" written is
// stored as CR LF. The text goes to a temporary file in the same folder
// ("<name>.tmp<pid>-<n>", which the clean-up's name rules also remove) and
// replaces the real name only when complete, so a page is never seen half
// written and a link or folder of the same name is never written through.
// A symbolic link standing under the real name is never replaced: the
// file then fails.
// The text is collected in a buffer and written in large pieces: a page of
// ordinary size takes one write. When a file of that name already exists,
// the text is first compared with it as it comes, piece by piece; only at
// the first difference is the temporary file made (with the equal part
// copied from the existing file), so a page whose bytes would be the same
// is never rewritten and keeps its date.

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
  // `compare` false: written afresh even when an equal file is there.
  bool Create(const char* path, bool compare = true);
  bool IsOpen() const { return open_; }

  void Write(const char* data, size_t length);
  void Write(const char* text);
  void Write(const std::string& text) { Write(text.data(), text.size()); }

  // Closes the file and renames it into place, or leaves an existing file
  // with the same bytes as it is. False when anything failed: then no file
  // was changed and the temporary file is gone.
  bool Commit();
  // After a successful Commit: true when the existing file was left untouched.
  bool Unchanged() const { return unchanged_; }
  void Discard();
  // Why Create or Commit failed, as text; "" while nothing failed.
  const char* FailureReason() const;

 private:
  static constexpr size_t kBufferSize = 16384;

  void Put(const char* data, size_t length);
  void Flush();
  bool CreateTemp();
  // True when the next `length` bytes of the existing file equal `data`.
  bool ExistingContinuesWith(const char* data, size_t length);
  // The text differs from the existing file: starts the temporary file with
  // the part that was equal so far.
  void Diverge();
  void CloseExisting();

  int fd_ = -1;
  int existing_fd_ = -1;   // the file being replaced, while the text still equals it
  size_t matched_ = 0;     // bytes of the text found equal to the existing file
  bool open_ = false;
  bool unchanged_ = false;
  bool failed_ = false;
  int error_ = 0;            // errno of the first failure
  bool link_refused_ = false;
  size_t buffered_ = 0;
  char buffer_[kBufferSize];
  char final_path_[kPathBufferSize] = {};
  char temp_path_[kPathBufferSize + 32] = {};
};
