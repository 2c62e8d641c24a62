#pragma once
// The record of the pages that runs wrote into a catalog folder: the file
// vellumcast-pages.list beside them. It names each page (catalog pages,
// back-link page, viewer pages, a first page under another name such as
// index.html) with the size and modification time the file had when the run
// left it. Pruning and the clean-up remove a page by the record only while
// the file there still has that size and time, so a file a user made or
// changed under such a name is never taken for a run's. No page links it.
//
// A page rendered from a view (the modern pages) is also recorded with the
// digest of its inputs (TModernTheme::PageDigest) and the whole stamp of the
// file the run left (size, modification time, change time, inode): while
// the file still has that stamp and the run would hand the theme inputs of
// that digest, the page is current without being rendered.
//
//   vellumcast-pages 2           ("vellumcast-pages 1" when no line is "d")
//   p <bytes> <mtime ns> <name>
//   d <bytes> <mtime ns> <ctime ns> <inode> <digest, 16 hex digits> <name>
//   end <record count>
//
// A record that does not read back whole counts as absent: nothing is
// removed by it and no page is taken for current.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/file_stamp.h"

// The stamp of the regular file `folder`/`name` (not through a link); false
// when there is none. The record keeps its size and time only.
bool ReadPageStamp(const char* folder, const char* name, TFileStamp* stamp);

// A name a run may write into a catalog folder as a page: no separator, no
// control byte, not "." or "..", at most 255 bytes.
bool IsRecordablePageName(const char* name);

class TPageRecord {
 public:
  struct TEntry {
    std::string name;
    TFileStamp stamp;
    bool digested = false;  // `digest` holds the page's input digest
    uint64_t digest = 0;
  };

  // Reads the record of `folder`. False, with the record empty, when there
  // is none or it is damaged.
  bool Read(const char* folder);
  bool Present() const { return present_; }
  const std::vector<TEntry>& Entries() const { return entries_; }

  // True when `name` is recorded and the file `folder`/`name` still has the
  // recorded stamp.
  bool Holds(const char* folder, const char* name) const;

  // True when `name` is recorded with `digest` and the file `folder`/`name`
  // still has the whole recorded stamp: the page is as a run left it from
  // inputs of that digest.
  bool Current(const char* folder, const char* name, uint64_t digest) const;

  // Adds or replaces the entry of `name` (with no digest).
  void Set(const std::string& name, const TFileStamp& stamp);
  // Adds or replaces the entry of its name.
  void Set(const TEntry& entry);

  // The text of the record.
  std::string Text() const;
  // Parses `text`; false (record empty) unless it is a whole record.
  bool Parse(const std::string& text);

  // Puts the record of `folder` in place unless it holds these bytes
  // already; with no entries, removes it. False when it could not be written.
  bool Write(const char* folder) const;

 private:
  const TEntry* Find(const char* name) const;

  std::vector<TEntry> entries_;
  std::unordered_map<std::string, size_t> index_;  // name -> entry
  bool present_ = false;
};

// Path of the record of `folder`; false when it does not fit.
bool PageRecordPath(char* out, size_t capacity, const char* folder);
