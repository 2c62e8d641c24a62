#pragma once
// What a run could not do. Failures are outputs that could not be written
// (pages, back-link pages, thumbnails); warnings are inputs the run left out
// (folders it could not list or would not enter, paths too long, images it
// could not read). Each kind is counted without limit, and the first
// kKeptEntries of failures and of warnings are kept with their path and
// reason for the front ends. Written by the run's threads, readable from any
// thread at any time.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "support/path_util.h"

enum class TRunFailure : uint8_t {
  kPage,       // a catalog page
  kBackLink,   // a back-link page
  kThumbnail,  // a thumbnail file (the cell then shows the full image)
};

enum class TRunWarning : uint8_t {
  kUnlisted,     // a folder that could not be listed
  kNotEntered,   // a folder the run would not enter (a link out of the tree, a kernel file system)
  kTooLong,      // a path over the length limit, skipped
  kUnreadable,   // an image that could not be read for its thumbnail
  kUndisplayable,  // an image no browser shows, left out because thumbnails are off
  kAlbumText,      // a folder's index.md, or a line of it, that could not be used
  kPhotoText,      // a photo's metadata block or sidecar that could not be used
  kVideosOff,      // a folder whose videos were left out (--video=off), one per folder
};

struct TRunEntry {
  const char* action = "";   // "cannot write", "cannot list", "not entered", "skipped", "cannot read"
  char path[kPathBufferSize] = {};
  char reason[128] = {};
};

class TRunReport {
 public:
  static constexpr int kKeptEntries = 20;

  TRunReport() = default;
  TRunReport(const TRunReport&) = delete;
  TRunReport& operator=(const TRunReport&) = delete;

  // `reason` null: the text of `error` (an errno value; 0 gives "unknown error").
  void AddFailure(TRunFailure what, const char* path, int error, const char* reason = nullptr);
  void AddWarning(TRunWarning what, const char* path, int error, const char* reason = nullptr);

  int32_t Failures(TRunFailure what) const { return failures_[Index(what)].load(); }
  int32_t Warnings(TRunWarning what) const { return warnings_[Index(what)].load(); }
  // Outputs not written, of every kind.
  int32_t FailureCount() const;
  int32_t WarningCount() const;

  // The kept entries, in the order they happened: false past the last one.
  bool KeptFailure(int index, TRunEntry* out) const;
  bool KeptWarning(int index, TRunEntry* out) const;

 private:
  static constexpr int kFailureKinds = 3;
  static constexpr int kWarningKinds = static_cast<int>(TRunWarning::kVideosOff) + 1;
  template <class T>
  static size_t Index(T kind) { return static_cast<size_t>(kind); }
  static void Keep(TRunEntry* list, int* kept, const char* action, const char* path, int error,
                   const char* reason);

  std::atomic<int32_t> failures_[kFailureKinds] = {};
  std::atomic<int32_t> warnings_[kWarningKinds] = {};
  mutable std::mutex mutex_;
  TRunEntry kept_failures_[kKeptEntries];
  TRunEntry kept_warnings_[kKeptEntries];
  int failures_kept_ = 0;
  int warnings_kept_ = 0;
};

// The text of an errno value, never null; thread-safe.
const char* ErrorText(int error);
