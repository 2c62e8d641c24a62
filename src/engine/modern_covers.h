#pragma once
// The cover image of each folder whose modern pages have been written: the
// first image of the folder's subtree, as its parent's card shows it. The
// walk writes a folder's subfolders before the folder, so a parent finds
// the covers of all its subfolders here and takes them out.

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

 private:
  std::unordered_map<std::string, TModernCover> covers_;
};
