#pragma once
// The one way generated files are put in place. The bytes go to a new
// temporary file "<name>.tmp<pid>-<n>" in the same folder (opened through
// the folder's handle with O_CREAT | O_EXCL | O_NOFOLLOW), which replaces the
// final name by renameat only when complete: a file is never seen half
// written, and a failed write leaves neither a partial file under the final
// name nor the temporary file. Nothing is synced to the disk.
//
// A symbolic link or anything but a regular file under the final name is
// the user's: it is neither written through nor replaced, and the write
// fails (LinkRefused).
//
// Compare mode: while a regular file of that name exists, the bytes are
// compared with it as they come; only at the first difference is the
// temporary file made (with the equal part copied over), so a file that
// would hold the same bytes is never rewritten and keeps its date.
//
// The folder of a path is reached through OpenParentFolder (folder_handle.h):
// below a folder the walk pinned, never through a link.

#include <cstddef>
#include <cstdint>

#include "platform/folder_handle.h"

// Writes "<name>.tmp<pid>-<n>" into `out` (n counts up in the process).
// False when it does not fit.
bool MakeTemporaryName(char* out, size_t capacity, const char* name);
// The same with the number `n` given, for a caller that names the file again
// later; NextTemporaryNumber hands out the numbers.
unsigned NextTemporaryNumber();
bool MakeTemporaryName(char* out, size_t capacity, const char* name, unsigned n);

// Renames the finished file `temporary` of `folder` to `name` there, unless
// `name` is a link (false, `*link_refused`, ELOOP) or another non-regular
// file (false, EISDIR for a folder, else EEXIST). The temporary file is
// removed on failure; errno tells why.
bool RenameIntoPlace(const TFolderHandle& folder, const char* temporary, const char* name, bool* link_refused);

class TAtomicFile {
 public:
  TAtomicFile() = default;
  ~TAtomicFile();  // an uncommitted file is discarded
  TAtomicFile(const TAtomicFile&) = delete;
  TAtomicFile& operator=(const TAtomicFile&) = delete;

  // Starts the file that will become `name` in `folder` (the handle is
  // duplicated). `expected_size` >= 0 in compare mode: an existing file of
  // another size is not read at all.
  bool Create(const TFolderHandle& folder, const char* name, bool compare, int64_t expected_size = -1);
  // The same for the file at `path`.
  bool Create(const char* path, bool compare, int64_t expected_size = -1);
  bool IsOpen() const { return open_; }

  // Appends bytes; false once anything failed (the commit then fails too).
  bool Write(const void* data, size_t length);
  // The temporary file itself, for writers that stream into a descriptor;
  // -1 in compare mode until the bytes differ. Forces the temporary file.
  int Descriptor();

  // Puts the file in place, or leaves an equal file as it is. False when
  // anything failed: then no file was changed and the temporary file is gone.
  bool Commit();
  bool Unchanged() const { return unchanged_; }
  void Discard();

  // Why Create, Write or Commit failed: an errno value (0: none); with
  // LinkRefused, a symbolic link stands under the final name.
  int Error() const { return error_; }
  bool LinkRefused() const { return link_refused_; }

 private:
  bool CreateTemp();
  bool ExistingContinuesWith(const char* data, size_t length);
  void Diverge();
  void CloseExisting();
  void Fail(int error);

  TFolderHandle folder_;
  int fd_ = -1;
  int existing_fd_ = -1;  // the file being replaced, while the bytes still equal it
  uint64_t matched_ = 0;  // bytes found equal to the existing file
  bool open_ = false;
  bool unchanged_ = false;
  bool failed_ = false;
  bool link_refused_ = false;
  int error_ = 0;
  char name_[256] = {};
  char temp_name_[256 + 48] = {};
};

// Puts `size` bytes at `path` (or at `name` in `folder`) through a temporary
// file. True when the file is in place; else errno tells why (ELOOP for a
// link standing under the name).
bool WriteFileReplacing(const char* path, const uint8_t* data, size_t size);
bool WriteFileReplacing(const TFolderHandle& folder, const char* name, const uint8_t* data, size_t size);

// WriteFileReplacing, but a file that already holds exactly these bytes is
// left untouched (it keeps its date). True when the file holds them.
bool WriteFileIfChanged(const char* path, const uint8_t* data, size_t size);
bool WriteFileIfChanged(const TFolderHandle& folder, const char* name, const uint8_t* data, size_t size);

// True when `path` names a regular file (not a link) that holds exactly the
// `size` bytes at `data`: the size is compared first, then the content.
bool FileHoldsBytes(const char* path, const uint8_t* data, size_t size);
