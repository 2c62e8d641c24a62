#pragma once
// The one way a page of any kind goes into a catalog folder. For every page
// it writes, TFolderOutput:
//   - writes afresh under --rebuild, else leaves a file with the same bytes
//     as it is (TPageFile compares before it replaces);
//   - reports a page it cannot write in the run report ("cannot write PATH:
//     REASON"; the run then ends with the not-written status);
//   - notes the page as written, for the folder's page record
//     (page_record.h), for pruning and for the links to it;
//   - for a page rendered from a view, keeps the digest of its inputs in
//     the record: a later run asks Current before it renders, and a page
//     the record vouches for is left as it is without being rendered.
// The record is put in place when the folder's output ends, however it
// ends. It is kept where a run needs it: in the modern style, with pruning,
// with a first page under another name, and wherever an earlier run left
// one; a default classic run into a folder without one adds no file.

#include <cstdint>
#include <string>
#include <unordered_set>

#include "engine/run/index_run.h"
#include "engine/store/page_file.h"
#include "engine/store/page_record.h"

enum class TPageKind : uint8_t {
  kCatalog,       // classic catalog page
  kRedirect,      // classic page forwarding to the only subfolder
  kBackLink,      // imageback.html
  kModernFolder,  // modern folder page
  kViewer,        // modern viewer page of one image
  kSearchIndex,   // modern catalog's search index (a script), in its top folder
};

class TFolderOutput {
 public:
  TFolderOutput(TIndexRun& run, const char* folder);
  ~TFolderOutput();  // Finish()
  TFolderOutput(const TFolderOutput&) = delete;
  TFolderOutput& operator=(const TFolderOutput&) = delete;

  const char* Folder() const { return folder_; }

  // A page written piece by piece: Open, Page().Write(...), Close. One at a
  // time. Open and Close are false, reported, when the page cannot be written.
  bool Open(TPageKind kind, const char* name);
  bool IsOpen() const { return file_.IsOpen(); }
  TPageFile& Page() { return file_; }
  // `digest`: the inputs the page was rendered from (Current), or none.
  bool Close(const uint64_t* digest = nullptr);
  // A page whose whole text is at hand.
  bool Write(TPageKind kind, const char* name, const std::string& text, const uint64_t* digest = nullptr);

  // True when the page `name` need not be rendered: not --rebuild, and the
  // record holds it as written from inputs of `digest` with the file in
  // place unchanged since. The page then counts as written by this run (an
  // open page of that name is discarded). False: render it and write it
  // with the digest.
  bool Current(const char* name, uint64_t digest);

  // True when this run put the page `name` in place.
  bool Wrote(const char* name) const;

  // After the folder is complete: removes the pages that earlier runs
  // recorded here and this run did not write, where the file is still the
  // one a run left.
  void PruneUnwritten();

  // Puts the record in place (once).
  void Finish();

 private:
  bool Start(TPageFile& file, TPageKind kind, const char* name, char* path, size_t capacity);
  bool Commit(TPageFile& file, TPageKind kind, const char* name, const char* path, const uint64_t* digest);
  void Report(TPageKind kind, const char* name, const char* path, const char* reason);

  TIndexRun& run_;
  const char* folder_;
  TPageRecord record_;           // as read, then with this run's pages
  bool keep_record_ = false;
  bool finished_ = false;
  std::unordered_set<std::string> written_;
  TPageFile file_;
  TPageKind open_kind_ = TPageKind::kCatalog;
  std::string open_name_;
  char open_path_[kPathBufferSize] = {};
};
