#include "engine/modern/covers.h"

#include <utility>

void TModernCovers::Record(const std::string& folder, TModernCover cover) {
  covers_[folder] = std::move(cover);
}

bool TModernCovers::Take(const std::string& folder, TModernCover* cover) {
  const auto found = covers_.find(folder);
  if (found == covers_.end()) return false;
  *cover = std::move(found->second);
  covers_.erase(found);
  return true;
}

void TModernCovers::RecordTitle(const std::string& folder, std::string title) {
  if (!title.empty()) titles_[folder] = std::move(title);
}

std::string TModernCovers::TakeTitle(const std::string& folder) {
  const auto found = titles_.find(folder);
  if (found == titles_.end()) return std::string();
  std::string title = std::move(found->second);
  titles_.erase(found);
  return title;
}
