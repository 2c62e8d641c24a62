#pragma once
// Folders held open while a run writes into them. A write into a folder goes
// through its descriptor (openat, renameat, unlinkat), never through its path
// again, so a folder swapped for a symbolic link while a run is in it cannot
// redirect the write.
//
// The walk pins each folder it writes into (TFolderPin): it opens the folder
// once, checks it is the folder the walk listed (device and inode), and
// registers it under its path. OpenParentFolder resolves a file's path
// through the deepest pinned folder above it and opens the remaining folders
// below that one by one without following a link, so the thumbnail folder
// of a pinned folder is never reached through a link either. A path below no
// pinned folder opens its folder by path, as a plain write would.

#include <sys/types.h>

#include <cstddef>

class TFolderHandle {
 public:
  TFolderHandle() = default;
  ~TFolderHandle() { Close(); }
  TFolderHandle(const TFolderHandle&) = delete;
  TFolderHandle& operator=(const TFolderHandle&) = delete;
  TFolderHandle(TFolderHandle&& other) noexcept;
  TFolderHandle& operator=(TFolderHandle&& other) noexcept;

  // Opens the folder `path` (empty: the current folder). Links on the way
  // are followed, as the walk follows the links it enters.
  bool Open(const char* path);
  // Opens the folder `name` of `parent`; a link of that name is refused (ELOOP).
  bool OpenAt(const TFolderHandle& parent, const char* name);
  // Open, then true only when the folder is the one of `device` and `inode`
  // (else the handle stays closed and Error() is ESTALE).
  bool OpenExpected(const char* path, dev_t device, ino_t inode);
  void Close();
  // Takes over the open folder descriptor `fd`.
  void Adopt(int fd);

  bool IsOpen() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }
  // The errno of the last failed open; 0 after a successful one.
  int Error() const { return error_; }
  bool Identity(dev_t* device, ino_t* inode) const;

 private:
  int fd_ = -1;
  int error_ = 0;
};

// Registers `path` as pinned to an open handle for the life of the pin.
// Pins may be nested and held by several threads; lookups are thread-safe.
class TFolderPin {
 public:
  // Pins `path` when it still is the folder of `device` and `inode`.
  TFolderPin(const char* path, dev_t device, ino_t inode);
  ~TFolderPin();
  TFolderPin(const TFolderPin&) = delete;
  TFolderPin& operator=(const TFolderPin&) = delete;

  // False when the folder was no longer there or no longer that folder:
  // nothing may be written into it. Error() tells why.
  bool Pinned() const { return pinned_; }
  int Error() const { return error_; }

 private:
  void* entry_ = nullptr;  // the registry's entry of this pin
  bool pinned_ = false;
  int error_ = 0;
};

// Opens the folder that holds the file `path` into `folder` and points
// `*leaf` at the file's name within `path`. With `make_missing`, folders
// below the deepest pinned folder that do not exist yet are made (mode 0777
// before umask). False with errno set when the folder cannot be reached (a
// link below a pinned folder gives ELOOP or ENOTDIR).
bool OpenParentFolder(const char* path, bool make_missing, TFolderHandle* folder, const char** leaf);

// Makes the folders that the file `path` is to go into, as OpenParentFolder
// with `make_missing`. False with errno set when they cannot be made.
bool MakeParentFolder(const char* path);

// Removes the file `path` (not a folder) through its folder: unlinkat.
// True when it is gone or was never there.
bool RemoveFileInFolder(const char* path);
