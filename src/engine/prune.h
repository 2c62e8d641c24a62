#pragma once
// Removal of the generated files of a folder that a run no longer produces.
// Only exact generated names (generated_names.h) of regular files are
// removed, never a link and never anything else a user made; thumbnails
// only where the folder's manifest shows that a run wrote them.

#include <cstdint>

#include "engine/thumb_manifest.h"

// Removes catalog pages vellumcast<N>.html with N >= `pages_kept` (all of
// them for 0) and, unless `back_link_kept`, imageback.html.
void PruneFolderPages(const char* folder, int32_t pages_kept, bool back_link_kept);

// Removes the thumbnails that `manifest` lists at numbers `kept` and above.
// With `kept` 0 the manifest goes too, and the thumbnail folder when that
// leaves it empty. A thumbnail folder that is a link is left alone.
void PruneThumbnails(const char* folder, int32_t kept, const TThumbManifest& manifest);

// PruneThumbnails with the manifest read from the folder.
void PruneAllThumbnails(const char* folder);

// Path of the thumbnail folder of `folder`, and whether it is a real folder
// (not a link); false when the path does not fit.
bool ThumbnailFolderPath(char* out, size_t capacity, const char* folder);

// The modern style's files of `folder` that belong to no image of it any
// more: viewer pages vellumcast-view-<16 hex>.html in the folder and the
// per-image files quarto_tn/vc-<16 hex>-1x.jpg, -2x.jpg, -web.jpg whose stem
// is not among those of `names` (the folder's current images). Exact
// lower-case names of regular files only.
void PruneModernFiles(const char* folder, const char* const* names, int32_t count);
