#pragma once
// The album texts of a folder in the modern style: its index.md (title,
// description, cover, order of its images) and the titles of the albums
// above it for the breadcrumb. The walk reads a folder's index.md as it
// enters the folder, so the titles of the folders above are known when a
// folder's pages are written.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/run/index_run.h"
#include "imagein/photo_text.h"

struct TModernAlbum {
  TAlbumText text;                           // the folder's index.md; text.present false: none
  std::vector<std::string> ancestor_titles;  // album titles of the folders above, nearest first; "" where none
};

// Reads the index.md of `folder`. A file that is there but cannot be used
// goes to the run's warnings, and the folder has no album texts.
void ReadFolderAlbum(TIndexRun& run, const char* folder, TAlbumText* album);

// The order of the album's images: its Sort: when given, else `run_order`.
int32_t AlbumImageOrder(const TAlbumText& album, int32_t run_order);
