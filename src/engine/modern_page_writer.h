#pragma once
// The modern catalog pages of one folder: HTML5 pages that fit any screen
// from a 320 px phone up, with a breadcrumb, subfolder cards with a cover
// and an image count, a grid of 1x/2x thumbnails and "Page k of n" with
// Previous and Next at top and bottom; a viewer page per image. The same
// folders get pages, under the same file names and with the same links
// between folders and pages, as in the classic style.

#include <cstdint>

#include "engine/folder_place.h"
#include "engine/modern_covers.h"
#include "engine/thread_vellumcast.h"
#include "support/strman.h"

// Writes every page, viewer page and the back-link page of a folder, whose
// first page is named `first`, reading the images from place.source and
// writing everything into place.output (the pages reach the originals
// through `place`), and records the folder's cover in `covers` (taking out
// those of its subfolders).
void WriteModernFolderPages(TThreadVellumcast& worker, TModernCovers& covers, int32_t depth,
                            const TFolderPlace& place, const char* first, TStringManager& subfolders,
                            TStringManager& images);
