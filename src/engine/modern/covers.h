#pragma once
// The cover image and album title of each folder whose modern pages have
// been written, as its parent's card shows them: the cover is the image its
// index.md names, else the first image of the folder's subtree. The walk
// writes a folder's subfolders before the folder, so a parent finds the
// covers and titles of all its subfolders here and takes them out.

#include <cstdint>
#include <string>
#include <unordered_map>

struct TModernCover {
  std::string url;  // relative to the folder, '/' separated, not yet URL-encoded
  int32_t width = 0;
  int32_t height = 0;
};

class TModernCovers {
 public:
  void Record(const std::string& folder, TModernCover cover);
  // The cover of `folder`, removed from the book. False when it has none.
  bool Take(const std::string& folder, TModernCover* cover);

  // The album title of `folder` (not recorded when empty).
  void RecordTitle(const std::string& folder, std::string title);
  // The album title of `folder`, removed from the book; empty when it has none.
  std::string TakeTitle(const std::string& folder);

 private:
  std::unordered_map<std::string, TModernCover> covers_;
  std::unordered_map<std::string, std::string> titles_;
};
