#pragma once
// The modern catalog pages of one folder: HTML5 pages that fit any screen
// from a 320 px phone up, with a breadcrumb, subfolder cards with a cover
// and an image count, a grid of 1x/2x thumbnails and "Page k of n" with
// Previous and Next at top and bottom; a viewer page per image. The same
// folders get pages, under the same file names and with the same links
// between folders and pages, as in the classic style.

#include <cstdint>

#include "engine/publish/folder_place.h"
#include "engine/modern/album.h"
#include "engine/modern/covers.h"
#include "engine/modern/search_index.h"
#include "engine/modern/theme.h"
#include "engine/run/index_run.h"
#include "support/strman.h"

// Writes every page, viewer page and the back-link page of a folder, whose
// first page is named `first`, reading the images from place.source and
// writing everything into place.output (the pages reach the originals
// through `place`) from the templates of `theme` with the folder's album
// texts, and records the folder's cover and album title in `covers` (taking
// out those of its subfolders). Its photos go into `search`; the top folder
// (depth 0) writes the search index, which its first page loads.
void WriteModernFolderPages(TIndexRun& run, TModernTheme& theme, TModernCovers& covers, TSearchIndex& search,
                            const TModernAlbum& album, int32_t depth, const TFolderPlace& place, const char* first, TStringManager& subfolders,
                            TStringManager& images);
