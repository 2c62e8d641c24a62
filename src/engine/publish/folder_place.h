#pragma once
// Where one folder's catalog is read from and written to. A run that writes
// into the photo tree has both the same; a run with an output folder reads
// the images from the tree and writes pages, thumbnails, manifests and any
// copied originals into the mirrored folder below the output folder, and the
// pages reach the originals by relative links.

#include <string>
#include <vector>

#include "engine/store/leftovers.h"

struct TFolderPlace {
  const char* source = "";   // the photo folder: images are read here
  const char* output = "";   // pages, thumbnails and manifests go here
  // '/'-separated, not URL-encoded, ending in '/' unless empty: the way from
  // the output folder to the source folder ("../../Pictures/trip/").
  std::string link_prefix;
  // Sorted names of originals placed beside the pages (copies or hard
  // links): these are reached by name alone.
  std::vector<std::string> local;
  // What the walk's own listing of the folder showed of places where a dead
  // run may have left temporary files; the writers look only there.
  TLeftoverHint leftovers;

  bool IsLocal(const char* name) const;
};

// A place that reads and writes `folder` itself.
TFolderPlace PlaceInTree(const char* folder);

// The '/'-separated way from the resolved folder `from` to the resolved
// folder `to`, ending in '/', or "" when they are the same folder.
std::string RelativeFolderLink(const char* from, const char* to);

// The raw (not URL-encoded) link to the original `name` from the page's folder.
std::string OriginalLink(const TFolderPlace& place, const char* name);
// The classic pages' href/src of the original `name`: each segment escaped as
// the page writer escapes names, ".." kept as it is.
void AppendOriginalUrl(std::string& out, const TFolderPlace& place, const char* name);
// The same for the modern pages.
void AppendModernOriginalUrl(std::string& out, const TFolderPlace& place, const char* name);
