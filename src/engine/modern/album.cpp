#include "engine/modern/album.h"

#include "engine/run/image_order.h"
#include "engine/run/run_report.h"
#include "support/path_util.h"

void ReadFolderAlbum(TIndexRun& run, const char* folder, TAlbumText* album) {
  std::string warning;
  if (ReadAlbumText(folder, album, &warning) || warning.empty()) return;
  // The warning reads "PATH: REASON"; the report keeps them apart.
  char path[kPathBufferSize];
  if (!PathJoin(path, sizeof path, kMaxPath, folder, "index.md")) path[0] = '\0';
  const std::string prefix = std::string(path) + ": ";
  const std::string reason = warning.compare(0, prefix.size(), prefix) == 0 ? warning.substr(prefix.size()) : warning;
  run.report.AddWarning(TRunWarning::kAlbumText, path, 0, reason.c_str());
}

int32_t AlbumImageOrder(const TAlbumText& album, int32_t run_order) {
  int32_t order = run_order;
  if (!album.sort.empty() && !ParseImageOrder(album.sort.c_str(), &order)) order = run_order;
  return order;
}
