#pragma once
// A generated text file (catalog page, back-link page): every "\n" written is
// stored as CR LF. The file is put in place by the atomic writer
// (platform/atomic_file.h): a temporary file "<name>.tmp<pid>-<n>" in the
// same folder, which the clean-up's name rules also remove, replaces the
// real name only when complete, so a page is never seen half written, and a
// link or folder of the same name is never written through or replaced.
// The text is collected in a buffer and written in large pieces: a page of
// ordinary size takes one write. When a file of that name already exists,
// the text is first compared with it as it comes, piece by piece; only at
// the first difference is the temporary file made (with the equal part
// copied from the existing file), so a page whose bytes would be the same
// is never rewritten and keeps its date.

#include <cstddef>
#include <string>

#include "platform/atomic_file.h"
#include "support/path_util.h"

class TPageFile {
 public:
  TPageFile() = default;
  ~TPageFile() = default;  // an uncommitted file is discarded
  TPageFile(const TPageFile&) = delete;
  TPageFile& operator=(const TPageFile&) = delete;

  // Starts the file that will become `path` (at most kMaxPath characters).
  // `compare` false: written afresh even when an equal file is there.
  bool Create(const char* path, bool compare = true);
  bool IsOpen() const { return file_.IsOpen(); }

  void Write(const char* data, size_t length);
  void Write(const char* text);
  void Write(const std::string& text) { Write(text.data(), text.size()); }

  // Closes the file and renames it into place, or leaves an existing file
  // with the same bytes as it is. False when anything failed: then no file
  // was changed and the temporary file is gone.
  bool Commit();
  // After a successful Commit: true when the existing file was left untouched.
  bool Unchanged() const { return file_.Unchanged(); }
  void Discard();
  // Why Create or Commit failed, as a constant text that outlives the file;
  // "" while nothing failed.
  const char* FailureReason() const;

 private:
  static constexpr size_t kBufferSize = 16384;

  void Put(const char* data, size_t length);
  void Flush();

  TAtomicFile file_;
  int error_ = 0;  // why Create failed before the file was started
  size_t buffered_ = 0;
  char buffer_[kBufferSize];
};
