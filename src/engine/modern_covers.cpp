#include "engine/modern_covers.h"

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
