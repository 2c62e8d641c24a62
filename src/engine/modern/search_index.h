#pragma once
// The search index of a modern catalog: every photo of the catalog with the
// words it can be found by (file name, title, caption, keywords, the album
// titles of its folders, the day it was taken) and the links to its viewer
// page and thumbnail, relative to the top page. The walk adds each folder's
// photos as it writes its pages; the top folder's pages write the index as
// a small script (kSearchIndexFile) that the top page loads with
// <script src>, so the search works from a local folder (file://) as well as
// from a web server. The data is JSON with '<', '>', '&', U+2028 and U+2029
// written as \uXXXX, so no text can end the script or break its string.

#include <string>
#include <string_view>
#include <vector>

struct TSearchEntry {
  std::string name;                   // the file name
  std::string page;                   // its viewer page, URL-encoded, relative to the top page
  std::string thumbnail;              // its thumbnail (or the original), the same way; empty: none
  std::string title;                  // the photo's title, or empty
  std::string caption;                // its caption, or empty
  std::vector<std::string> keywords;  // its keywords
  std::string album;                  // the album titles (or names) of its folders below the top, " / " between
  std::string date;                   // "YYYY-MM-DD", or empty
  std::string label;                  // what its cell shows under the thumbnail, or empty: the file name
};

class TSearchIndex {
 public:
  void Add(TSearchEntry entry) { entries_.push_back(std::move(entry)); }
  size_t Size() const { return entries_.size(); }
  // The script text: the entries in order of their viewer pages' paths, so
  // that an unchanged catalog gives the same bytes.
  std::string ScriptText() const;

 private:
  std::vector<TSearchEntry> entries_;
};

// `text` as a JSON string safe inside a <script> element (valid UTF-8;
// '"', '\', control characters, '<', '>', '&', U+2028 and U+2029 escaped).
void AppendScriptJsonString(std::string& out, std::string_view text);
